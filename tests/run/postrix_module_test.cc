#include "run/postrix_module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

// Main over the fixture's installation, with modes that record what they did.
class PostrixModuleTest : public RunFixture {
 protected:
  int run(const std::string& args) {
    return Main("-dsn relativemdb " + args, modes, clock, programFolder());
  }

  // A cycle that records its interval and takes `seconds` of the clock.
  void cycleTaking(int seconds) {
    modes.runCycle = [this, seconds](Settings& s, Utilities&) {
      cycles.push_back(s.thisIntervalStartId());
      clock.advanceSeconds(seconds);
    };
  }

  void recordSends() {
    modes.sendEmailMessage = [this](Settings&, Utilities&, const std::string& path) {
      sent.push_back(path);
    };
  }

  RunModes modes;
  std::vector<int> cycles;
  std::vector<std::string> sent;
};

// Without -multitime a run is one cycle. With it, every interval that began
// while a cycle ran is caught up; the loop stops at midnight, and -interval
// runs only the interval it names.
TEST_F(PostrixModuleTest, TheIntervalLoopRunsUpToTheCurrentHalfHour) {
  struct Case {
    int hour, minute, second, cycleSeconds;
    std::string args;
    std::vector<int> want;
  } cases[] = {
      {10, 29, 50, 30, "", {20}},
      {10, 29, 50, 30, "-multitime", {20, 21}},
      {10, 0, 0, 60, "-multitime", {20}},
      {23, 59, 50, 30, "-multitime", {47}},
      {10, 29, 50, 3600, "-multitime -interval 5", {5}},
  };
  sql("UPDATE System SET smtpauth=101");
  for (const auto& c : cases) {
    clock.set(Date::fromParts(2026, 12, 5, c.hour, c.minute, c.second));
    cycles.clear();
    cycleTaking(c.cycleSeconds);
    EXPECT_EQ(run(c.args), 0);
    EXPECT_EQ(cycles, c.want) << c.hour << ":" << c.minute << " " << c.args;
  }
  EXPECT_TRUE(logHas("Running Reports for Interval ID 21"));
  EXPECT_FALSE(logHas("Running Reports for Interval ID 5"));
}

TEST_F(PostrixModuleTest, SendMessageSendsWhatTheOperatorChose) {
  recordSends();
  std::vector<std::string> chosen;
  modes.chooseMessageFiles = [&](Settings&, Utilities&) { return chosen; };
  chosen = {"/data/Failed/one.eml"};
  run("-sendmessage");
  chosen = {"/data/Failed", "a.eml", "b.eml", "c.eml"};
  run("-sendmessage");
  chosen = {};
  EXPECT_EQ(run("-sendmessage"), 0);
  EXPECT_EQ(sent, (std::vector<std::string>{"/data/Failed/one.eml", "/data/Failed/a.eml",
                                            "/data/Failed/b.eml", "/data/Failed/c.eml"}));
}

TEST_F(PostrixModuleTest, StopsBeforeSendingWithTheirStatus) {
  cycleTaking(0);
  recordSends();
  std::filesystem::create_directories(programFolder() + "/Failed");
  std::ofstream(programFolder() + "/Failed/a.eml") << "x";
  EXPECT_EQ(run("-id 5a"), 2);
  EXPECT_EQ(run("--sendfailed"), 2);
  EXPECT_EQ(Main("-dsn nosuchdsn", modes, clock, programFolder()), 1);
  EXPECT_TRUE(cycles.empty());
  EXPECT_TRUE(sent.empty());
}

TEST_F(PostrixModuleTest, AFailureNoTrapCaughtStopsTheRunAndIsLogged) {
  modes.runCycle = [](Settings&, Utilities&) { throw Failure(-2147217900, "syntax error"); };
  EXPECT_EQ(run(""), 1);
  EXPECT_TRUE(logHas("ERROR: -2147217900 syntax error. The run was stopped."));
}

}  // namespace
}  // namespace postrix::test
