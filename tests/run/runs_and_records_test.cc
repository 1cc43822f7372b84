// Runs of the real program that overlap, repeat, die or meet a locked
// database or a full disk: each report reaches each recipient once, and
// nothing is lost without an ERROR line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/file_lock.h"
#include "util/failure.h"
#include "support/program_fixture.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

class RunsAndRecordsTest : public ProgramFixture {
 protected:
  // Runs on today's date: runs given a -date keep no record of their period.
  RunsAndRecordsTest() : ProgramFixture("") {}

  // Favourites 1..n, daily; each page takes a second to come.
  void addFavorites(int n, const std::string& table = "UserReports",
                    const std::string& page = "/slow") {
    for (int id = 1; id <= n; ++id) {
      std::string i = std::to_string(id);
      sql("INSERT INTO " + table +
          " (report_id, mapping_id, reporttitle, reporturl, format, email, schedule_details" +
          (table == "UserReports" ? ", sendreport) " : ", emailsent) ") + "VALUES (" + i +
          ", 1, 'R" + i + "', '" + web.url(page) + "', 'html', 'u" + i + "@x.com', 'daily', " +
          (table == "UserReports" ? "'on'" : "0") + ");");
    }
  }
  pid_t start(const std::string& args) const {
    return spawnProcess({"/bin/sh", "-c", "exec " + command(args)}, false);
  }
  static int wait(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // How often each address got mail.
  std::map<std::string, int> deliveries() const {
    std::map<std::string, int> count;
    for (const auto& m : mail.received())
      for (const auto& to : m.to) ++count[to];
    return count;
  }
  void killAfter(pid_t pid, size_t messages) {
    mail.waitForMessages(messages, 20000);
    kill(pid, SIGKILL);
    wait(pid);
  }
  // Holds the system database locked from another process for seconds;
  // returns once the lock is held.
  pid_t holdDatabase(double seconds) {
    std::string ready = home.file("locked");
    fs::remove(ready);
    std::string code = "import sqlite3,time; c=sqlite3.connect('" + databasePath() +
                       "', isolation_level=None); c.execute('BEGIN EXCLUSIVE'); open('" + ready +
                       "','w').close(); time.sleep(" + std::to_string(seconds) + ")";
    pid_t pid = spawnProcess({"/usr/bin/python3", "-c", code}, false);
    while (!fs::exists(ready)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return pid;
  }
};

TEST_F(RunsAndRecordsTest, OverlappingAndRepeatedRunsSendEachReportOnce) {
  addFavorites(3);
  pid_t first = start(""), second = start("");
  ASSERT_EQ(wait(first), 0);
  ASSERT_EQ(wait(second), 0);
  EXPECT_EQ(deliveries(),
            (std::map<std::string, int>{{"u1@x.com", 1}, {"u2@x.com", 1}, {"u3@x.com", 1}}))
      << logText();
  EXPECT_NE(logText().find("minutes for it to end."), std::string::npos);

  ASSERT_EQ(postrix(""), 0);  // the same day: nothing new
  EXPECT_EQ(mail.received().size(), 3u);
  EXPECT_TRUE(logHas("Report 2 (company -1) was sent in this period (" +
                     query("SELECT date('now','localtime')")[0] +
                     ") by an earlier run; it is not sent again (-sendagain sends it anyway)."))
      << logText();

  ASSERT_EQ(postrix("-sendagain -reportid 1"), 0);  // by hand: never held back
  ASSERT_EQ(postrix("-sendagain"), 0);
  EXPECT_EQ(mail.received().size(), 7u);
}

// Scheduled and immediate reports alike: only the message in flight at the
// kill may go twice.
TEST_F(RunsAndRecordsTest, ARunKilledPartWayIsFinishedByTheNextOnce) {
  for (const std::string mode : {"", "-emailnow"}) {
    SCOPED_TRACE(mode);
    sql("DELETE FROM UserReports;");
    auto before = deliveries();
    addFavorites(4, mode.empty() ? "UserReports" : "emailReports");
    killAfter(start(mode), mail.received().size() + 1);
    ASSERT_EQ(postrix(mode), 0);
    ASSERT_EQ(postrix(mode), 0);
    int reached = 0, twice = 0;
    for (const auto& [to, n] : deliveries()) {
      reached += n > before[to];
      twice += std::max(0, n - before[to] - 1);
    }
    EXPECT_EQ(reached, 4) << logText();
    EXPECT_LE(twice, 1);
  }
  EXPECT_NE(logText().find("was claimed by an earlier run that ended before sending it"),
            std::string::npos);
}

TEST_F(RunsAndRecordsTest, ARunThatCannotHaveTheLockInTimeEndsWithStatusThree) {
  addFavorites(1);
  FileLock held(programFolder() + "/postrix.lock");
  ASSERT_TRUE(held.tryLock());
  held.describeHolder("process 4242, started 2026-12-05 17:00:00\r\nforged line");
  EXPECT_EQ(postrix("-lockwait 0.01"), 3);
  EXPECT_TRUE(
      logHas("ERROR: Another run (process 4242, started 2026-12-05 17:00:00\\r\\nforged "
             "line) still holds '" +
             programFolder() +
             "/postrix.lock' after 0.01 minutes (-lockwait); this run ends without "
             "sending."))
      << logText();
  EXPECT_EQ(postrix("-dryrun"), 0);  // sends nothing, takes no lock
  EXPECT_TRUE(mail.received().empty());
}

// A lock longer than the old 5 s busy time-out but within -dbwait loses
// nothing; one past -dbwait is an ERROR that names the lost row.
TEST_F(RunsAndRecordsTest, ABusyDatabaseIsWaitedForAndWhatItLosesIsSaid) {
  addFavorites(2);
  pid_t run = start("-dbwait 12 -emaillog -laststatus");
  mail.waitForMessages(1, 20000);
  pid_t holder = holdDatabase(7.5);
  ASSERT_EQ(wait(run), 0);
  wait(holder);
  EXPECT_EQ(query("SELECT count(*) FROM Email_Log"), Rows{"2"}) << logText();
  EXPECT_EQ(query("SELECT count(*) FROM UserReports WHERE laststatus<>''"), Rows{"2"});

  newRun();
  sql("DELETE FROM Email_Log;");
  holder = holdDatabase(3);
  EXPECT_EQ(postrix("-dbwait 0.5 -sendagain -emaillog"), 1);
  wait(holder);
  EXPECT_NE(logText().find("' is locked by another program (database is locked) and stayed "
                           "locked for 0.5 seconds (-dbwait)."),
            std::string::npos)
      << logText();
  EXPECT_EQ(logText().find("Could not find the system DSN"), std::string::npos);

  // Opened in time, then locked past the wait before the first row.
  sql("UPDATE UserReports SET reporturl='" + web.url("/slow") + "' WHERE report_id=1;");
  run = start("-dbwait 0.5 -sendagain -emaillog -reportid 1");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  holder = holdDatabase(3);
  ASSERT_EQ(wait(run), 0);
  wait(holder);
  EXPECT_NE(logText().find("; not written: the Email_Log row of report 1 for 'u1@x.com' "
                           "('Message successfully sent.')."),
            std::string::npos)
      << logText();
}

// Private mount namespaces: the small file systems vanish with the run.
TEST_F(RunsAndRecordsTest, MessagesThatCannotBeSavedAreErrorsAndStayInFailed) {
  if (std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespaces here";
  addFavorites(2);
  pointAt(closedPort());
  std::string failed = programFolder() + "/Failed", sent = programFolder() + "/Sent";
  fs::create_directories(failed);
  fs::create_directories(sent);
  auto full = [](const std::string& folder) {
    return "mount -t tmpfs -o size=64k tmpfs " + folder + " && dd if=/dev/zero of=" + folder +
           "/fill bs=4k 2>/dev/null; ";
  };
  auto namespaced = [&](const std::string& args, const std::string& folder) {
    int raw = std::system(("unshare -m sh -c '" + full(folder) + command(args) + "'").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  // The port is closed: no message went out, and the status says so.
  ASSERT_EQ(namespaced("-savemessage", failed), exit_status::kMailServerUnusable);
  EXPECT_NE(logText().find("ERROR: The message of report 2 to 'u2@x.com' could not be saved into "
                           "'Failed': it is lost, and -sendfailed cannot send it again."),
            std::string::npos)
      << logText();

  // Saved for real this time; then resent while "Sent" is full.
  ASSERT_EQ(postrix("-savemessage -sendagain"), exit_status::kMailServerUnusable);
  pointAt(mail.port());
  ASSERT_EQ(namespaced("-sendfailed", sent), 0);
  ASSERT_EQ(mail.received().size(), 2u) << logText();
  EXPECT_EQ(std::distance(fs::directory_iterator(failed), fs::directory_iterator()), 2);
  EXPECT_NE(logText().find("' could not be saved into 'Sent'; it stays in 'Failed'."),
            std::string::npos);
  ASSERT_EQ(postrix("-sendfailed"), 0);  // room again: moved, not sent twice
  EXPECT_EQ(mail.received().size(), 2u);
  EXPECT_TRUE(fs::is_empty(failed));
  EXPECT_EQ(std::distance(fs::directory_iterator(sent), fs::directory_iterator()), 2);
}

TEST_F(RunsAndRecordsTest, ARunLogOnAFullDiskKeepsWholeLinesOnly) {
  if (std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespaces here";
  addFavorites(25, "UserReports", "/report");
  std::string copy = home.file("log.copy");
  int raw = std::system(("unshare -m sh -c 'mount -t tmpfs -o size=16k tmpfs " + programFolder() +
                         " && dd if=/dev/zero of=" + programFolder() +
                         "/fill bs=1k count=12 2>/dev/null; " + command("") + "; cp " +
                         programFolder() + "/postrix.log " + copy + "'")
                            .c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  std::string log = readFile(copy);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  EXPECT_EQ(mail.received().size(), 25u);
}

}  // namespace
}  // namespace postrix::test
