// The pieces terminal forms are made of: UTF-8 text measured in screen
// columns, word wrapping, a one-line editor, the curses screen itself, key
// input, and the drawing of fields, check boxes, buttons, boxes and modal
// pop-ups. Nothing here knows a particular form; nothing outside form_widgets.cc
// needs the curses header, whose macros do not mix with other code.
#pragma once

#include <cstddef>     // byte offsets
#include <functional>  // what a pop-up draws beneath itself
#include <string>      // texts
#include <vector>      // glyphs, lines, list entries

namespace postrix::tui {

// ---- Text as the screen shows it ----

// One character of a text: where its bytes are and what is drawn for it.
struct Glyph {
  std::size_t byte;    // offset of its first byte in the text
  std::size_t length;  // its bytes
  std::string shown;   // the character, or "?" for a control character or broken byte
  int width;           // screen columns
};

// The characters of a UTF-8 text; masked shows every one as "*".
std::vector<Glyph> glyphsOf(const std::string& text, bool masked = false);
int columnsOf(const std::string& text);
// The text in lines of at most width columns, broken at blanks where it can,
// and where the text breaks lines itself (CR LF, LF or CR).
std::vector<std::string> wrapText(const std::string& text, int width);

// ---- Keys ----

enum class Key {
  Char,  // a character, in Input::ch (Space among them)
  Tab,
  BackTab,
  Enter,
  Escape,
  Close,  // F10
  Left,
  Right,
  Up,
  Down,
  Home,
  End,
  PageUp,
  PageDown,
  Backspace,
  Delete,
  Resize,
  Gone,  // the terminal gives no more input
};

struct Input {
  Key key;
  char32_t ch = 0;
  bool is(char32_t c) const { return key == Key::Char && ch == c; }
};

// Waits for the next key the forms understand; others are skipped.
Input readInput();

// ---- One-line editing ----

// Where the cursor of a one-line field stands and which part of a long text
// is shown, as byte offsets that always fall between whole characters.
struct LineEdit {
  std::size_t cursor = 0;
  std::size_t first = 0;  // the first character shown
  bool selected = false;  // all selected: the next character replaces the text
  // Applies an editing key to text; false for a key that is not one.
  bool apply(std::string& text, const Input& input);
  void selectAll(const std::string& text);
};

// ---- The screen ----

// The terminal in curses mode for as long as this lives; the terminal is
// given back on every way out, exceptions included.
class Terminal {
 public:
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  explicit operator bool() const { return ok_; }

 private:
  bool ok_ = false;
  std::string savedLocale_;
};

int screenRows();
int screenCols();
void clearScreen();
// Puts what was drawn on the terminal, the cursor at (row, col) or hidden when row < 0.
void showFrame(int row = -1, int col = -1);

enum class Look { Normal, Focused, Disabled, Bold, Bar };

// Text clipped to width columns; pad fills the rest of the width with blanks.
void drawText(int row, int col, int width, const std::string& text, Look look = Look::Normal,
              bool pad = false);
// A frame with caption on its top edge (highlighted when focused) and footer on its bottom edge.
void drawBox(int top, int left, int height, int width, const std::string& caption,
             Look captionLook = Look::Normal, const std::string& footer = "");
// "[text]" width columns wide, scrolled so the cursor shows; returns the cursor's column.
int drawTextField(int row, int col, int width, const std::string& text, LineEdit& edit, bool masked,
                  Look look);
// "[entry    v]": a drop-down list showing its selected entry.
void drawChoice(int row, int col, int width, const std::string& entry, Look look);
void drawCheckBox(int row, int col, const std::string& label, bool checked, Look look);
// "< label >", or "<label>" when narrow; returns the columns it takes.
int buttonWidth(const std::string& label, bool narrow);
void drawButton(int row, int col, const std::string& label, bool narrow, Look look);

// ---- Modal pop-ups ----

// A centred box with a text, an optional note below it and an OK button,
// until Enter, Space or Esc. paintBelow redraws what the box covers (after
// a resize too). The text is wrapped to at most wrapWidth columns (less on
// a narrow screen); boldText sets it apart from the note, as a read-only
// text box would be. A text taller than the screen scrolls with Up/Down.
struct Popup {
  std::string caption;
  std::string text;
  std::string note;
  int wrapWidth = 64;
  bool boldText = false;
};
void showPopup(const Popup& popup, const std::function<void()>& paintBelow);

// A list of entries opened below (row, col); the chosen position, or -1 when cancelled.
int chooseFromList(const std::vector<std::string>& entries, int current, int row, int col,
                   const std::function<void()>& paintBelow);

}  // namespace postrix::tui
