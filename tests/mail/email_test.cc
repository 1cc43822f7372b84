// Messages set up, sent, refused, saved and resent, against a local SMTP
// server, as the run records them in its log and tables.
#include "mail/email.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "run/postrix_module.h"
#include "support/mail_reader.h"
#include "support/run_fixture.h"
#include "support/smtp_peer.h"
#include "util/text.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

class EmailTest : public RunFixture {
 protected:
  EmailTest() {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport, emailcount) VALUES (12,1,'Sales','x=1','html','a@x.com',"
        "'daily','on',4);");
  }

  // Sets up and sends one message of report 12 through a server on port; build, when given,
  // adds the parts and the body.
  void sendOne(int port, const std::string& args, const std::string& to,
               const std::function<void(Email&)>& build = nullptr) {
    newRun();
    ASSERT_FALSE(parse("-server 127.0.0.1 -port " + std::to_string(port) +
                       " -emaillog -laststatus -emailcount -smtptimeout 2 " + args));
    Email email;
    email.setUtilities(*utilities);
    email.setSettings(*settings);
    email.initEmail(12);
    email.setSubject("Sales");
    email.addAddress(to, "12");
    if (build)
      build(email);
    else
      email.setBody("<table><tr><td>1</td></tr></table>");
    email.send(Variant(12), Variant(to), Variant(-1));
  }

  int sendFailed(int port) {
    return Main("-dsn relativemdb -sendfailed -server 127.0.0.1 -port " + std::to_string(port),
                defaultRunModes(), clock, programFolder());
  }

  std::string status() { return column("laststatus"); }
  std::string column(const std::string& name) {
    auto rs = utilities->getSystemConn().Execute("SELECT * FROM UserReports WHERE report_id=12");
    return rs.Fields(name).toText();
  }

  // The send log: "address|status" per row, in order.
  std::vector<std::string> emailLog() {
    std::vector<std::string> rows;
    auto rs = utilities->getSystemConn().Execute("SELECT emailaddress, msgstatus FROM Email_Log");
    for (; !rs.eof(); rs.MoveNext())
      rows.push_back(rs.Fields("emailaddress").toText() + "|" + rs.Fields("msgstatus").toText());
    return rows;
  }

  static bool hasBcc(const std::string& data) {
    return ("\r\n" + data.substr(0, data.find("\r\n\r\n"))).find("\r\nBcc:") != std::string::npos;
  }
};

TEST_F(EmailTest, ImplicitTlsWithoutCertificateCheckAndAuthAreTakenFromTheSettings) {
  SmtpPeer peer({.tls = "implicit", .auth = "optional"});
  sendOne(peer.port(), "-ssl -insecuretls -user postrix -pass secret -auth 3", "a@x.com");
  auto mail = peer.waitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_TRUE(mail[0].tls);
  EXPECT_EQ(mail[0].authUser, "postrix");
  EXPECT_EQ(status(), "Message successfully sent.");
  EXPECT_EQ(column("emailcount"), "5");
  EXPECT_TRUE(
      logHas("WARNING: -insecuretls is set: the mail server's certificate is not "
             "checked, so anyone between here and the server can read the mail and the "
             "password."));
}

TEST_F(EmailTest, EachFailureHasItsStatusInTheLogAndTables) {
  SmtpPeer tls({.tls = "starttls", .auth = "optional"});
  sendOne(tls.port(), "-ssl -starttls -user postrix -pass secret -auth 2", "a@x.com");
  EXPECT_PRED2(startsWith, status(), "ERROR: SSL #");
  EXPECT_GT(status().size(), 12u) << "the reason is given";

  int down = closedPort();
  sendOne(down, "", "a@x.com");
  EXPECT_EQ(status(), "ERROR: Cannot connect to mail server: 127.0.0.1:" + std::to_string(down));

  SmtpPeer sender({.refuseSender = true});
  sendOne(sender.port(), "", "a@x.com");
  EXPECT_PRED2(startsWith, status(),
               "ERROR (MailBee): 122 The sender specified is not allowed by this mail server. "
               "Last server reply: 553");

  SmtpPeer auth({.auth = "optional", .refuseAuth = true});
  sendOne(auth.port(), "-user postrix -pass wrong -auth 2", "a@x.com");
  EXPECT_PRED2(startsWith, status(), "ERROR (MailBee): 114 Wrong password or username");

  SmtpPeer drops({.closeDuringData = true});
  sendOne(drops.port(), "", "a@x.com");
  EXPECT_PRED2(startsWith, status(), "ERROR (MailBee): 6 ");

  SmtpPeer slow({.delayMs = 4000});
  sendOne(slow.port(), "", "a@x.com");
  EXPECT_PRED2(startsWith, status(), "ERROR (MailBee): 5 ");

  SmtpPeer refused({.refuseRecipients = {"o'brien@x.com"}});
  sendOne(refused.port(), "-cdo", "o'brien@x.com");
  EXPECT_PRED2(startsWith, status(),
               "ERROR (CDO): -2147220977 The server rejected one or more recipient addresses. "
               "The server response was: 550");
  EXPECT_EQ(emailLog().size(), 7u);
  EXPECT_EQ(column("emailcount"), "4");
}

