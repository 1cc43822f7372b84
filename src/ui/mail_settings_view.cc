#include "ui/mail_settings_view.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ui/form_widgets.h"
#include "ui/mail_settings_form.h"

namespace postrix {
namespace {

using tui::Input;
using tui::Key;
using tui::Look;

constexpr int kLabelCol = 2;
constexpr int kFieldCol = 19;  // past "Authentication:", the longest caption
constexpr int kFirstRow = 2;   // below the title and a blank line
constexpr int kPortWidth = 9;
constexpr int kChoiceWidth = 28;     // "6 - OAuth 2.0 (XOAUTH2)" and the arrow
constexpr int kProviderWidth = 18;   // "Microsoft 365" and the arrow
constexpr int kSecondCaption = 15;   // "Refresh Token:" and a blank
constexpr int kStartTlsOffset = 16;  // past "[x] Use SSL" and a gap
constexpr int kMinCols = 78;
constexpr int kStatusLines = 2;  // the longest help texts take two lines at 80 columns
constexpr const char* kKeysHint = "Tab: next  Esc: close";
// The smallest trace box: two lines of trace, which makes 17 rows the least
// a screen needs (two more with the OAuth 2.0 fields).
constexpr int kMinTraceHeight = 4;

std::string tooSmallText(int rows) {
  return "The terminal is too small for the mail settings form: it needs at least " +
         std::to_string(kMinCols) + "x" + std::to_string(rows) +
         " (80x24 or more is best). Esc closes the form.";
}

struct Spot {
  int row = -1, col = 0, width = 0;
};

// Where everything goes on a screen of a given size. The fields take the
// width; the trace box takes the rows the other controls leave.
struct Layout {
  bool fits = false;
  std::map<Control, Spot> caption, control;
  Spot trace;
  int traceHeight = 0;
  int statusRow = 0;
  int minRows = 0;  // what the controls shown need
  bool narrowButtons = false;
};

bool isTextField(Control c) {
  switch (c) {
    case Control::txtFrom:
    case Control::txtTo:
    case Control::txtMailServer:
    case Control::txtPort:
    case Control::txtUName:
    case Control::txtTenant:
    case Control::txtRefreshToken:
    case Control::txtClientId:
    case Control::txtPassw:
    case Control::txtQXURL:
      return true;
    default:
      return false;
  }
}

bool isMasked(Control c) { return c == Control::txtPassw || c == Control::txtRefreshToken; }

bool isChoice(Control c) { return c == Control::cboAuth || c == Control::cboProvider; }

bool isButton(Control c) {
  return c == Control::cmdSend || c == Control::cmdSave || c == Control::cmdShowCmds ||
         c == Control::cmdOffice;
}

void placeField(Layout& layout, Control c, int row, int col, int width) {
  layout.caption[c] = {row, kLabelCol, kFieldCol - kLabelCol - 1};
  layout.control[c] = {row, col, width};
}

void placeButtons(Layout& layout, int row, int cols) {
  std::vector<std::pair<Control, std::string>> buttons;
  for (const ControlInfo& info : mailSettingsControls())
    if (isButton(info.id)) buttons.emplace_back(info.id, info.caption);
  auto total = [&](bool narrow) {
    int sum = 0;
    for (const auto& button : buttons) sum += tui::buttonWidth(button.second, narrow);
    return sum;
  };
  int gaps = static_cast<int>(buttons.size()) - 1;
  layout.narrowButtons = total(false) + gaps > cols - 2;
  int width = total(layout.narrowButtons);
  int gap = std::clamp((cols - width) / (gaps + 2), 1, 4);
  int col = std::max(0, (cols - width - gaps * gap) / 2);
  for (const auto& [id, caption] : buttons) {
    int w = tui::buttonWidth(caption, layout.narrowButtons);
    layout.control[id] = {row, col, w};
    col += w + gap;
  }
}

// The OAuth 2.0 rows below the user name: the provider with its tenant or
// refresh token beside it, then the client id.
void placeOAuthFields(Layout& layout, const MailSettingsForm& form, int& row, int cols) {
  if (!form.visible(Control::cboProvider)) return;
  placeField(layout, Control::cboProvider, row, kFieldCol, kProviderWidth);
  int caption = kFieldCol + kProviderWidth + 2, field = caption + kSecondCaption;
  for (Control beside : {Control::txtTenant, Control::txtRefreshToken}) {
    layout.caption[beside] = {row, caption, kSecondCaption - 1};
    layout.control[beside] = {row, field, cols - 2 - field};
  }
  ++row;
  placeField(layout, Control::txtClientId, row++, kFieldCol, cols - 2 - kFieldCol);
}

Layout layoutFor(int rows, int cols, const MailSettingsForm& form) {
  Layout layout;
  int full = cols - 2 - kFieldCol, row = kFirstRow;
  placeField(layout, Control::txtFrom, row++, kFieldCol, full);
  placeField(layout, Control::txtTo, row++, kFieldCol, full);
  int portCol = cols - 2 - kPortWidth;
  placeField(layout, Control::txtMailServer, row, kFieldCol, portCol - 8 - kFieldCol);
  layout.caption[Control::txtPort] = {row, portCol - 6, 5};
  layout.control[Control::txtPort] = {row++, portCol, kPortWidth};
  placeField(layout, Control::cboAuth, row++, kFieldCol, kChoiceWidth);
  placeField(layout, Control::txtUName, row++, kFieldCol, full);
  placeOAuthFields(layout, form, row, cols);
  placeField(layout, Control::txtPassw, row++, kFieldCol, full);
  placeField(layout, Control::txtQXURL, row++, kFieldCol, full);
  layout.control[Control::chkSSL] = {row, kFieldCol};
  layout.control[Control::chkStartTLS] = {row++, kFieldCol + kStartTlsOffset};
  layout.statusRow = rows - kStatusLines;
  int buttonRow = layout.statusRow - 1;
  layout.trace = {row, 1, cols - 2};
  layout.traceHeight = buttonRow - row;
  layout.minRows = rows - layout.traceHeight + kMinTraceHeight;
  layout.fits = layout.traceHeight >= kMinTraceHeight && cols >= kMinCols;
  placeButtons(layout, buttonRow, cols);
  return layout;
}

class View {
 public:
  explicit View(MailSettingsForm& form) : form_(form) {
    if (!focusable(current())) moveFocus(1);
    enterFocus(current());
  }

