// Whole runs of the real program where a report would go out broken or a
// saved message twice: pages that failed or were too large, report files that
// cannot be written, dashboards in formats nobody can send, a "Failed" folder
// the resend cannot clean up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/mail_reader.h"
#include "support/program_fixture.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

class DeliveryEndToEndTest : public ProgramFixture {
 protected:
  void addFavorite(int id, const std::string& title, const std::string& format,
                   const std::string& email, const std::string& url = "analysis.asp?page=plain") {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (" +
        std::to_string(id) + ", 7, '" + title + "', '" + url + "', '" + format + "', '" + email +
        "', 'daily', 'on');");
  }
  Rows recipients() const {
    Rows rows;
    for (const auto& m : mail.received()) rows.insert(rows.end(), m.to.begin(), m.to.end());
    return rows;
  }
};

TEST_F(DeliveryEndToEndTest, APageThatCouldNotBeFetchedIsRecordedAsTheFailureItWas) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/r?a=1";
  addFavorite(1, "A", "html", "a@x.com", web.url("/missing?a=1"));
  addFavorite(2, "B", "html", "b@x.com", refused);
  addFavorite(3, "C", "html", "c@x.com", web.url("/no-records?a=1"));
  addFavorite(4, "D", "html", "d@x.com");

  ASSERT_EQ(postrix("-emaillog -laststatus"), 0);

  EXPECT_EQ(recipients(), Rows{"d@x.com"}) << logText();
  EXPECT_EQ(query("SELECT report_id, msgstatus FROM Email_Log"),
            (Rows{"1|ERROR: Server return code 404. Not sending the email.",
                  "2|ERROR: Could not connect to the server.", "3|No Matching Records.",
                  "4|Message successfully sent."}));
  EXPECT_EQ(query("SELECT laststatus FROM UserReports WHERE report_id=3"),
            Rows{"Warning: No Matching Records."});
  EXPECT_FALSE(logHas("ERROR: Connection to the server timed out.")) << "nothing timed out";
}

TEST_F(DeliveryEndToEndTest, APageOverTheSizeLimitFailsItsReportAndOneJustUnderIsMailedWhole) {
  const std::string tooLarge =
      "ERROR: The report page is larger than 1 MB (-maxpagesize). Not sending the email.";
  addFavorite(1, "A", "html", "a@x.com", web.url("/endless?a=1"));
  addFavorite(2, "B", "html", "b@x.com", web.url("/gzip-bomb?a=1"));
  addFavorite(3, "C", "html", "c@x.com", web.url("/exact?bytes=1040000&mode=chunked"));

  ASSERT_EQ(postrix("-maxpagesize 1 -emaillog -laststatus"), 0);

  EXPECT_EQ(recipients(), Rows{"c@x.com"}) << logText();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"),
            (Rows{tooLarge, tooLarge, "Message successfully sent."}));
  EXPECT_EQ(query("SELECT laststatus FROM UserReports"),
            (Rows{tooLarge, tooLarge, "Message successfully sent."}));
  std::string page = readerView(mail.received().at(0).data);
  EXPECT_NE(page.find("</pre></body></html>"), std::string::npos) << "the page's end arrived";
}

TEST_F(DeliveryEndToEndTest, AReportWhoseFileCannotBeWrittenIsNotMailed) {
  addFavorite(1, std::string(300, 'L'), "csv", "a@x.com");
  addFavorite(2, "Sales", "html", "b@x.com");

  ASSERT_EQ(postrix("-reportname -emaillog -laststatus"), 0);
  EXPECT_EQ(recipients(), Rows{"b@x.com"}) << logText();
  std::string tooLong = "ERROR: 57 Device I/O error (File name too long) while writing '" +
                        programFolder() + "/" + std::string(300, 'L') +
                        ".csv'. Report 1 is not sent.";
  EXPECT_TRUE(logHas(tooLong)) << logText();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log WHERE report_id=1"), Rows{tooLong});
  EXPECT_EQ(query("SELECT laststatus FROM UserReports WHERE report_id=1"), Rows{tooLong});

  std::ofstream(programFolder() + "/Reports") << "a file where the folder should be";
  sql("DELETE FROM Email_Log");
  ASSERT_EQ(postrix("-archive -id 1 -emaillog"), 0);
  EXPECT_EQ(recipients(), Rows{"b@x.com"}) << logText();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"),
            Rows{"ERROR: 76 Path not found while preparing the output folder. Report 1 is not "
                 "sent."});
}