TEST_F(EmailTest, ARefusedRecipientOfAListIsRetriedOneByOneOnce) {
  SmtpPeer peer({.refuseRecipients = {"bad@x.com"}});
  sendOne(peer.port(), "-bcc hidden@x.com", "a@x.com; bad@x.com");
  auto mail = peer.waitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].to, (std::vector<std::string>{"a@x.com", "hidden@x.com"}));
  EXPECT_FALSE(hasBcc(mail[0].data));
  auto log = emailLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "a@x.com; bad@x.com|Message successfully sent.");
  EXPECT_PRED2(startsWith, log[1],
               "a@x.com; bad@x.com|ERROR: The mail server does not allow relaying");
  EXPECT_NE(log[2].find(". Last server reply: 550 5.1.1 <bad@x.com>"), std::string::npos);
  EXPECT_NE(log[2].find(". Will resend individually"), std::string::npos);
  EXPECT_EQ(status(), log[2].substr(log[2].find('|') + 1));
  EXPECT_TRUE(logHas("Sending [12] to: 'bad@x.com'"));
  std::string text = logText();
  EXPECT_EQ(text.find("Will resend individually"), text.rfind("Will resend individually"));
}

TEST_F(EmailTest, AnAddressHoldingALineBreakOrNulIsRefusedAndTheOthersGetTheMessage) {
  struct Case {
    std::string to, shownWhole, shown;
    std::vector<std::string> envelope;
  } cases[] = {
      {"a@x.com\r\nBcc: evil@x.com",
       "a@x.com\\r\\nBcc: evil@x.com",
       "a@x.com\\r\\nBcc: evil@x.com",
       {}},
      {"b@x.com; c@x.com\nRCPT TO:<evil@x.com>",
       "b@x.com; c@x.com\\nRCPT TO:<evil@x.com>",
       " c@x.com\\nRCPT TO:<evil@x.com>",
       {"b@x.com"}},
      {std::string("d@x.com, e\0@x.com", 17), "d@x.com, e\\0@x.com", " e\\0@x.com", {"d@x.com"}},
  };
  SmtpPeer peer;
  for (const auto& c : cases) {
    sql("DELETE FROM Email_Log");
    size_t before = peer.received().size();
    sendOne(peer.port(), "", c.to);
    std::string refused =
        "ERROR: The address '" + c.shown + "' holds a line break or NUL character and is not used.";
    std::string outcome = c.envelope.empty()
                              ? "ERROR: No usable address is left to send the message to; it is "
                                "not sent."
                              : "Message successfully sent.";
    auto mail = peer.received();  // the server stores a message before it says 250
    EXPECT_EQ(mail.size() > before ? mail.back().to : std::vector<std::string>{}, c.envelope);
    EXPECT_TRUE(logHas(refused)) << logText();
    EXPECT_EQ(emailLog(),
              (std::vector<std::string>{c.shown + "|" + refused, c.shownWhole + "|" + outcome}));
    EXPECT_EQ(status(), outcome);
  }
}