  void run() {
    for (;;) {
      draw();
      Input input = tui::readInput();
      if (input.key == Key::Escape || input.key == Key::Close || input.key == Key::Gone) return;
      if (input.key == Key::Resize || !layout_.fits) continue;
      handle(input);
      takeFocusRequest();
      if (!focusable(current())) moveFocus(1);
    }
  }

  // Draws the whole form without showing it, as pop-ups want beneath them.
  void paint() {
    layout_ = layoutFor(tui::screenRows(), tui::screenCols(), form_);
    tui::clearScreen();
    cursorRow_ = cursorCol_ = -1;
    paintTitle();
    if (!layout_.fits) {
      auto lines = tui::wrapText(tooSmallText(layout_.minRows), tui::screenCols() - 2);
      for (std::size_t i = 0; i < lines.size(); ++i)
        tui::drawText(kFirstRow + static_cast<int>(i), 1, tui::screenCols() - 2, lines[i]);
      return;
    }
    for (const ControlInfo& info : mailSettingsControls())
      if (form_.visible(info.id)) paintControl(info);
    paintStatus();
  }

  void draw() {
    paint();
    tui::showFrame(cursorRow_, cursorCol_);
  }

  void popup(const tui::Popup& popup) {
    tui::showPopup(popup, [this] { paint(); });
  }

