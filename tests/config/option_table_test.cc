// The option table: what counts as an option, what is a value, and that the help text and the
// README list the same options.
#include "config/option_table.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config/option_parser.h"
#include "run/command_line.h"
#include "support/temp_database.h"

namespace postrix::test {
namespace {

TEST(OptionTableTest, OnlyTokensThatAreNeitherOptionsNorValuesAreUnknown) {
  struct Case {
    const char* line;
    std::vector<std::string> unknown;
  } cases[] = {
      {"-dsn relativemdb --dryrun -Server x", {"--dryrun", "-Server"}},
      {"-pass -secret- -port -5 -wkarg -a -b -SSL", {"-SSL"}},
      {"-suppress \"-x  -y\" -id \"1, -2\" -ENABLEMULTITIME", {}},
      {"-wkarg -a", {"-a"}},                              // a pair needs two tokens
      {"-Pass -x- --wkarg -a -b", {"-Pass", "--wkarg"}},  // the values of what was meant
      {"5 - -- -1", {"-", "--", "-1"}}                    // a lone number is no value
  };
  for (const auto& c : cases)
    EXPECT_EQ(unknownOptions(splitCommandLine(c.line)), c.unknown) << c.line;
}

// Whether the text names the option as a word of its own, after one of `before`.
bool names(const std::string& text, const std::string& option, const std::string& before) {
  for (size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
    char next = at + option.size() < text.size() ? text[at + option.size()] : '\n';
    if (at > 0 && before.find(text[at - 1]) != std::string::npos &&
        std::string(" ,`\n").find(next) != std::string::npos)
      return true;
  }
  return false;
}

// The help text is rendered from the option help, whose match with the
// table the option help test checks; the README is written by hand.
TEST(OptionTableTest, TheReadmeListsEveryOption) {
  std::string readme = readFile(POSTRIX_SOURCE_DIR "/README.md");
  for (const auto& entry : optionTable())
    EXPECT_TRUE(names(readme, std::string(entry.name), "`")) << entry.name;
}

}  // namespace
}  // namespace postrix::test
