// What a scheduler sees of a run: its exit status, its errors on standard
// error and in the system log, and the warnings and messages that say what
// to fix. Whole runs of the real program against the local peers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/program_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

class RunStatusTest : public ProgramFixture {
 protected:
  void addFavorite(int id, const std::string& email, const std::string& url) {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, 'R" + std::to_string(id) + "', '" + url + "', 'html', '" +
        email + "', 'daily', 'on');");
  }
  // A run with its standard error kept in errors().
  int run(const std::string& args, const std::string& prefix = "") {
    int raw = std::system((prefix + " " + command(args) + " 2>" + home.file("stderr")).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string errors() const { return readFile(home.file("stderr")); }
};

TEST_F(RunStatusTest, PartFailuresEndWithZeroUnlessAskedAndAreShownOnStandardError) {
  addFavorite(1, "a@x.com", "analysis.asp?page=plain");
  addFavorite(2, "b@x.com", web.url("/missing?a=1"));
  EXPECT_EQ(run(""), exit_status::kOk);
  EXPECT_NE(errors().find("postrix: ERROR: Server return code 404. Not sending the email."),
            std::string::npos)
      << errors();
  // Only errors and warnings reach standard error, not the run's ordinary steps.
  EXPECT_EQ(errors().find("Message successfully sent."), std::string::npos) << errors();
  EXPECT_EQ(run("-sendagain -failstatus"), exit_status::kSomeFailed);
  EXPECT_EQ(run("-sendagain -failstatus -id 1"), exit_status::kOk);
  // -nolog keeps the run log empty, not the scheduler blind.
  EXPECT_EQ(run("-sendagain -nolog -id 2"), exit_status::kOk);
  EXPECT_NE(errors().find("404"), std::string::npos) << errors();
  EXPECT_EQ(mail.received().size(), 3u);
}

TEST_F(RunStatusTest, ARunWhoseMailServerTookNothingFailsAsAWhole) {
  addFavorite(1, "a@x.com", "analysis.asp?page=plain");
  addFavorite(2, "b@x.com", "analysis.asp?page=plain");
  pointAt(closedPort());
  EXPECT_EQ(run(""), exit_status::kMailServerUnusable);
  EXPECT_NE(errors().find("postrix: ERROR"), std::string::npos) << errors();
  sql("UPDATE System SET smtpserver='nosuchmail.invalid';");
  EXPECT_EQ(run("-sendagain"), exit_status::kMailServerUnusable);
  EXPECT_NE(errors().find("ERROR: The mail server's name 'nosuchmail.invalid' could not be "
                          "resolved"),
            std::string::npos)
      << errors();
  // A refused login is the mail server refusing the run, too.
  SmtpPeer refusing({.auth = "required", .refuseAuth = true});
  pointAt(refusing.port());
  EXPECT_EQ(run("-sendagain -auth 2 -user postrix -pass wrong -plainauthok"),
            exit_status::kMailServerUnusable);
  // One refused recipient of two is a report failing, not the server.
  SmtpPeer picky({.refuseRecipients = {"b@x.com"}});
  pointAt(picky.port());
  EXPECT_EQ(run("-sendagain"), exit_status::kOk);
  EXPECT_EQ(picky.received().size(), 1u);
}

TEST_F(RunStatusTest, AProgramFolderThatCannotBeWrittenIsSaidAndEndsWithStatus5) {
  if (geteuid() == 0 && std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "root without setpriv cannot drop its rights";
  addFavorite(1, "a@x.com", "analysis.asp?page=plain");
  fs::permissions(home.path(), fs::perms::all);
  fs::permissions(databasePath(), fs::perms::all);
  fs::permissions(fs::path(databasePath()).parent_path(), fs::perms::all);
  fs::permissions(programFolder(), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
  std::string asOther = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
  EXPECT_EQ(run("", asOther), exit_status::kCannotStart) << errors();
  EXPECT_NE(errors().find("cannot be written by this account"), std::string::npos) << errors();
  EXPECT_TRUE(mail.received().empty());
}

TEST_F(RunStatusTest, AMissingOrBrokenEmbeddedDatabaseIsNamedAsThat) {
  std::string database = databasePath();
  fs::rename(database, database + ".away");
  EXPECT_EQ(run(""), exit_status::kNoSystemDatabase);
  EXPECT_NE(errors().find("ERROR: The system database '" + database +
                          "' does not exist. Create it with initdb, or name the system "
                          "database with -dsn."),
            std::string::npos)
      << errors();
  std::ofstream(database) << "not a database, but a page of text long enough to have a header\n";
  EXPECT_EQ(run(""), exit_status::kNoSystemDatabase);
  EXPECT_NE(errors().find("' is not a database ("), std::string::npos) << errors();
  EXPECT_EQ(logText().find("Please check that you have created the System DSN"), std::string::npos);
}

TEST_F(RunStatusTest, ALoginWithoutTlsIsAWarningOnEveryRunUnlessAccepted) {
  SmtpPeer server({.auth = "required"});
  pointAt(server.port());
  addFavorite(1, "a@x.com", "analysis.asp?page=plain");
  const std::string warning =
      "WARNING: The mail server login (authentication method 2) goes "
      "over a connection without TLS";
  EXPECT_EQ(run("-auth 2 -user postrix -pass secret"), exit_status::kOk);
  EXPECT_NE(errors().find(warning), std::string::npos) << errors();
  EXPECT_EQ(run("-sendagain -auth 2 -user postrix -pass secret -plainauthok"), exit_status::kOk);
  EXPECT_EQ(errors().find("WARNING"), std::string::npos) << errors();
  EXPECT_EQ(server.received().size(), 2u);
  // STARTTLS without SSL is no TLS at all: said, not silent.
  EXPECT_EQ(run("-sendagain -auth 2 -user postrix -pass secret -starttls -plainauthok"),
            exit_status::kOk);
  EXPECT_NE(errors().find("WARNING: STARTTLS is asked for (-starttls or smtpstarttls) without "
                          "SSL"),
            std::string::npos)
      << errors();
  // Asked for STARTTLS by a server that offers none, the run sends nothing and says why.
  EXPECT_EQ(run("-sendagain -auth 2 -user postrix -pass secret -ssl -starttls"),
            exit_status::kMailServerUnusable);
  EXPECT_NE(errors().find("STARTTLS"), std::string::npos) << errors();
  EXPECT_EQ(errors().find("WARNING"), std::string::npos) << errors();
  EXPECT_EQ(server.received().size(), 3u);
}

// The system log is a datagram socket at /dev/log; where no syslog daemon
// holds it, the test is the daemon.
TEST_F(RunStatusTest, ErrorsReachTheSystemLogWithTheProcessId) {
  if (geteuid() != 0 || fs::exists("/dev/log")) GTEST_SKIP() << "/dev/log is not ours to take";
  int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/dev/log");
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval wait{5, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  addFavorite(1, "a@x.com", web.url("/missing?a=1"));
  EXPECT_EQ(run("-nolog"), exit_status::kOk);
  std::string received;
  char buffer[4096];
  for (ssize_t n; (n = recv(sock, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
    received.append(buffer, n).append("\n");
  close(sock);
  unlink("/dev/log");
  // <11>: facility user, priority error.
  EXPECT_NE(received.find("<11>"), std::string::npos) << received;
  EXPECT_NE(received.find("postrix["), std::string::npos) << received;
  EXPECT_NE(received.find("ERROR: Server return code 404"), std::string::npos) << received;
}

}  // namespace
}  // namespace postrix::test
