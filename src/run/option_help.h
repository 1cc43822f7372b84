// What every option means, grouped by purpose: the one text both the usage
// text (--help) and the manual page are made from, so they cannot tell two
// stories. Every option of the option table has exactly one entry here.
#pragma once

#include <string>       // rendered texts
#include <string_view>  // the entries
#include <vector>       // groups

namespace postrix {

struct OptionHelp {
  std::string_view names;     // "-dsn", or several spellings: "-h, -help, --help"
  std::string_view argument;  // what follows it, "" for a flag
  std::string_view meaning;   // one sentence, no line breaks
};

struct OptionGroup {
  std::string_view title;
  std::vector<OptionHelp> options;
};

const std::vector<OptionGroup>& optionHelp();

// The option names an entry's names field lists ("-h, -help, --help" gives three).
std::vector<std::string> namesOf(const OptionHelp& entry);

struct ExitStatusHelp {
  int status;
  std::string_view meaning;
};

// Every exit status the program ends with, in order.
const std::vector<ExitStatusHelp>& exitStatusHelp();

// The usage text: every option, grouped, wrapped to 80 columns.
std::string usageText();
// The manual page, in roff (man(7) macros).
std::string manPage();

}  // namespace postrix
