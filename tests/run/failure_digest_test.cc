// The failure digest: what it makes of hostile values and of long runs, and
// whole runs of the real program that mail it, or rightly do not.
#include "run/failure_digest.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "run/run_failures.h"
#include "support/mail_reader.h"
#include "support/program_fixture.h"
#include "util/text.h"

namespace postrix::test {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(FailureDigestTextTest, HostileValuesComeOutOnOneLineWithTheirAddressesDefanged) {
  struct Case {
    std::string value, shown;
  } cases[] = {
      {"Sales\r\nBcc: evil@x.com", "Sales\\r\\nBcc: evil@x.com"},
      {std::string("a\0b\x1b[31m\x7f", 9), "a\\0b\\x1B[31m\\x7F"},
      {"\xe2\x80\xaegnp.exe \xc2\x85 \xff", "\\u{202E}gnp.exe \\u{0085} \\xFF"},
      {"see HTTPS://Evil.Example:8443/a?x=1.2", "see HTTPS[:]//Evil[.]Example:8443/a?x=1.2"},
      {"www.evil.example/x, ftp.evil.example", "www[.]evil[.]example/x, ftp[.]evil[.]example"},
      {"mailto:boss@x.com \\\\evil\\share", "mailto[:]boss@x.com \\[\\]evil\\share"},
      {"550 5.1.1 mx.example.com: no such user", "550 5.1.1 mx.example.com: no such user"},
  };
  for (const auto& c : cases) EXPECT_EQ(shownValue(c.value), c.shown) << c.value;
  // Cut at a character, never inside one, saying how long the value was.
  std::string accents;
  for (int i = 0; i < 600; ++i) accents += "\xc3\xa9";
  EXPECT_EQ(shownValue(accents),
            accents.substr(0, 2 * kMaxValueChars) + " ... (cut; 600 characters in all)");
}

TEST(FailureDigestTextTest, TheSubjectCountsWhatFailedAndALongListIsCut) {
  const DigestRun run{Date::fromParts(2026, 12, 8, 3, 30, 0), "/opt/postrix", "mx.example.com"};
  RunFailures failures;
  for (int i = 1; i <= 250; ++i) failures.failed({"Report " + std::to_string(i), "", "", "", ""});
  failures.sent();
  DigestText text = composeFailureDigest(failures, run);
  EXPECT_EQ(text.subject, "Postrix: 250 reports not sent in the run of 12/8/2026 3:30:00 AM");
  EXPECT_TRUE(contains(text.body,
                       "Installation: /opt/postrix on mx.example.com\nRun started: "
                       "12/8/2026 3:30:00 AM\nFailed: 250\nSent: 1\n"));
  EXPECT_TRUE(contains(text.body, "\n200. Report 200\n"));
  EXPECT_FALSE(contains(text.body, "\n201. "));
  EXPECT_TRUE(contains(text.body, "\n... and 50 more, not listed here; the run log has each"));
}

// ---- Whole runs ----

class FailureDigestRunTest : public ProgramFixture {
 protected:
  FailureDigestRunTest() {
    pointAt(strict.port());
    sql("UPDATE System SET emailproblemreports='problems@x.com';");
    addFavorite(1, "'Sales'", "a@x.com", "analysis.asp?page=plain");
    addFavorite(2, "'Stock' || char(13) || char(10) || 'Bcc: evil@x.com https://evil.example/a'",
                "refused@x.com", "analysis.asp?page=plain");
    addFavorite(3, "'Orders'", "c@x.com", web.url("/missing?a=1"));
  }
  void addFavorite(int id, const std::string& titleSql, const std::string& email,
                   const std::string& url) {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, " + titleSql + ", '" + url + "', 'html', '" + email +
        "', 'daily', 'on');");
  }
  Rows recipients() const {
    Rows rows;
    for (const auto& m : strict.received()) rows.insert(rows.end(), m.to.begin(), m.to.end());
    return rows;
  }
  // The last message's text as a mail reader shows it, LF line ends.
  std::string lastText() const {
    return replaceAll(textView(strict.received().back().data), "\r\n", "\n");
  }
  int logged(const std::string& part) const { return occurrences(logText(), part); }

  SmtpPeer strict{{.refuseRecipients = {"refused@x.com", "noproblems@x.com"},
                   .refuseReply = "550-5.1.1 Mailbox refused\\n550 See https://help.example/550"}};
};

