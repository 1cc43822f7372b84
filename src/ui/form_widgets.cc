#include "ui/form_widgets.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <utility>

#include "util/utf8.h"

// Only this file sees curses, and with its wide-character calls: get_wch
// hands over a typed character whole, however many bytes UTF-8 gives it.
#define NCURSES_WIDECHAR 1
#include <curses.h>

namespace postrix::tui {
namespace {

constexpr wint_t kEscape = 27;
constexpr const char* kOk = "OK";

SCREEN* gScreen = nullptr;
attr_t gDisabled = A_DIM;  // a grey colour joins it where the terminal has one

attr_t attributesOf(Look look) {
  switch (look) {
    case Look::Focused:
      return A_REVERSE;
    case Look::Disabled:
      return gDisabled;
    case Look::Bold:
      return A_BOLD;
    case Look::Bar:
      return A_REVERSE | A_BOLD;
    case Look::Normal:
      break;
  }
  return A_NORMAL;
}

Glyph glyphAt(const std::string& text, std::size_t i) {
  char32_t cp = 0;
  std::size_t length = utf8At(text, i, cp);
  if (length == 0) return {i, 1, "?", 1};
  if (cp == '\t') return {i, 1, " ", 1};
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return {i, length, "?", 1};
  int width = wcwidth(static_cast<wchar_t>(cp));
  if (width < 0) return {i, length, "?", 1};
  return {i, length, text.substr(i, length), width};
}

int spanColumns(const std::vector<Glyph>& glyphs, std::size_t from, std::size_t to) {
  int columns = 0;
  for (std::size_t i = from; i < to; ++i) columns += glyphs[i].width;
  return columns;
}

// The index of the character starting at or after byte offset.
std::size_t glyphIndex(const std::vector<Glyph>& glyphs, std::size_t byte) {
  auto found = std::find_if(glyphs.begin(), glyphs.end(),
                            [&](const Glyph& glyph) { return glyph.byte >= byte; });
  return static_cast<std::size_t>(found - glyphs.begin());
}

std::size_t byteAt(const std::vector<Glyph>& glyphs, std::size_t index, std::size_t size) {
  return index < glyphs.size() ? glyphs[index].byte : size;
}

std::vector<std::string> paragraphsOf(const std::string& text) {
  std::vector<std::string> paragraphs(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      paragraphs.emplace_back();
    } else {
      paragraphs.back() += text[i];
    }
  }
  return paragraphs;
}

void wrapParagraph(const std::string& paragraph, int width, std::vector<std::string>& lines) {
  std::vector<Glyph> glyphs = glyphsOf(paragraph);
  std::size_t n = glyphs.size(), start = 0;
  auto line = [&](std::size_t from, std::size_t to) {
    std::size_t begin = byteAt(glyphs, from, paragraph.size());
    lines.push_back(paragraph.substr(begin, byteAt(glyphs, to, paragraph.size()) - begin));
  };
  if (n == 0) lines.emplace_back();
  while (start < n) {
    std::size_t end = start, blank = n;
    for (int used = 0; end < n && used + glyphs[end].width <= width; ++end) {
      if (glyphs[end].shown == " ") blank = end;
      used += glyphs[end].width;
    }
    if (end == n) {
      line(start, n);
      break;
    }
    if (glyphs[end].shown == " ") blank = end;
    if (blank > start && blank < n) {
      line(start, blank);
      start = blank + 1;
    } else {
      end = std::max(end, start + 1);  // a character wider than the line still gets one
      line(start, end);
      start = end;
    }
  }
}

void blankRect(int top, int left, int height, int width) {
  for (int row = top; row < top + height; ++row) drawText(row, left, width, "", Look::Normal, true);
}

// The text and note of a pop-up as the lines it shows.
std::vector<std::pair<std::string, Look>> popupLines(const Popup& popup, int width) {
  std::vector<std::pair<std::string, Look>> lines;
  std::vector<std::string> text = wrapText(popup.text, width);
  // Messages made of lines each ending in CR LF would end in an empty line.
  while (text.size() > 1 && text.back().empty()) text.pop_back();
  for (std::string& line : text)
    lines.emplace_back(std::move(line), popup.boldText ? Look::Bold : Look::Normal);
  if (!popup.note.empty()) {
    lines.emplace_back("", Look::Normal);
    for (std::string& line : wrapText(popup.note, width)) lines.emplace_back(line, Look::Normal);
  }
  return lines;
}

void drawPopup(const Popup& popup, int& top) {
  int wrap = std::max(10, std::min(popup.wrapWidth, screenCols() - 8));
  auto lines = popupLines(popup, wrap);
  int content = std::max({6, columnsOf(popup.caption) + 4, columnsOf(kOk) + 4});
  for (const auto& line : lines) content = std::max(content, columnsOf(line.first));
  int count = static_cast<int>(lines.size());
  int shown = std::clamp(screenRows() - 7, 1, std::max(1, count));
  top = std::clamp(top, 0, std::max(0, count - shown));
  int height = shown + 5, width = content + 4;
  int boxTop = std::max(0, (screenRows() - height) / 2);
  int boxLeft = std::max(0, (screenCols() - width) / 2);
  blankRect(boxTop, boxLeft, height, width);
  std::string footer = count > shown ? std::to_string(top + 1) + "-" + std::to_string(top + shown) +
                                           " of " + std::to_string(count)
                                     : "";
  drawBox(boxTop, boxLeft, height, width, popup.caption, Look::Bold, footer);
  for (int i = 0; i < shown && top + i < count; ++i)
    drawText(boxTop + 2 + i, boxLeft + 2, content, lines[top + i].first, lines[top + i].second);
  bool narrow = false;
  drawButton(boxTop + 3 + shown, boxLeft + (width - buttonWidth(kOk, narrow)) / 2, kOk, narrow,
             Look::Focused);
}

}  // namespace