 private:
  Control current() const { return mailSettingsControls()[focus_].id; }
  bool focusable(Control c) const { return form_.visible(c) && form_.enabled(c); }

  Look lookOf(Control c) const {
    if (!form_.enabled(c)) return Look::Disabled;
    return c == current() ? Look::Focused : Look::Normal;
  }

  std::string& textOf(Control c) {
    switch (c) {
      case Control::txtFrom:
        return form_.txtFrom;
      case Control::txtTo:
        return form_.txtTo;
      case Control::txtMailServer:
        return form_.txtMailServer;
      case Control::txtPort:
        return form_.txtPort;
      case Control::txtUName:
        return form_.txtUName;
      case Control::txtPassw:
        return form_.txtPassw;
      case Control::txtTenant:
        return form_.txtTenant;
      case Control::txtRefreshToken:
        return form_.txtRefreshToken;
      case Control::txtClientId:
        return form_.txtClientId;
      default:
        return form_.txtQXURL;
    }
  }

  // ---- Drawing ----

  void paintTitle() {
    int cols = tui::screenCols(), title = tui::columnsOf(MailSettingsForm::kCaption);
    int hint = tui::columnsOf(kKeysHint);
    tui::drawText(0, 0, cols, "", Look::Bar, true);
    tui::drawText(0, std::max(0, (cols - title) / 2), title, MailSettingsForm::kCaption, Look::Bar);
    if (cols >= (cols + title) / 2 + hint + 3)
      tui::drawText(0, cols - hint - 1, hint, kKeysHint, Look::Bar);
  }

  void paintControl(const ControlInfo& info) {
    Control c = info.id;
    Look look = lookOf(c);
    const Spot& spot = layout_.control[c];
    if (auto caption = layout_.caption.find(c); caption != layout_.caption.end())
      tui::drawText(caption->second.row, caption->second.col, caption->second.width,
                    form_.captionOf(c), look == Look::Disabled ? Look::Disabled : Look::Normal);
    if (isTextField(c)) {
      tui::LineEdit& edit = edits_[c];
      int col =
          tui::drawTextField(spot.row, spot.col, spot.width, textOf(c), edit, isMasked(c), look);
      if (look == Look::Focused && !edit.selected) cursorRow_ = spot.row, cursorCol_ = col;
    } else if (isChoice(c)) {
      const auto& list = listOf(c);
      int position = positionOf(c);
      bool inList = position >= 0 && position < static_cast<int>(list.size());
      tui::drawChoice(spot.row, spot.col, spot.width, inList ? list[position] : "", look);
    } else if (c == Control::chkSSL || c == Control::chkStartTLS) {
      tui::drawCheckBox(spot.row, spot.col, info.caption,
                        c == Control::chkSSL ? form_.chkSSL : form_.chkStartTLS, look);
    } else if (c == Control::txtTrace) {
      paintTrace(info.caption, look);
    } else {
      tui::drawButton(spot.row, spot.col, info.caption, layout_.narrowButtons, look);
    }
  }

  void paintTrace(const std::string& caption, Look look) {
    const Spot& box = layout_.trace;
    int width = box.width - 4;
    traceVisible_ = std::max(1, layout_.traceHeight - 2);
    auto lines = tui::wrapText(form_.trace(), width);
    traceCount_ = static_cast<int>(lines.size());
    if (form_.trace().size() != traceSeen_) traceSeen_ = form_.trace().size(), followTrace_ = true;
    int last = std::max(0, traceCount_ - traceVisible_);
    traceTop_ = followTrace_ ? last : std::clamp(traceTop_, 0, last);
    std::string footer;
    if (traceCount_ > traceVisible_)
      footer = std::to_string(traceTop_ + 1) + "-" +
               std::to_string(std::min(traceCount_, traceTop_ + traceVisible_)) + " of " +
               std::to_string(traceCount_);
    tui::drawBox(box.row, box.col, layout_.traceHeight, box.width, caption, look, footer);
    for (int i = 0; i < traceVisible_ && traceTop_ + i < traceCount_; ++i)
      tui::drawText(box.row + 1 + i, box.col + 2, width, lines[traceTop_ + i]);
  }

