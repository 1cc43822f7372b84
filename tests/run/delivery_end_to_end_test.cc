// Whole runs of the real program where delivery goes wrong: refused
// recipients, addresses that would smuggle headers or commands, report files
// that cannot be written, dashboards in formats nobody can send, and a
// "Failed" folder the resend cannot clean up. Each checks what the mail
// server received, the run log, Email_Log and the Sent/Failed folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/mail_reader.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"
#include "support/web_app.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The value of a header of a saved message ("" when it has none).
std::string header(const std::string& message, const std::string& name) {
  std::string head = "\r\n" + message.substr(0, message.find("\r\n\r\n") + 2);
  size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return head.substr(at, head.find("\r\n", at) - at);
}

class DeliveryEndToEndTest : public ::testing::Test {
 protected:
  explicit DeliveryEndToEndTest(SmtpPeerOptions options = {})
      : mail(options), program(home.file("postrix")), database(home.file("qx_data/system33.mdb")) {
    fs::create_directories(program);
    fs::create_directories(home.file("qx_data"));
    createSystemDatabase(database);
    sql("INSERT INTO System (db_version, urlorvanta, emailsource, smtpserver, smtpport, char_set,"
        " smtpauth, smtpssl, smtpstarttls, smtppass, emailfromname, emailskipunicode, emailexcel,"
        " smtptimeout, smtpuser) VALUES ('3.3.0', '" +
        web.url("/") + "', 'postrix@example.com', '127.0.0.1', " + std::to_string(mail.port()) +
        ", 'UTF-8', 0, 'No', 'No', '', 'Quarvex', 'No', 'No', 5, '');"
        "DROP TABLE CompanyReports;");
  }

  void sql(const std::string& statements) const { runSqlite(database, statements); }
  Rows query(const std::string& select) const { return querySqlite(database, select); }

  // email is an SQL expression, so that tests can build texts with char().
  void addFavorite(int id, const std::string& title, const std::string& format,
                   const std::string& emailExpression) {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, '" + title + "', 'analysis.asp?page=plain', '" + format + "', " +
        emailExpression + ", 'daily', 'on');");
  }

  int postrix(const std::string& args, const std::string& prefix = "") {
    std::string command = prefix + " env POSTRIX_HOME=" + program + " " + POSTRIX_BINARY +
                          " -dsn relativemdb -date 12/5/2026 " + args + " >" + home.file("stdout") +
                          " 2>&1";
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  std::string runLog() const { return readFile(program + "/postrix.log"); }

  // How many messages each envelope address received, over the given servers.
  static std::map<std::string, int> copiesPerAddress(std::vector<const SmtpPeer*> servers) {
    std::map<std::string, int> copies;
    for (const SmtpPeer* server : servers)
      for (const auto& m : server->received())
        for (const auto& to : m.to) ++copies[to];
    return copies;
  }

  // "To|Bcc" of each saved message in the folder, in name order.
  Rows savedAddresses(const std::string& folder) const {
    Rows rows;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(program + "/" + folder))
      files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::string message = readFile(file.string());
      rows.push_back(header(message, "To") + "|" + header(message, "Bcc"));
    }
    return rows;
  }

  // Lets the run go as nobody when the test runs as root (who may write
  // anywhere); nobody must still reach the installation.
  std::string asOrdinaryUser() {
    if (geteuid() != 0) return "";
    for (const std::string& path : {home.path(), program, home.file("qx_data")})
      EXPECT_EQ(chmod(path.c_str(), 0777), 0);
    EXPECT_EQ(chmod(database.c_str(), 0666), 0);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }

  TempDir home;
  WebApp web;
  SmtpPeer mail;
  std::string program, database;
};

class RefusingServerTest : public DeliveryEndToEndTest {
 protected:
  RefusingServerTest() : DeliveryEndToEndTest({.refuseRecipients = {"bad1@x.com", "bad2@x.com"}}) {}
};