std::vector<Glyph> glyphsOf(const std::string& text, bool masked) {
  std::vector<Glyph> glyphs;
  for (std::size_t i = 0; i < text.size(); i += glyphs.back().length) {
    glyphs.push_back(glyphAt(text, i));
    if (masked) glyphs.back().shown = "*", glyphs.back().width = 1;
  }
  return glyphs;
}

int columnsOf(const std::string& text) {
  std::vector<Glyph> glyphs = glyphsOf(text);
  return spanColumns(glyphs, 0, glyphs.size());
}

std::vector<std::string> wrapText(const std::string& text, int width) {
  std::vector<std::string> lines;
  for (const std::string& paragraph : paragraphsOf(text))
    wrapParagraph(paragraph, std::max(1, width), lines);
  return lines;
}

// ---- Keys ----

namespace {

std::optional<Input> keyCodeInput(wint_t code) {
  static const std::pair<wint_t, Key> keys[] = {
      {KEY_BTAB, Key::BackTab}, {KEY_ENTER, Key::Enter},    {KEY_F(10), Key::Close},
      {KEY_LEFT, Key::Left},    {KEY_RIGHT, Key::Right},    {KEY_UP, Key::Up},
      {KEY_DOWN, Key::Down},    {KEY_HOME, Key::Home},      {KEY_END, Key::End},
      {KEY_PPAGE, Key::PageUp}, {KEY_NPAGE, Key::PageDown}, {KEY_BACKSPACE, Key::Backspace},
      {KEY_DC, Key::Delete},    {KEY_RESIZE, Key::Resize},
  };
  for (const auto& [known, key] : keys)
    if (known == code) return Input{key};
  return std::nullopt;
}

std::optional<Input> characterInput(wint_t ch) {
  switch (ch) {
    case kEscape:
      return Input{Key::Escape};
    case '\t':
      return Input{Key::Tab};
    case '\n':
    case '\r':
      return Input{Key::Enter};
    case 8:
    case 127:
      return Input{Key::Backspace};
  }
  if (ch < 0x20 || ch > 0x10FFFF) return std::nullopt;
  return Input{Key::Char, static_cast<char32_t>(ch)};
}

}  // namespace

Input readInput() {
  for (;;) {
    wint_t ch = 0;
    errno = 0;
    int result = get_wch(&ch);
    if (result == ERR) {
      // A signal interrupts the wait; anything else means the terminal is gone.
      if (errno == EINTR) continue;
      return {Key::Gone};
    }
    std::optional<Input> input = result == KEY_CODE_YES ? keyCodeInput(ch) : characterInput(ch);
    if (input) return *input;
  }
}

// ---- One-line editing ----