  void paintStatus() {
    int cols = tui::screenCols();
    auto lines = tui::wrapText(form_.helpOf(current()), cols - 2);
    for (int i = 0; i < kStatusLines && i < static_cast<int>(lines.size()); ++i)
      tui::drawText(layout_.statusRow + i, 1, cols - 2, lines[i]);
  }

  // ---- Keys ----

  void handle(const Input& input) {
    if (input.key == Key::Tab || input.key == Key::BackTab) {
      moveFocus(input.key == Key::Tab ? 1 : -1);
      return;
    }
    Control c = current();
    if (!focusable(c)) return;
    if (isTextField(c))
      handleText(c, input);
    else if (isChoice(c))
      handleChoice(c, input);
    else if (c == Control::chkSSL || c == Control::chkStartTLS)
      handleCheckBox(c == Control::chkSSL ? form_.chkSSL : form_.chkStartTLS, input);
    else if (c == Control::txtTrace)
      handleTrace(input);
    else
      handleButton(c, input);
  }

  // Enter, Up and Down move between the fields, as in most terminal forms.
  bool moveKey(const Input& input) {
    if (input.key == Key::Enter || input.key == Key::Down) return moveFocus(1), true;
    if (input.key == Key::Up) return moveFocus(-1), true;
    return false;
  }

  void handleText(Control c, const Input& input) {
    if (!moveKey(input)) edits_[c].apply(textOf(c), input);
  }

  const std::vector<std::string>& listOf(Control c) const {
    return c == Control::cboAuth ? form_.authList() : MailSettingsForm::providerList();
  }
  int& positionOf(Control c) { return c == Control::cboAuth ? form_.cboAuth : form_.cboProvider; }

  void handleChoice(Control c, const Input& input) {
    int& chosen = positionOf(c);
    int position = chosen, count = static_cast<int>(listOf(c).size());
    if (input.key == Key::Left || input.key == Key::Up) position -= 1;
    if (input.key == Key::Right || input.key == Key::Down) position += 1;
    if (input.key == Key::Home) position = 0;
    if (input.key == Key::End) position = count - 1;
    // The methods are numbered; the providers are not.
    if (c == Control::cboAuth && input.key == Key::Char && input.ch >= '0' && input.ch <= '9')
      position = static_cast<int>(input.ch - '0');
    if (input.key == Key::Enter || input.is(' ')) {
      const Spot& spot = layout_.control[c];
      position =
          tui::chooseFromList(listOf(c), position, spot.row + 1, spot.col, [this] { paint(); });
      if (position < 0) return;
    }
    if (position < 0 || position >= count || position == chosen) return;
    if (c == Control::cboAuth)
      form_.chooseAuth(position);
    else
      chosen = position;
  }

  void handleCheckBox(bool& checked, const Input& input) {
    if (input.is(' '))
      checked = !checked;
    else
      moveKey(input);
  }

  void handleTrace(const Input& input) {
    int page = std::max(1, traceVisible_ - 1), by = 0;
    if (input.key == Key::Up) by = -1;
    if (input.key == Key::Down) by = 1;
    if (input.key == Key::PageUp) by = -page;
    if (input.key == Key::PageDown) by = page;
    if (input.key == Key::Home) by = -traceCount_;
    if (input.key == Key::End) by = traceCount_;
    if (input.key == Key::Enter) moveFocus(1);
    int last = std::max(0, traceCount_ - traceVisible_);
    traceTop_ = std::clamp(traceTop_ + by, 0, last);
    followTrace_ = traceTop_ == last;
  }

  void handleButton(Control c, const Input& input) {
    if (input.key == Key::Enter || input.is(' ')) return press(c);
    if (input.key == Key::Left || input.key == Key::Up) moveFocus(-1);
    if (input.key == Key::Right || input.key == Key::Down) moveFocus(1);
  }

