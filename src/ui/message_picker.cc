#include "ui/message_picker.h"

#include <curses.h>
#include <strings.h>  // strcasecmp
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "ui/form_widgets.h"  // the terminal, given back on every way out

namespace postrix {
namespace {

namespace fs = std::filesystem;

constexpr int kListTop = 3;  // below the title, the folder and the error line
constexpr int kEscape = 27;
constexpr const char* kHelp = "Up/Down move  Space mark  Enter open/confirm  q cancel";

enum class Kind { Parent, Folder, File };

struct Entry {
  std::string name;
  Kind kind;
  bool marked = false;
};

bool isMessageFile(const std::string& name) {
  constexpr std::string_view suffix = ".eml";
  return name.size() > suffix.size() &&
         strcasecmp(name.c_str() + name.size() - suffix.size(), suffix.data()) == 0;
}

// Operators think of "Z.eml" as coming after "a.eml"; the byte order only breaks ties.
bool byName(const Entry& a, const Entry& b) {
  int folded = strcasecmp(a.name.c_str(), b.name.c_str());
  return folded != 0 ? folded < 0 : a.name < b.name;
}

// Absolute and without "." or ".." parts or a trailing separator, so that
// going up is just parent_path() and the paths handed back read cleanly.
fs::path normalFolder(const fs::path& path) {
  std::error_code ec;
  fs::path folder = fs::absolute(path, ec).lexically_normal();
  if (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  return folder;
}

fs::path startingFolder(const std::string& start) {
  std::error_code ec;
  fs::path folder = normalFolder(start.empty() ? "." : start);
  if (fs::is_directory(folder, ec)) return folder;
  if (fs::is_directory(folder.parent_path(), ec)) return folder.parent_path();
  return normalFolder(".");
}

class Picker {
 public:
  explicit Picker(const fs::path& folder) { open(folder); }

  std::vector<std::string> run() {
    for (;;) {
      draw();
      int key = getch();
      switch (key) {
        case KEY_UP:
        case 'k':
          moveBy(-1);
          break;
        case KEY_DOWN:
        case 'j':
          moveBy(1);
          break;
        case KEY_PPAGE:
          moveBy(-listRows());
          break;
        case KEY_NPAGE:
          moveBy(listRows());
          break;
        case ' ':
          if (entries_[cursor_].kind == Kind::File)
            entries_[cursor_].marked = !entries_[cursor_].marked;
          break;
        case '\n':
        case '\r':
        case KEY_ENTER:
          if (auto choice = enter()) return *choice;
          break;
        case 'q':
        case 'Q':
        case kEscape:
          return {};
        case ERR:
          // A signal interrupts the wait; anything else means the terminal is gone.
          if (errno != EINTR) return {};
          break;
        default:  // KEY_RESIZE among them: the next draw() fits the new size
          break;
      }
    }
  }

 private:
  void open(const fs::path& folder) {
    folder_ = folder;
    entries_ = {{"..", Kind::Parent}};
    error_.clear();
    cursor_ = top_ = 0;
    std::vector<Entry> folders, files;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      std::error_code typeError;
      if (it->is_directory(typeError))
        folders.push_back({name, Kind::Folder});
      else if (isMessageFile(name))
        files.push_back({name, Kind::File});
    }
    // Whatever was listed before the failure is still worth offering, and ".." is the way out.
    if (ec) error_ = "Cannot read " + folder_.string() + ": " + ec.message();
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    entries_.insert(entries_.end(), folders.begin(), folders.end());
    entries_.insert(entries_.end(), files.begin(), files.end());
  }

  std::optional<std::vector<std::string>> enter() {
    const Entry& entry = entries_[cursor_];
    if (entry.kind != Kind::File) {
      open(entry.kind == Kind::Parent ? folder_.parent_path() : folder_ / entry.name);
      return std::nullopt;
    }
    std::vector<std::string> names;
    for (const Entry& e : entries_)
      if (e.marked) names.push_back(e.name);
    if (names.empty()) names.push_back(entry.name);
    if (names.size() == 1) return std::vector<std::string>{(folder_ / names[0]).string()};
    names.insert(names.begin(), folder_.string());
    return names;
  }

  int listRows() const { return std::max(1, LINES - kListTop - 1); }

  void moveBy(int by) {
    cursor_ = std::clamp(cursor_ + by, 0, static_cast<int>(entries_.size()) - 1);
  }

  static void put(int row, int attributes, const std::string& text) {
    attron(attributes);
    mvaddnstr(row, 0, text.c_str(), COLS);
    attroff(attributes);
  }

  void draw() {
    erase();
    put(0, A_BOLD, "Choose saved messages to send");
    put(1, A_NORMAL, folder_.string());
    put(2, A_BOLD, error_);
    int rows = listRows(), count = static_cast<int>(entries_.size());
    // No blank rows at the end while earlier entries are hidden, as after a resize.
    top_ = std::clamp(std::min(top_, std::max(0, count - rows)), cursor_ - rows + 1, cursor_);
    for (int row = 0; row < rows && top_ + row < count; ++row) {
      const Entry& entry = entries_[top_ + row];
      std::string label = entry.kind == Kind::File ? (entry.marked ? "[x] " : "[ ] ") + entry.name
                          : entry.kind == Kind::Folder ? "    " + entry.name + "/"
                                                       : "    " + entry.name;
      put(kListTop + row, top_ + row == cursor_ ? A_REVERSE : A_NORMAL, label);
    }
    put(LINES - 1, A_NORMAL, kHelp);
    refresh();
  }

  fs::path folder_;
  std::vector<Entry> entries_;
  std::string error_;
  int cursor_ = 0;
  int top_ = 0;  // the first entry on screen
};

}  // namespace

std::vector<std::string> pickMessageFiles(const std::string& startFolder, std::string& reason) {
  reason.clear();
  const char* term = std::getenv("TERM");
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || !term || !*term) {
    reason = "No saved message can be chosen without a terminal.";
    return {};
  }
  fs::path folder = startingFolder(startFolder);
  tui::Terminal terminal;
  if (!terminal) {
    reason = std::string("The terminal type \"") + term + "\" is unknown, so no saved message " +
             "can be chosen.";
    return {};
  }
  return Picker(folder).run();
}

}  // namespace postrix
