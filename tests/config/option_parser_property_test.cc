// Random command lines go on, stop or end the program, and keep the -pass value out of the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "config/option_parser.h"
#include "config/settings.h"
#include "run/module_state.h"
#include "support/run_fixture.h"
#include "util/text.h"

namespace postrix::test {
namespace {

// Every option with its own handling, and a few of the plain flags and values.
const std::vector<std::string> kOptions = splitCommandLine(
    "-nolog -dsn -enablemultitime -convertschedules -multitime -configure -cdo -smtptimeout "
    "-server -port -user -url -fromname -pass -auth -debug -alerts -suppress -emailnow "
    "-includedate -includetime -sleep -id -excludeid -dashboardid -reportid -mappingid -interval "
    "-fileformat -format -location -filename -reportname -archive -date -wkhtmltopdfauth "
    "-attachfile -connectionstring -reporttimeout -wkarg -delta -generatepdf");
// No value made only of X: a password "X" is masked into "XXXXXX" by design.
const std::vector<std::string> kValues = {
    "\"",  "\"a",         "b\"",    "\"\"",      "\"a b\"",  "",      " ",     "\t",
    "0",   "2.5",         "47",     "48",        "-1",       "65536", "32768", "1e3",
    "5:9", "12,",         "08:15",  "12/5/2026", "abc",      "5a",    "'q'",   "\xc3\xa9",
    "csv", "relativemdb", "s3cr3t", "--",        "http://h", ";",     "\\"};
const char* const kSeparators[] = {" ", "  ", "\t", " \t "};

using OptionParserPropertyTest = RunFixture;

TEST_F(OptionParserPropertyTest, EveryLineEndsInOneOutcome) {
  std::mt19937 rng(20261205);
  int outcomes[3] = {};  // went on, stopped, ended
  for (int i = 0; i < 10000; ++i) {
    bool logged = rng() % 5 == 0;
    std::string line = logged ? "-pass s3cr3t" : "-nolog";
    for (size_t n = rng() % 50 == 0 ? 1000 + rng() % 200 : rng() % 25; n > 0; --n) {
      size_t kind = rng() % 10;  // 0: an option in upper case, 1-3: an option, else a value
      const auto& words = kind < 4 ? kOptions : kValues;
      std::string word = words[rng() % words.size()];
      line += kSeparators[rng() % 4] + (kind == 0 ? toUpper(word) : word);
    }
    SCOPED_TRACE("case " + std::to_string(i) + ": " + line);
    std::filesystem::remove(programFolder() + "/postrix.log");
    newRun();
    bool stop = parse(line);  // anything but ProgramEnd escapes and fails the test
    ASSERT_TRUE(endStatus >= -1 && endStatus <= 2) << endStatus;
    ASSERT_TRUE(stop || !settings->commandLineRejected()) << "a rejection must stop the run";
    ++outcomes[endStatus != -1 ? 2 : stop ? 1 : 0];
    // Status 1 is a -dsn that does not open: its message names the data source, not the password.
    ASSERT_FALSE(logged && endStatus != 1 && logText().find("s3cr3t") != std::string::npos)
        << logText();
  }
  EXPECT_TRUE(outcomes[0] && outcomes[1] && outcomes[2]) << outcomes[1] << " " << outcomes[2];
  sleepSeconds.clear();
}

}  // namespace
}  // namespace postrix::test