  void press(Control c) {
    if (c == Control::cmdSend) form_.cmdSend();
    if (c == Control::cmdSave) form_.cmdSave();
    if (c == Control::cmdShowCmds) form_.cmdShowCmds();
    if (c == Control::cmdOffice) form_.cmdOffice();
  }

  // ---- Focus ----

  void moveFocus(int step) {
    const auto& controls = mailSettingsControls();
    int count = static_cast<int>(controls.size());
    for (int k = 1; k <= count; ++k) {
      int index = ((static_cast<int>(focus_) + step * k) % count + count) % count;
      if (!focusable(controls[index].id)) continue;
      focus_ = static_cast<std::size_t>(index);
      enterFocus(current());
      return;
    }
  }

  // A field is entered with the cursor after its text, as it reads on.
  void enterFocus(Control c) {
    if (isTextField(c)) edits_[c] = {textOf(c).size(), 0, false};
  }

  void takeFocusRequest() {
    if (!form_.focusRequest) return;
    const auto& controls = mailSettingsControls();
    for (std::size_t i = 0; i < controls.size(); ++i)
      if (controls[i].id == *form_.focusRequest) focus_ = i;
    if (isTextField(current())) edits_[current()].selectAll(textOf(current()));
    form_.focusRequest.reset();
  }

  MailSettingsForm& form_;
  Layout layout_;
  std::size_t focus_ = 0;  // in mailSettingsControls()
  std::map<Control, tui::LineEdit> edits_;
  int cursorRow_ = -1, cursorCol_ = -1;
  int traceTop_ = 0, traceVisible_ = 1, traceCount_ = 0;
  bool followTrace_ = true;  // a new line scrolls the trace to its end
  std::size_t traceSeen_ = std::string::npos;
};

// The form reaches the view through its callbacks while the view is up and
// never after: the caller's Form_Unload traces once the terminal is back.
class Hooks {
 public:
  Hooks(MailSettingsForm& form, View& view)
      : form_(form),
        doEvents_(form.doEvents),
        showMessage_(form.showMessage),
        showCommands_(form.showCommands) {
    form.doEvents = [&view] { view.draw(); };
    form.showMessage = [&view](const std::string& text) {
      view.popup({MailSettingsForm::kCaption, text, "", 64, false});
    };
    form.showCommands = [&view](const std::string& commands) {
      view.popup({MailSettingsForm::kCommandsCaption, commands, MailSettingsForm::kCommandsNote,
                  tui::screenCols(), true});
    };
  }
  ~Hooks() {
    form_.doEvents = doEvents_;
    form_.showMessage = showMessage_;
    form_.showCommands = showCommands_;
  }
  Hooks(const Hooks&) = delete;
  Hooks& operator=(const Hooks&) = delete;

 private:
  MailSettingsForm& form_;
  std::function<void()> doEvents_;
  std::function<void(const std::string&)> showMessage_, showCommands_;
};

}  // namespace

bool terminalAvailable(std::string& reason) {
  reason.clear();
  const char* term = std::getenv("TERM");
  if (!isatty(STDIN_FILENO))
    reason = "standard input is not a terminal";
  else if (!isatty(STDOUT_FILENO))
    reason = "standard output is not a terminal";
  else if (!term || !*term)
    reason = "TERM is not set";
  else if (std::string(term) == "dumb")
    reason = "TERM is \"dumb\", a terminal that cannot show a form";
  return reason.empty();
}

bool showMailSettingsForm(MailSettingsForm& form, std::string& reason) {
  if (!terminalAvailable(reason)) return false;
  tui::Terminal terminal;
  if (!terminal) {
    reason = std::string("the terminal type \"") + std::getenv("TERM") + "\" is unknown";
    return false;
  }
  View view(form);
  Hooks hooks(form, view);
  view.run();
  return true;
}

}  // namespace postrix