TEST_F(RefusingServerTest, TheResendOneByOneLeavesOnlyTheUndeliveredInFailed) {
  // Report 1's first single goes through with the Bcc; report 2's first is refused.
  addFavorite(1, "Sales", "html", "'a@x.com; bad1@x.com; b@x.com'");
  addFavorite(2, "Stock", "html", "'bad2@x.com; c@x.com; bad1@x.com'");

  ASSERT_EQ(postrix("-savemessage -bcc hidden@x.com -emaillog"), 0);

  EXPECT_EQ(copiesPerAddress({&mail}),
            (std::map<std::string, int>{
                {"a@x.com", 1}, {"b@x.com", 1}, {"c@x.com", 1}, {"hidden@x.com", 1}}))
      << runLog();
  EXPECT_EQ(savedAddresses("Failed"),
            (Rows{"bad1@x.com|", "bad2@x.com|hidden@x.com", "bad1@x.com|"}))
      << "each refused single on its own, none written over, the Bcc with the first only";
  EXPECT_EQ(query("SELECT report_id, count(*) FROM Email_Log GROUP BY report_id"),
            (Rows{"1|4", "2|4"}))
      << "one row per single and one for the whole list";

  SmtpPeer later;
  ASSERT_EQ(postrix("-sendfailed -server 127.0.0.1 -port " + std::to_string(later.port())), 0);
  EXPECT_EQ(copiesPerAddress({&later}),
            (std::map<std::string, int>{{"bad1@x.com", 2}, {"bad2@x.com", 1}, {"hidden@x.com", 1}}))
      << "only those who lacked it: " << runLog();
  EXPECT_TRUE(fs::is_empty(program + "/Failed"));
}

TEST_F(DeliveryEndToEndTest, AnAddressHoldingALineBreakIsRefusedAndTheOthersGetTheMessage) {
  addFavorite(1, "Sales", "html", "'a@example.com' || char(13, 10) || 'Bcc: x@example.net'");
  addFavorite(2, "Stock", "html", "'b@x.com; c@x.com' || char(10) || 'RCPT TO:<y@example.net>'");

  ASSERT_EQ(postrix("-emaillog -laststatus"), 0);

  EXPECT_EQ(copiesPerAddress({&mail}), (std::map<std::string, int>{{"b@x.com", 1}})) << runLog();
  std::string refusedA =
      "ERROR: The address 'a@example.com\\r\\nBcc: x@example.net' holds a line break or NUL "
      "character and is not used.";
  std::string refusedC =
      "ERROR: The address ' c@x.com\\nRCPT TO:<y@example.net>' holds a line break or NUL "
      "character and is not used.";
  std::string nothingLeft =
      "ERROR: No usable address is left to send the message to; it is not sent.";
  EXPECT_TRUE(contains(runLog(), "[" + refusedA + "]")) << runLog();
  EXPECT_TRUE(contains(runLog(), "[" + nothingLeft + "]"));
  EXPECT_EQ(query("SELECT report_id, emailaddress, msgstatus FROM Email_Log"),
            (Rows{"1|a@example.com\\r\\nBcc: x@example.net|" + refusedA,
                  "1|a@example.com\\r\\nBcc: x@example.net|" + nothingLeft,
                  "2| c@x.com\\nRCPT TO:<y@example.net>|" + refusedC,
                  "2|b@x.com; c@x.com\\nRCPT TO:<y@example.net>|Message successfully sent."}));
  EXPECT_EQ(query("SELECT laststatus FROM UserReports ORDER BY report_id"),
            (Rows{nothingLeft, "Message successfully sent."}));
}

