#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "run/module_state.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

class RunLogTest : public RunFixture {};

// A report title or a server reply must not be able to write entries of its own.
TEST_F(RunLogTest, ControlCharactersInTextsFromOutsideAreEscaped) {
  parse("");
  std::string forged = "Sales]\r\n12/5/2026 5:06:37 PM [Finished.";
  utilities->Debugger("Will send report " + forged);
  using namespace std::string_literals;
  utilities->Debugger("nul\0, tab\t, esc\x1b, \xc3\xa9 kept"s);
  utilities->Debugger("Report Body: \r\n", "<p>a\nb</p>");
  std::vector<std::string> lines;
  std::istringstream text(logText());
  for (std::string line; std::getline(text, line, '\n');) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u) << logText();  // the header's three, then one line each
  EXPECT_EQ(lines[3],
            "12/5/2026 5:06:37 PM [Will send report Sales]\\r\\n12/5/2026 5:06:37 PM "
            "[Finished.]\r");
  EXPECT_EQ(lines[4], "12/5/2026 5:06:37 PM [nul\\0, tab\\x09, esc\\x1B, \xc3\xa9 kept]\r");
  // The designed break stays; the value after it is escaped.
  EXPECT_EQ(lines[5], "12/5/2026 5:06:37 PM [Report Body: \r");
  EXPECT_EQ(lines[6], "<p>a\\nb</p>]\r");
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(programFolder() + "/postrix.log").permissions() & fs::perms::others_all,
            fs::perms::none)
      << "the log is not for every account";
}

// The account may not write the program folder: entries are lost, the run
// goes on, and the access problem is remembered for the send pipeline.
TEST_F(RunLogTest, AnUnwritableFolderSetsFileAccessError) {
  parse("");
  std::filesystem::remove(programFolder() + "/postrix.log");
  ::chmod(programFolder().c_str(), 0555);
  EXPECT_EXIT(
      {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::exit(4);
        utilities->Debugger("cannot be written");
        std::exit(fileAccessError ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  ::chmod(programFolder().c_str(), 0755);
  EXPECT_FALSE(std::filesystem::exists(programFolder() + "/postrix.log"));
}

}  // namespace
}  // namespace postrix::test
