// Random command lines: whatever the operator types, parsing ends in exactly
// one of its three outcomes (go on, stop, end the program), a stop has a
// reason, and the -pass value stays out of the run log.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "config/option_parser.h"
#include "config/settings.h"
#include "run/module_state.h"
#include "support/run_fixture.h"
#include "util/failure.h"
#include "util/text.h"

namespace postrix::test {
namespace {

// Every option the parser knows, in the order of its passes.
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

// Values and garbage; an entry with a blank gives two tokens. No token made
// only of X: see OptionParserTest.RejectionMasksAPasswordOnceHoweverOftenItRepeats.
const std::vector<std::string> kValues = {
    "\"",          "\"a",    "b\"", "\"\"", "\"a b\"",  "",      " ",         "\t",
    "0",           "1",      "2.5", "25",   "47",       "48",    "-1",        "65535",
    "65536",       "32768",  "1e3", "5:9",  "1,2",      "12,",   "12/5/2026", "2026-12-05",
    "08:15",       "13:99",  "abc", "5a",   "'q'",      "%",     "\xc3\xa9",  "csv",
    "relativemdb", "s3cr3t", "-",   "--",   "http://h", "C:\\x", ";",         "\\",
    "-pass s3cr3t"};

const char* const kPassword = "s3cr3t";

std::string randomToken(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 9);
  int kind = pick(rng);
  if (kind < 4) {
    std::string option = kOptions[rng() % kOptions.size()];
    if (kind == 0) option = toUpper(option);
    return option;
  }
  return kValues[rng() % kValues.size()];
}

std::string randomLine(std::mt19937& rng) {
  static const char* const kSeparators[] = {" ", "  ", "\t", " \t "};
  size_t count = rng() % 50 == 0 ? 1000 + rng() % 200 : rng() % 25;
  std::string line;
  for (size_t i = 0; i < count; ++i) line += randomToken(rng) + kSeparators[rng() % 4];
  return line;
}

class OptionParserPropertyTest : public RunFixture {
 protected:
  void TearDown() override { sleepSeconds.clear(); }
};

TEST_F(OptionParserPropertyTest, EveryLineEndsInOneOutcome) {
  constexpr unsigned kSeed = 20261205;
  constexpr int kCases = 10000;
  std::mt19937 rng(kSeed);
  const std::string log = programFolder() + "/postrix.log";
  int goOn = 0, stopped = 0, ended = 0, passwordChecks = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCases; ++i) {
    bool logged = rng() % 5 == 0;
    std::string line = (logged ? "" : "-nolog ") + randomLine(rng);
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", case " + std::to_string(i) + ": " + line);
    std::filesystem::remove(log);
    newRun();
    bool stop = false;
    try {
      stop = parse(line);
    } catch (const std::exception& e) {
      FAIL() << "threw " << e.what();
    } catch (...) {
      FAIL() << "threw something other than ProgramEnd";
    }
    // The tokens the parser saw.
    std::vector<std::string> tokens = splitCommandLine("-dsn relativemdb " + line);
    auto has = [&](const std::string& option) {
      return std::any_of(tokens.begin(), tokens.end(),
                         [&](const std::string& t) { return toLower(t) == option; });
    };
    if (endStatus != -1) {
      ++ended;
      bool reason = endStatus == 0   ? has("-enablemultitime") || has("-convertschedules")
                    : endStatus == 1 ? std::count(tokens.begin(), tokens.end(), "-dsn") >= 2
                    : endStatus == 2 ? has("-convertschedules") || has("-alerts")
                                     : false;
      ASSERT_TRUE(reason) << "ended with status " << endStatus;
    } else if (settings->commandLineRejected()) {
      ++stopped;
      ASSERT_TRUE(stop) << "a rejected value must stop the run";
    } else if (stop) {
      ++stopped;
      ASSERT_TRUE(has("-configure")) << "stopped without a reason";
    } else {
      ++goOn;
    }
    // A -dsn naming the password is echoed by the connection error; that
    // text is the data source, not the mail password.
    bool passwordGiven = false, dsnIsPassword = false;
    for (size_t t = 0; t + 1 < tokens.size(); ++t) {
      passwordGiven |= tokens[t] == "-pass" && tokens[t + 1] == kPassword;
      dsnIsPassword |= tokens[t] == "-dsn" && tokens[t + 1] == kPassword;
    }
    if (logged && passwordGiven && !dsnIsPassword) {
      ++passwordChecks;
      ASSERT_EQ(logText().find(kPassword), std::string::npos) << logText();
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[          ] " << kCases << " command lines in " << seconds << " s: " << goOn
            << " went on, " << stopped << " stopped, " << ended << " ended the program; "
            << passwordChecks << " logs checked for the password\n";
  // Each outcome must have been reached, or the lines prove little.
  EXPECT_GT(goOn, 0);
  EXPECT_GT(stopped, 0);
  EXPECT_GT(ended, 0);
  EXPECT_GT(passwordChecks, 0);
}

}  // namespace
}  // namespace postrix::test