TEST_F(EmailTest, TheResendOneByOneSavesOnlyTheUndeliveredAndMailsTheBccOnce) {
  SmtpPeer refusing({.refuseRecipients = {"bad1@x.com", "bad2@x.com"}});
  // The first single goes with the Bcc: delivered here, refused (and saved with it) next.
  sendOne(refusing.port(), "-savemessage -bcc hidden@x.com", "a@x.com; bad1@x.com; b@x.com");
  sendOne(refusing.port(), "-savemessage -bcc hidden@x.com", "bad2@x.com, c@x.com, bad1@x.com");
  std::map<std::string, int> copies;
  for (const auto& mail : refusing.waitForMessages(3))
    for (const auto& to : mail.to) ++copies[to];
  EXPECT_EQ(copies, (std::map<std::string, int>{
                        {"a@x.com", 1}, {"b@x.com", 1}, {"c@x.com", 1}, {"hidden@x.com", 1}}));
  EXPECT_EQ(
      std::distance(fs::directory_iterator(programFolder() + "/Failed"), fs::directory_iterator()),
      3)
      << "one file per refused single, none written over";

  SmtpPeer later;
  EXPECT_EQ(sendFailed(later.port()), 0);
  std::vector<std::vector<std::string>> envelopes;
  for (const auto& mail : later.waitForMessages(3)) envelopes.push_back(mail.to);
  std::sort(envelopes.begin(), envelopes.end());
  EXPECT_EQ(envelopes, (std::vector<std::vector<std::string>>{
                           {"bad1@x.com"}, {"bad1@x.com"}, {"bad2@x.com", "hidden@x.com"}}))
      << "only those who lacked it";
}

TEST_F(EmailTest, NothingIsLostWhileTheServerIsDown) {
  int port = closedPort();
  sendOne(port, "-savemessage", "a@x.com, b@x.com");
  sendOne(port, "-savemessage", "c@x.com");  // the same report again that day
  std::string failed = programFolder() + "/Failed/12_261205.eml";
  ASSERT_TRUE(fs::exists(failed)) << logText();
  ASSERT_TRUE(fs::exists(programFolder() + "/Failed/12_261205_2.eml")) << "not written over";
  EXPECT_EQ(fs::status(programFolder() + "/Failed").permissions() & fs::perms::others_all,
            fs::perms::none);

  SmtpPeer peer;
  EXPECT_EQ(sendFailed(peer.port()), 0);
  auto mail = peer.waitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_EQ(mail[0].to, (std::vector<std::string>{"a@x.com", "b@x.com"}));
  EXPECT_EQ(mail[1].to, (std::vector<std::string>{"c@x.com"}));
  EXPECT_TRUE(fs::exists(programFolder() + "/Sent/12_261205.eml"));
  EXPECT_TRUE(fs::exists(programFolder() + "/Sent/12_261205_2.eml"));
  EXPECT_TRUE(fs::is_empty(programFolder() + "/Failed"));
  EXPECT_TRUE(logHas("Message Sent"));

  EXPECT_EQ(sendFailed(peer.port()), 0);
  EXPECT_EQ(peer.received().size(), 2u);
}

TEST_F(EmailTest, ASavedMessageIsResentAsItWasBuilt) {
  SmtpPeer peer;
  std::string csv = home.file("sales.csv"), image = home.file("chart.png");
  std::ofstream(csv, std::ios::binary) << std::string("a,b\r\n1,\xFF\0", 8);
  std::ofstream(image, std::ios::binary) << std::string("\x89PNG\r\n\x1A\n\0\0", 10);
  sendOne(peer.port(), "-savemessage -bcc hidden@x.com", "a@x.com", [&](Email& email) {
    ASSERT_TRUE(email.mailBee()->Message().AddAttachment(csv));
    ASSERT_TRUE(
        email.mailBee()->Message().AddAttachment(image, "image/png", "chart1", "chart.png"));
    ASSERT_TRUE(email.mailBee()->Message().AddAttachment(csv, "", "", "copy.csv"));
    email.setBody("<img src=\"cid:chart1\"><table><tr><td>1</td></tr></table>");
  });
  ASSERT_EQ(peer.waitForMessages(1).size(), 1u);

  fs::create_directories(programFolder() + "/Failed");
  fs::rename(programFolder() + "/Sent/12_261205.eml", programFolder() + "/Failed/12_261205.eml");
  EXPECT_EQ(sendFailed(peer.port()), 0);
  auto mail = peer.waitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_EQ(mail[1].to, mail[0].to);
  std::string first = readerView(mail[0].data);
  EXPECT_EQ(readerView(mail[1].data), first);
  EXPECT_NE(first.find("defects 0\n"), std::string::npos) << first;
  EXPECT_NE(first.find("part copy.csv None"), std::string::npos) << first;
  EXPECT_NE(first.find("part chart.png <chart1>"), std::string::npos) << first;
  EXPECT_FALSE(hasBcc(mail[1].data));
}

}  // namespace
}  // namespace postrix::test
