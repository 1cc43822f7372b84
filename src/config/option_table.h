// The options of the command line: the one list of every option the program
// knows, with what follows each and how its letter case is matched.
//
// The option parser takes each option's kind and case rule from here, and
// the check for tokens that are no option reads the same list, so the two
// cannot disagree. Everything here is constant; any thread may read it.
#pragma once

#include <string>       // unknown tokens, suggestions
#include <string_view>  // names
#include <vector>       // token lists

namespace postrix {

// What follows an option on the command line.
enum class OptionKind {
  kFlag,    // nothing
  kValue,   // the next token, whatever it looks like
  kQuoted,  // a value that may span tokens when it starts with a double quote
  kPair,    // the next two tokens
};

struct OptionEntry {
  std::string_view name;
  OptionKind kind;
  bool anyCase;  // matched whatever the letter case of the token
};

// Every option, in no particular order; the entry point's own (help,
// version) included.
const std::vector<OptionEntry>& optionTable();

// The option a token names under its case rule, or null.
const OptionEntry* findOption(std::string_view token);

// The option that must be in the table; a name missing from it is a
// programming error and fails with 5 (invalid call).
const OptionEntry& requireOption(std::string_view name);

// The tokens that start with "-" but are neither an option nor taken as the
// value of the option before them, in command-line order. A value or
// quoted option takes its value only when a token follows it, a pair
// option only when two do, as the parser reads them. A mistyped option
// takes the value of the option it most likely meant (closestOption).
std::vector<std::string> unknownOptions(const std::vector<std::string>& tokens);

// The option a mistyped token most likely meant ("--dryrun" gives
// "-dryrun", "-severr" gives "-server"), or "" when none is close.
std::string closestOption(std::string_view token);

}  // namespace postrix
