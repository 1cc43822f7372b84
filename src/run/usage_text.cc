// The usage text of --help, made from the option help.
#include <sstream>

#include "run/option_help.h"
#include "util/text.h"

namespace postrix {
namespace {

constexpr size_t kWidth = 80, kMeaningColumn = 33, kStatusColumn = 6;

// The text, from `indent` on, in lines that end before kWidth; the lines
// after the first start at `indent` too.
void writeWrapped(std::ostringstream& out, size_t indent, std::string_view text) {
  size_t column = indent;
  for (const auto& word : split(text, " ")) {
    if (column + 1 + word.size() > kWidth && column > indent) {
      out << "\n" << std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      out << ' ';
      ++column;
    }
    out << word;
    column += word.size();
  }
  out << "\n";
}

void writeOption(std::ostringstream& out, const OptionHelp& option) {
  std::string head = "  " + std::string(option.names);
  if (!option.argument.empty()) head += " " + std::string(option.argument);
  out << head;
  size_t column = head.size();
  if (column + 2 > kMeaningColumn) {
    out << "\n";
    column = 0;
  }
  out << std::string(kMeaningColumn - column, ' ');
  writeWrapped(out, kMeaningColumn, option.meaning);
}

}  // namespace

std::string usageText() {
  std::ostringstream out;
  out << R"(Usage: postrix [options]

Postrix mails the due favourite reports and dashboards of a Quarvex
installation. Every run is written to postrix.log in the program's folder;
its errors and warnings also go to standard error and the system log.
Option names are case-sensitive; values follow their option. Put values
with blanks in double quotes. A word starting with "-" that is no option
(and no option's value) stops the run before anything is read or sent.
"man postrix" tells more.
)";
  for (const auto& group : optionHelp()) {
    out << "\n";
    if (!group.title.empty()) out << group.title << "\n";
    for (const auto& option : group.options) writeOption(out, option);
  }
  out << "\nExit status:\n";
  for (const auto& status : exitStatusHelp()) {
    std::string head = "  " + std::to_string(status.status);
    out << head << std::string(kStatusColumn - head.size(), ' ');
    writeWrapped(out, kStatusColumn, status.meaning);
  }
  return out.str();
}

}  // namespace postrix