TEST_F(DeliveryEndToEndTest, ADashboardInAFormatThePipelineHasNoWayForIsNotMailed) {
  sql("INSERT INTO Dashboards VALUES (40, 'Board', '', 'board=1', 'HTML', 'g@x.com', '1', "
      "'daily', 'on'), (41, 'Odd', '', 'board=2', 'xyz', 'h@x.com', '1', 'daily', 'on'),"
      "(43, 'Sheet', '', 'board=4', 'csv', 'j@x.com', '1', 'daily', 'on'),"
      "(42, 'Good', '', 'board=3', 'html', 'i@x.com', '1', 'daily', 'on');");
  addFavorite(1, "Sales", "xyz", "a@x.com");

  ASSERT_EQ(postrix("-emaillog"), 0);

  EXPECT_EQ(recipients(), (Rows{"a@x.com", "i@x.com"})) << logText();
  EXPECT_NE(readerView(mail.received()[0].data).find("page=plain&amp;r_title=Sales"),
            std::string::npos)
      << "a favourite of that format still goes out with its page";
  Rows refused = {
      "40|ERROR: Dashboard 40 is in 'HTML' format, which Postrix cannot send; it is not sent.",
      "41|ERROR: Dashboard 41 is in 'xyz' format, which Postrix cannot send; it is not sent.",
      "43|ERROR: Dashboard 43 is in 'csv' format, which Postrix cannot send; it is not sent."};
  EXPECT_EQ(query("SELECT report_id, msgstatus FROM Email_Log WHERE report_id IN (40, 41, 43)"),
            refused);
  EXPECT_TRUE(logHas(refused[1].substr(3)));
}

TEST_F(DeliveryEndToEndTest, AResentMessageThatCannotLeaveFailedIsNotSentAgain) {
  std::string failed = programFolder() + "/Failed", saved = failed + "/12_261205.eml";
  fs::create_directories(failed);
  std::ofstream(saved, std::ios::binary)
      << "From: postrix@example.com\r\nTo: a@x.com\r\nSubject: Saved\r\n\r\n<p>saved</p>\r\n";
  // root may remove anything, so the runs go as nobody, who must still reach the installation.
  std::string asUser;
  if (geteuid() == 0) {
    asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    for (const std::string& path : {home.path(), programFolder(), home.file("qx_data")})
      ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(chmod(databasePath().c_str(), 0666), 0);
  }
  ASSERT_EQ(chmod(failed.c_str(), 0555), 0);

  ASSERT_EQ(postrix("-sendfailed", asUser), 0);
  ASSERT_EQ(postrix("-sendfailed", asUser), 0);

  EXPECT_EQ(recipients(), Rows{"a@x.com"}) << logText();
  EXPECT_TRUE(
      logHas("ERROR: 75 The sent message '" + saved + "' cannot be removed (Permission denied)."))
      << logText();
  EXPECT_TRUE(logHas("Not sent again: '" + saved +
                     "' was sent by an earlier run and still cannot be removed (Permission "
                     "denied)."));

  // Once the folder can be cleaned up, the next run does so without sending.
  ASSERT_EQ(chmod(failed.c_str(), 0777), 0);
  ASSERT_EQ(postrix("-sendfailed", asUser), 0);
  EXPECT_EQ(recipients(), Rows{"a@x.com"});
  EXPECT_TRUE(fs::is_empty(failed));
}

}  // namespace
}  // namespace postrix::test