TEST_F(FailureDigestRunTest, OneDigestListsEveryFailureOfTheRunInPlainText) {
  ASSERT_EQ(postrix("-problemdigest"), 0);

  EXPECT_EQ(recipients(), (Rows{"a@x.com", "problems@x.com"})) << logText();
  std::string view = lastText();
  EXPECT_TRUE(startsWith(view,
                         "defects 0\ntype text/plain\n"
                         "subject Postrix: 2 reports not sent in the run of "))
      << view;
  EXPECT_TRUE(contains(view,
                       "Report 2\n   Subject: Stock\\r\\nBcc: evil@x.com "
                       "https[:]//evil[.]example/a: 12/5/2026\n"
                       "   Recipients: refused@x.com\n   Status: ERROR: The mail server "))
      << view;
  EXPECT_TRUE(contains(view,
                       "\n   Last server reply: 550-5.1.1 Mailbox refused\\r\\n550 See "
                       "https[:]//help[.]example/550\n"))
      << view;
  EXPECT_TRUE(contains(view,
                       "Report 3\n   Subject: Orders\n   Recipients: c@x.com\n   Status: "
                       "ERROR: Server return code 404. Not sending the email.\n"))
      << view;
  EXPECT_FALSE(contains(view, "://") || contains(view, "\r")) << view;
  EXPECT_FALSE(contains(strict.received().back().data, "\r\nBcc:"));
  EXPECT_EQ(logged("[The failure digest of 2 failures was sent to 'problems@x.com'.]"), 1);
}

// The digest's server is set up as the run's messages' is; only a -cdo
// run's method numbers are read another way, for the MailBee shape.
TEST_F(FailureDigestRunTest, ACdoRunsDigestLogsInOverTlsAsItsMessagesDo) {
  SmtpPeer server({.tls = "starttls", .auth = "required", .refuseRecipients = {"refused@x.com"}});
  pointAt(server.port());
  ASSERT_EQ(postrix("-problemdigest -cdo -ssl -insecuretls -user postrix -pass secret -auth 1"), 0)
      << logText();
  std::vector<ReceivedMail> mails = server.waitForMessages(2);
  ASSERT_EQ(mails.size(), 2u) << logText();
  EXPECT_EQ(mails[1].to, Rows{"problems@x.com"});
  EXPECT_EQ(mails[1].authUser, "postrix");
  EXPECT_TRUE(mails[1].tls);
}

TEST_F(FailureDigestRunTest, NoDigestWithoutTheOptionNorAfterARunWithoutFailures) {
  ASSERT_EQ(postrix(""), 0);
  sql("DELETE FROM UserReports WHERE report_id <> 1;");
  ASSERT_EQ(postrix("-problemdigest"), 0);
  EXPECT_EQ(recipients(), (Rows{"a@x.com", "a@x.com"})) << logText();
  EXPECT_EQ(logged("failure digest"), 0) << logText();
}

TEST_F(FailureDigestRunTest, ADigestThatCannotBeSentIsLoggedOnceAndChangesNoExitStatus) {
  sql("UPDATE System SET emailproblemreports='noproblems@x.com';");
  const std::string notSent =
      "[ERROR: The failure digest to 'noproblems@x.com' could not be "
      "sent: 123 ";
  ASSERT_EQ(postrix("-problemdigest -savemessage"), 0);
  EXPECT_EQ(logged(notSent), 1) << logText();
  EXPECT_EQ(logged(". Last server reply: 550-5.1.1 Mailbox refused\\r\\n550 See"), 1);
  auto failed = std::filesystem::directory_iterator(programFolder() + "/Failed");
  EXPECT_EQ(std::distance(begin(failed), end(failed)), 1) << "report 2's only, not the digest";

  EXPECT_EQ(postrix("-failstatus"), 6);
  EXPECT_EQ(postrix("-failstatus -problemdigest"), 6);
  EXPECT_EQ(logged(notSent), 2) << logText();
  EXPECT_EQ(recipients(), (Rows{"a@x.com", "a@x.com", "a@x.com"}));

  // A server that took no message of the run is not tried again.
  sql("DELETE FROM UserReports WHERE report_id = 3;");  // its page fails before any mail
  pointAt(closedPort());
  EXPECT_EQ(postrix("-problemdigest"), 7);
  EXPECT_EQ(logged("could not be sent: 4 No such IP or SMTP service is not available. Check that "
                   "the port is open (the mail server took no message of this run)]"),
            1)
      << logText();
}

TEST_F(FailureDigestRunTest, AnEmptyOrForgedProblemAddressIsAWarningAndNothingIsSent) {
  for (const char* value : {"''", "'problems@x.com' || char(10) || 'RCPT TO:<e@x.com>'"}) {
    sql(std::string("UPDATE System SET emailproblemreports=") + value + ";");
    ASSERT_EQ(postrix("-problemdigest"), 0);
  }
  const std::string warning =
      "[WARNING: -problemdigest is on, but the System table's "
      "emailproblemreports ('";
  EXPECT_EQ(logged(warning + "') holds no usable address: no failure digest is sent.]"), 1);
  EXPECT_EQ(logged(warning + "problems@x.com\\nRCPT TO:<e@x.com>') holds no usable"), 1);
  EXPECT_EQ(recipients(), (Rows{"a@x.com", "a@x.com"}));
}

}  // namespace
}  // namespace postrix::test