TEST_F(DeliveryEndToEndTest, AReportWhoseFileCannotBeWrittenIsNotMailed) {
  addFavorite(1, std::string(300, 'L'), "csv", "'a@x.com'");
  addFavorite(2, "Sales", "html", "'b@x.com'");

  ASSERT_EQ(postrix("-reportname -emaillog -laststatus"), 0);
  EXPECT_EQ(copiesPerAddress({&mail}), (std::map<std::string, int>{{"b@x.com", 1}})) << runLog();
  std::string tooLong = "ERROR: 57 Device I/O error (File name too long) while writing '" +
                        program + "/" + std::string(300, 'L') + ".csv'. Report 1 is not sent.";
  EXPECT_TRUE(contains(runLog(), "[" + tooLong + "]")) << runLog();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log WHERE report_id=1"), Rows{tooLong});
  EXPECT_EQ(query("SELECT laststatus FROM UserReports WHERE report_id=1"), Rows{tooLong});

  std::ofstream(program + "/Reports") << "a file where the folder should be";
  sql("DELETE FROM Email_Log");
  ASSERT_EQ(postrix("-archive -id 1 -emaillog"), 0);
  EXPECT_EQ(mail.received().size(), 1u) << runLog();
  Rows row = query("SELECT msgstatus FROM Email_Log");
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0].rfind("ERROR: 76 Path not found while preparing the output folder", 0), 0u)
      << row[0];
}

TEST_F(DeliveryEndToEndTest, ADashboardInAFormatThePipelineHasNoWayForIsNotMailed) {
  sql("INSERT INTO Dashboards VALUES (40, 'Board', '', 'board=1', 'HTML', 'g@x.com', '1', "
      "'daily', 'on'), (41, 'Odd', '', 'board=2', 'xyz', 'h@x.com', '1', 'daily', 'on'),"
      "(42, 'Good', '', 'board=3', 'html', 'i@x.com', '1', 'daily', 'on');");
  addFavorite(1, "Sales", "xyz", "'a@x.com'");

  ASSERT_EQ(postrix("-emaillog"), 0);

  EXPECT_EQ(copiesPerAddress({&mail}), (std::map<std::string, int>{{"a@x.com", 1}, {"i@x.com", 1}}))
      << runLog();
  EXPECT_TRUE(contains(readerView(mail.received()[0].data), "page=plain&amp;r_title=Sales"))
      << "the favourite has its page";
  EXPECT_EQ(query("SELECT report_id, msgstatus FROM Email_Log WHERE report_id IN (40, 41)"),
            (Rows{"40|ERROR: Dashboard 40 is in 'HTML' format, which Postrix cannot send; it is "
                  "not sent.",
                  "41|ERROR: Dashboard 41 is in 'xyz' format, which Postrix cannot send; it is "
                  "not sent."}));
  EXPECT_TRUE(contains(runLog(), "[ERROR: Dashboard 41 is in 'xyz' format"));
}

TEST_F(DeliveryEndToEndTest, AResentMessageThatCannotLeaveFailedIsNotSentAgain) {
  std::string failed = program + "/Failed";
  fs::create_directories(failed);
  std::ofstream(failed + "/12_261205.eml", std::ios::binary)
      << "From: postrix@example.com\r\nTo: a@x.com\r\nSubject: Saved\r\n\r\n<p>saved</p>\r\n";
  std::string user = asOrdinaryUser();
  ASSERT_EQ(chmod(failed.c_str(), 0555), 0);

  ASSERT_EQ(postrix("-sendfailed", user), 0);
  ASSERT_EQ(postrix("-sendfailed", user), 0);

  EXPECT_EQ(mail.received().size(), 1u) << runLog();
  EXPECT_TRUE(fs::exists(failed + "/12_261205.eml"));
  std::string log = runLog();
  EXPECT_TRUE(contains(log, "[ERROR: 75 The sent message '" + failed +
                                "/12_261205.eml' cannot be removed (Permission denied).]"))
      << log;
  EXPECT_TRUE(contains(log, "[Not sent again: '" + failed +
                                "/12_261205.eml' was sent by an earlier run and still cannot be "
                                "removed (Permission denied).]"))
      << log;

  // Once the folder can be cleaned up, the next run does so without sending.
  ASSERT_EQ(chmod(failed.c_str(), 0777), 0);
  ASSERT_EQ(postrix("-sendfailed", user), 0);
  EXPECT_EQ(mail.received().size(), 1u);
  EXPECT_TRUE(fs::is_empty(failed));
}

}  // namespace
}  // namespace postrix::test