bool LineEdit::apply(std::string& text, const Input& input) {
  std::vector<Glyph> glyphs = glyphsOf(text);
  std::size_t at = glyphIndex(glyphs, std::min(cursor, text.size())), n = glyphs.size();
  cursor = byteAt(glyphs, at, text.size());
  bool clear = selected &&
               (input.key == Key::Char || input.key == Key::Backspace || input.key == Key::Delete);
  if (clear) text.clear(), cursor = first = 0, at = n = 0;
  switch (input.key) {
    case Key::Char: {
      std::string bytes;
      appendUtf8(bytes, input.ch);
      text.insert(cursor, bytes);
      cursor += bytes.size();
      break;
    }
    case Key::Left:
      if (at > 0) cursor = glyphs[at - 1].byte;
      break;
    case Key::Right:
      if (at < n) cursor = glyphs[at].byte + glyphs[at].length;
      break;
    case Key::Home:
      cursor = 0;
      break;
    case Key::End:
      cursor = text.size();
      break;
    case Key::Backspace:
      if (!clear && at > 0) {
        cursor = glyphs[at - 1].byte;
        text.erase(cursor, glyphs[at - 1].length);
      }
      break;
    case Key::Delete:
      if (!clear && at < n) text.erase(cursor, glyphs[at].length);
      break;
    default:
      return false;
  }
  selected = false;
  return true;
}

void LineEdit::selectAll(const std::string& text) {
  cursor = text.size();
  first = 0;
  selected = true;
}

// ---- The screen ----

Terminal::Terminal() {
  std::fflush(stdout);  // what was printed before must not land inside the form
  if (const char* locale = std::setlocale(LC_CTYPE, nullptr)) savedLocale_ = locale;
  // The fields hold UTF-8: the wide curses library reads and shows it as
  // such once the terminal's character set is taken from the environment.
  std::setlocale(LC_CTYPE, "");
  gScreen = newterm(nullptr, stdout, stdin);
  if (!gScreen) {
    std::setlocale(LC_CTYPE, savedLocale_.c_str());
    return;
  }
  ok_ = true;
  cbreak();
  noecho();
  keypad(stdscr, TRUE);
  curs_set(0);
  set_escdelay(25);  // Esc alone closes; the default second feels like a hang
  gDisabled = A_DIM;
  if (has_colors() && start_color() == OK && use_default_colors() == OK && COLORS >= 16) {
    init_pair(1, 8, -1);  // grey, for terminals that show no dim text
    gDisabled |= COLOR_PAIR(1);
  }
}

Terminal::~Terminal() {
  if (!ok_) return;
  endwin();
  delscreen(gScreen);
  gScreen = nullptr;
  std::setlocale(LC_CTYPE, savedLocale_.c_str());
}

int screenRows() { return LINES; }
int screenCols() { return COLS; }
void clearScreen() { erase(); }

void showFrame(int row, int col) {
  if (row >= 0) {
    curs_set(1);
    move(row, col);
  } else {
    curs_set(0);
  }
  refresh();
}

void drawText(int row, int col, int width, const std::string& text, Look look, bool pad) {
  if (row < 0 || row >= LINES || col < 0 || col >= COLS) return;
  width = std::min(width, COLS - col);
  attr_t attributes = attributesOf(look);
  attron(attributes);
  move(row, col);
  int used = 0;
  for (const Glyph& glyph : glyphsOf(text)) {
    if (used + glyph.width > width) break;
    addnstr(glyph.shown.c_str(), static_cast<int>(glyph.shown.size()));
    used += glyph.width;
  }
  for (; pad && used < width; ++used) addch(' ');
  attroff(attributes);
}

void drawBox(int top, int left, int height, int width, const std::string& caption, Look captionLook,
             const std::string& footer) {
  if (height < 2 || width < 2) return;
  int bottom = top + height - 1, right = left + width - 1;
  mvhline(top, left + 1, ACS_HLINE, width - 2);
  mvhline(bottom, left + 1, ACS_HLINE, width - 2);
  mvvline(top + 1, left, ACS_VLINE, height - 2);
  mvvline(top + 1, right, ACS_VLINE, height - 2);
  mvaddch(top, left, ACS_ULCORNER);
  mvaddch(top, right, ACS_URCORNER);
  mvaddch(bottom, left, ACS_LLCORNER);
  mvaddch(bottom, right, ACS_LRCORNER);
  if (!caption.empty()) drawText(top, left + 2, width - 4, " " + caption + " ", captionLook);
  if (!footer.empty()) {
    int columns = columnsOf(footer) + 2;
    drawText(bottom, std::max(left + 1, right - 1 - columns), columns, " " + footer + " ");
  }
}

