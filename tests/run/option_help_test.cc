// The option help, --help and the manual page tell one story: every option
// of the option table, and the exit statuses the program ends with.
#include "run/option_help.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "config/option_table.h"
#include "support/shell_output.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

TEST(OptionHelpTest, EveryOptionOfTheTableHasExactlyOneEntry) {
  std::multiset<std::string> described;
  for (const auto& group : optionHelp())
    for (const auto& option : group.options)
      for (const auto& name : namesOf(option)) described.insert(name);
  for (const auto& entry : optionTable())
    EXPECT_EQ(described.count(std::string(entry.name)), 1u) << entry.name;
  for (const auto& name : described) EXPECT_NE(findOption(name), nullptr) << name;
}

// Rendered as a reader sees it, in lines long enough not to break names.
std::string renderedManPage() {
  return outputOf("MANWIDTH=200 man -l " MANPAGE_FILE " 2>&1 | col -b");
}

TEST(OptionHelpTest, TheManualPageNamesEveryOptionThatHelpShows) {
  std::string help = outputOf(std::string(POSTRIX_BINARY) + " --help");
  std::string page = renderedManPage();
  std::regex option(R"((^|[ ,])(--?[a-z]+))");
  size_t seen = 0;
  for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
    std::string name = (*it)[2];
    if (!findOption(name)) continue;  // "-failstatus" in a meaning is named, not listed
    ++seen;
    EXPECT_TRUE(std::regex_search(page, std::regex("(^|[ ,])" + name + "([ ,\n]|$)"))) << name;
  }
  EXPECT_GE(seen, optionTable().size());
  EXPECT_EQ(page.find("warning:"), std::string::npos) << "roff complained";
}

TEST(OptionHelpTest, TheExitStatusesOfTheManualPageAndHelpAreTheProgramsOwn) {
  const std::map<int, const char*> code = {
      {exit_status::kOk, "kOk"},
      {exit_status::kNoSystemDatabase, "kNoSystemDatabase"},
      {exit_status::kRejectedCommandLine, "kRejectedCommandLine"},
      {exit_status::kLockNotHad, "kLockNotHad"},
      {exit_status::kNoTerminal, "kNoTerminal"},
      {exit_status::kCannotStart, "kCannotStart"},
      {exit_status::kSomeFailed, "kSomeFailed"},
      {exit_status::kMailServerUnusable, "kMailServerUnusable"},
  };
  std::string page = renderedManPage();
  std::string section = page.substr(page.find("EXIT STATUS"));
  section = section.substr(0, section.find("\nAUTHENTICATION"));
  std::string help = outputOf(std::string(POSTRIX_BINARY) + " --help");
  std::map<int, std::string> listed;
  std::regex line(R"(\n\s+(\d+)\s*\n?\s+(\S[^\n]*))");
  for (std::sregex_iterator it(section.begin(), section.end(), line), end; it != end; ++it)
    listed[std::stoi((*it)[1])] = (*it)[2];
  ASSERT_EQ(listed.size(), code.size()) << section;
  for (const auto& status : exitStatusHelp()) {
    EXPECT_EQ(code.count(status.status), 1u) << status.status;
    std::string start(status.meaning.substr(0, 30));
    EXPECT_EQ(listed[status.status].substr(0, start.size()), start) << section;
    EXPECT_NE(help.find("  " + std::to_string(status.status) + "   " + start), std::string::npos)
        << help;
  }
}

}  // namespace
}  // namespace postrix::test
