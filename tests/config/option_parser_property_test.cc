// Random command lines: whatever the operator types, parsing goes on, stops
// or ends the program, never anything else, and the -pass value stays out of
// the run log.
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

const std::vector<std::string> kOptions = splitCommandLine(
    "-nolog -dsn -enablemultitime -convertschedules -multitime -configure -cdo -smtptimeout "
    "-server -port -user -url -fromname -pass -emailsource -auth -ssl -starttls -bcc "
    "-ignoremultitime -ignoreschedule -fsend -debug -oemail -alerts -c -nounicode -skip "
    "-suppress -clearxlformatting -excel -imageincluded -emailnow -includedate -includetime "
    "-deletefile -sleep -id -excludeid -dashboardid -reportid -mappingid -interval -fileformat "
    "-format -location -filename -reportname -archive -date -wkhtmltopdfauth -laststatus "
    "-emailcount -attachfile -lastemailed -emaillog -issqlserver -connectionstring "
    "-reporttimeout -apppoolname -dashboardsonly -reportsonly -easyxls -excelformat -wkarg "
    "-savemessage -sendmessage -delta -sendfailed -generatepdf");

// No token made only of X: a password "X" is masked into "XXXXXX" by design.
const std::vector<std::string> kValues = {
    "\"",  "\"a",         "b\"",    "\"\"",      "\"a b\"",  "",      " ",     "\t",
    "0",   "2.5",         "47",     "48",        "-1",       "65536", "32768", "1e3",
    "5:9", "12,",         "08:15",  "12/5/2026", "abc",      "5a",    "'q'",   "\xc3\xa9",
    "csv", "relativemdb", "s3cr3t", "--",        "http://h", ";",     "\\"};

const char* const kPassword = "s3cr3t";

std::string randomLine(std::mt19937& rng) {
  static const char* const kSeparators[] = {" ", "  ", "\t", " \t "};
  size_t count = rng() % 50 == 0 ? 1000 + rng() % 200 : rng() % 25;
  std::string line;
  for (size_t i = 0; i < count; ++i) {
    int kind = static_cast<int>(rng() % 10);
    std::string token =
        kind < 4 ? kOptions[rng() % kOptions.size()] : kValues[rng() % kValues.size()];
    line += (kind == 0 ? toUpper(token) : token) + kSeparators[rng() % 4];
  }
  return line;
}

using OptionParserPropertyTest = RunFixture;

TEST_F(OptionParserPropertyTest, EveryLineEndsInOneOutcome) {
  constexpr unsigned kSeed = 20261205;
  std::mt19937 rng(kSeed);
  int wentOn = 0, stopped = 0, ended = 0;
  for (int i = 0; i < 10000; ++i) {
    bool logged = rng() % 5 == 0;
    std::string line = (logged ? "-pass s3cr3t " : "-nolog ") + randomLine(rng);
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", case " + std::to_string(i) + ": " + line);
    std::filesystem::remove(programFolder() + "/postrix.log");
    newRun();
    bool stop = parse(line);  // anything but ProgramEnd escapes and fails the test
    if (endStatus != -1) {
      ++ended;
      ASSERT_TRUE(endStatus >= 0 && endStatus <= 2) << endStatus;
    } else {
      ++(stop ? stopped : wentOn);
      ASSERT_TRUE(stop || !settings->commandLineRejected()) << "a rejection must stop the run";
    }
    // Status 1 is a -dsn that does not open, and its message names the data
    // source, which may be the password's text: that is not the mail password.
    if (logged && endStatus != 1) {
      ASSERT_EQ(logText().find(kPassword), std::string::npos) << logText();
    }
  }
  EXPECT_GT(wentOn, 0);
  EXPECT_GT(stopped, 0);
  EXPECT_GT(ended, 0);
  sleepSeconds.clear();
}

}  // namespace
}  // namespace postrix::test