int drawTextField(int row, int col, int width, const std::string& text, LineEdit& edit, bool masked,
                  Look look) {
  int inner = width - 2;
  if (inner < 1) return col;
  std::vector<Glyph> glyphs = glyphsOf(text, masked);
  std::size_t n = glyphs.size();
  std::size_t at = glyphIndex(glyphs, std::min(edit.cursor, text.size()));
  std::size_t first = std::min(glyphIndex(glyphs, std::min(edit.first, text.size())), at);
  // The cursor stays in view, and no room stays empty while text is hidden on the left.
  while (first < at && spanColumns(glyphs, first, at) + 1 > inner) ++first;
  while (first > 0 && spanColumns(glyphs, first - 1, n) + (at == n ? 1 : 0) <= inner) --first;
  edit.cursor = byteAt(glyphs, at, text.size());
  edit.first = byteAt(glyphs, first, text.size());

  std::size_t last = first;
  for (int used = 0; last < n && used + glyphs[last].width <= inner; ++last)
    used += glyphs[last].width;
  std::string shown;
  for (std::size_t i = first; i < last; ++i) shown += glyphs[i].shown;
  Look frame = look == Look::Disabled ? Look::Disabled : Look::Normal;
  drawText(row, col, 1, first > 0 ? "<" : "[", frame);
  drawText(row, col + 1, inner, shown, look, true);
  if (look == Look::Focused && edit.selected)
    mvchgat(row, col + 1, inner, A_REVERSE | A_BOLD | A_UNDERLINE, 0, nullptr);
  drawText(row, col + 1 + inner, 1, last < n ? ">" : "]", frame);
  return col + 1 + spanColumns(glyphs, first, at);
}

void drawChoice(int row, int col, int width, const std::string& entry, Look look) {
  Look frame = look == Look::Disabled ? Look::Disabled : Look::Normal;
  drawText(row, col, 1, "[", frame);
  drawText(row, col + 1, width - 4, entry, look, true);
  drawText(row, col + width - 3, 2, " v", look);
  drawText(row, col + width - 1, 1, "]", frame);
}

void drawCheckBox(int row, int col, const std::string& label, bool checked, Look look) {
  std::string text = (checked ? "[x] " : "[ ] ") + label;
  drawText(row, col, columnsOf(text), text, look);
}

int buttonWidth(const std::string& label, bool narrow) {
  return columnsOf(label) + (narrow ? 2 : 4);
}

void drawButton(int row, int col, const std::string& label, bool narrow, Look look) {
  std::string text = narrow ? "<" + label + ">" : "< " + label + " >";
  drawText(row, col, columnsOf(text), text, look);
}

// ---- Modal pop-ups ----

void showPopup(const Popup& popup, const std::function<void()>& paintBelow) {
  for (int top = 0;;) {
    paintBelow();
    drawPopup(popup, top);
    showFrame();
    Input input = readInput();
    switch (input.key) {
      case Key::Enter:
      case Key::Escape:
      case Key::Close:
      case Key::Gone:
        return;
      case Key::Up:
        --top;
        break;
      case Key::Down:
        ++top;
        break;
      case Key::PageUp:
        top -= screenRows() / 2;
        break;
      case Key::PageDown:
        top += screenRows() / 2;
        break;
      default:
        if (input.is(' ')) return;
        break;
    }
  }
}

int chooseFromList(const std::vector<std::string>& entries, int current, int row, int col,
                   const std::function<void()>& paintBelow) {
  int count = static_cast<int>(entries.size());
  if (count == 0) return -1;
  int width = 0;
  for (const std::string& entry : entries) width = std::max(width, columnsOf(entry) + 4);
  for (current = std::clamp(current, 0, count - 1);;) {
    paintBelow();
    int top = std::max(0, std::min(row, screenRows() - count - 2));
    int left = std::max(0, std::min(col, screenCols() - width));
    blankRect(top, left, count + 2, width);
    drawBox(top, left, count + 2, width, "");
    for (int i = 0; i < count; ++i)
      drawText(top + 1 + i, left + 1, width - 2, " " + entries[i],
               i == current ? Look::Focused : Look::Normal, true);
    showFrame();
    Input input = readInput();
    if (input.key == Key::Up) current = std::max(0, current - 1);
    if (input.key == Key::Down) current = std::min(count - 1, current + 1);
    if (input.key == Key::Home) current = 0;
    if (input.key == Key::End) current = count - 1;
    if (input.key == Key::Enter || input.is(' ')) return current;
    if (input.key == Key::Escape || input.key == Key::Close || input.key == Key::Gone) return -1;
  }
}

}  // namespace postrix::tui
