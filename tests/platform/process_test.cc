// Programs run to their end or to a time limit: a converter that hangs, and
// the helpers it started, must not outlive the limit.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/temp_database.h"

namespace postrix {
namespace {

// Running, not ended: a zombie nobody has reaped yet counts as ended.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return stat >> pidText >> name >> state && state != "Z";
}

TEST(ProcessTest, AProgramPastItsLimitEndsWithEverythingItStarted) {
  test::TempDir dir;
  std::string pidFile = dir.file("helper.pid");
  // A "converter" that starts a helper and then hangs, as a stuck one does.
  auto start = std::chrono::steady_clock::now();
  RunOutcome hung = runWithTimeLimit(
      "sh", {"-c", "sleep 60 & echo $! > " + pidFile + "; trap '' TERM; while :; do sleep 1; done"},
      0.5);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(hung.started && hung.timedOut) << hung.error;
  EXPECT_LT(took, std::chrono::seconds(4)) << "SIGKILL follows an ignored SIGTERM";
  pid_t helper = 0;
  std::ifstream(pidFile) >> helper;
  ASSERT_GT(helper, 0);
  for (int i = 0; i < 100 && alive(helper); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(alive(helper)) << "the helper outlived the limit";

  // 300 KB of progress on standard error: more than a pipe holds, so the
  // program would block for ever if nobody read it; only its end is kept.
  RunOutcome quick = runWithTimeLimit(
      "sh", {"-c", "seq 50000 | sed 's/^/progress /' >&2; echo 'no page' >&2; exit 3"}, 0);
  EXPECT_TRUE(quick.started && !quick.timedOut);
  EXPECT_EQ(quick.exitStatus, 3);
  EXPECT_EQ(quick.errorTail.size(), 2048u);
  EXPECT_EQ(quick.errorTail.substr(quick.errorTail.size() - 38),
            "progress 49999\nprogress 50000\nno page\n");
  EXPECT_EQ(runWithTimeLimit("sh", {"-c", "kill -9 $$"}, 0).exitStatus, 128 + 9);

  RunOutcome missing = runWithTimeLimit(dir.file("no-such-converter"), {}, 5);
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.error.find("No such file or directory"), std::string::npos) << missing.error;
}

}  // namespace
}  // namespace postrix
