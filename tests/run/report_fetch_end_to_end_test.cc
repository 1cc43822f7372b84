// Report pages that could not be fetched, or were too large, in whole runs
// of the real program: what was mailed, the run log, Email_Log and UserReports.
#include <gtest/gtest.h>

#include "support/mail_reader.h"
#include "support/run_fixture.h"
#include "support/smtp_peer.h"
#include "support/web_app.h"

namespace postrix::test {
namespace {

using Rows = std::vector<std::string>;

const std::string kTooLarge =
    "ERROR: The report page is larger than 1 MB (-maxpagesize). Not sending the email.";

class ReportFetchEndToEndTest : public RunFixture {
 protected:
  ReportFetchEndToEndTest() {
    sql("UPDATE System SET urlorvanta='" + web.url("/") +
        "', smtpserver='127.0.0.1', smtpport=" + std::to_string(mail.port()) +
        ", smtptimeout=5;"
        // Per-company copies are not what these tests are about.
        "DROP TABLE CompanyReports;");
  }

  void addFavorite(int id, const std::string& url, const std::string& email) {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, 'Report " + std::to_string(id) + "', '" + url + "', 'html', '" +
        email + "', 'daily', 'on');");
  }

  Rows recipients() const {
    Rows rows;
    for (const auto& m : mail.received()) rows.push_back(m.to.empty() ? "" : m.to[0]);
    return rows;
  }
  Rows emailLog() const {
    return querySqlite(databasePath(), "SELECT report_id, emailaddress, msgstatus FROM Email_Log");
  }
  Rows lastStatus() const {
    return querySqlite(databasePath(), "SELECT report_id, laststatus FROM UserReports");
  }
  int count(const std::string& message) const {
    int n = 0;
    for (const auto& m : logMessages()) n += m == message;
    return n;
  }

  WebApp web;
  SmtpPeer mail;
};

TEST_F(ReportFetchEndToEndTest, APageThatCouldNotBeFetchedIsRecordedAsTheFailureItWas) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/r?a=1";
  addFavorite(1, web.url("/missing?a=1"), "a@x.com");
  addFavorite(2, refused, "b@x.com");
  addFavorite(3, web.url("/no-records?a=1"), "c@x.com");
  addFavorite(4, "analysis.asp?page=plain", "d@x.com");

  ASSERT_EQ(runPostrix("-date 12/5/2026 -emaillog -laststatus"), 0);

  EXPECT_EQ(recipients(), Rows{"d@x.com"}) << logText();
  EXPECT_EQ(emailLog(),
            (Rows{"1|a@x.com|ERROR: Server return code 404. Not sending the email.",
                  "2|b@x.com|ERROR: Could not connect to the server.",
                  "3|c@x.com|No Matching Records.", "4|d@x.com|Message successfully sent."}));
  EXPECT_EQ(lastStatus(),
            (Rows{"1|ERROR: Server return code 404. Not sending the email.",
                  "2|ERROR: Could not connect to the server.", "3|Warning: No Matching Records.",
                  "4|Message successfully sent."}));
  EXPECT_EQ(count("Warning: No Matching Records."), 1) << "only the page without records";
  EXPECT_EQ(count("ERROR: Connection to the server timed out."), 0) << "nothing timed out";

  // -fsend mails the error page itself, as designed.
  ASSERT_EQ(runPostrix("-date 12/5/2026 -id 1 -fsend"), 0);
  ASSERT_EQ(recipients(), (Rows{"d@x.com", "a@x.com"})) << logText();
  EXPECT_NE(mail.received()[1].data.find("Not found"), std::string::npos);
}

TEST_F(ReportFetchEndToEndTest, APageOverTheSizeLimitFailsItsReportAndOneJustUnderIsMailedWhole) {
  addFavorite(1, web.url("/endless?a=1"), "a@x.com");
  addFavorite(2, web.url("/gzip-bomb?a=1"), "b@x.com");
  addFavorite(3, web.url("/exact?bytes=1040000&mode=chunked"), "c@x.com");

  ASSERT_EQ(runPostrix("-date 12/5/2026 -maxpagesize 1 -emaillog -laststatus"), 0);

  EXPECT_EQ(recipients(), Rows{"c@x.com"}) << logText();
  EXPECT_EQ(emailLog(), (Rows{"1|a@x.com|" + kTooLarge, "2|b@x.com|" + kTooLarge,
                              "3|c@x.com|Message successfully sent."}));
  EXPECT_EQ(lastStatus(),
            (Rows{"1|" + kTooLarge, "2|" + kTooLarge, "3|Message successfully sent."}));
  EXPECT_EQ(count(kTooLarge), 2);
  ASSERT_EQ(mail.received().size(), 1u);
  std::string page = readerView(mail.received()[0].data);
  EXPECT_GT(page.size(), 1040000u);
  EXPECT_NE(page.find("</pre></body></html>"), std::string::npos) << "the page's end arrived";
}

}  // namespace
}  // namespace postrix::test
