// Whole runs of the real program: an installation with its embedded system
// database, the local web application serving the report pages and charts,
// and the local mail server receiving what is sent.
#include <gtest/gtest.h>

#include "support/mail_reader.h"
#include "support/program_fixture.h"

namespace postrix::test {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class EndToEndTest : public ProgramFixture {
 protected:
  void addFavorite(int id, const std::string& title, const std::string& form,
                   const std::string& format, const std::string& email,
                   const std::string& extra = "") {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport, extra_desc) VALUES (" +
        std::to_string(id) + ", 7, '" + title + "', 'analysis.asp?" + form + "', '" + format +
        "', '" + email + "', 'daily', 'on', '" + extra + "');");
  }

  std::vector<ReceivedMail> received() const { return mail.received(); }

  // The recipients of each received message, in the order received.
  Rows recipients() const {
    Rows rows;
    for (const auto& m : received()) rows.push_back(m.to.empty() ? "" : m.to[0]);
    return rows;
  }

  // The requests the web application received for path.
  Rows requestsFor(const std::string& path) const {
    Rows found;
    for (const auto& r : web.requests())
      if (r.path.rfind(path, 0) == 0) found.push_back(r.path + " " + r.body);
    return found;
  }
};

TEST_F(EndToEndTest, ACycleMailsEachDueFavouriteInOrderAndRecordsEachOutcome) {
  addFavorite(1, "Sales", "page=plain", "html", "a@x.com");
  addFavorite(2, "Stock", "page=plain", "csv", "b@x.com", "Stock levels attached");
  addFavorite(3, "Orders", "page=plain", "csv", "c@x.com");
  addFavorite(4, "Empty", "page=norecords", "html", "d@x.com");
  addFavorite(5, "Broken", "page=fail", "html", "e@x.com");
  addFavorite(6, "Ledger", "page=plain", "pdf", "f@x.com");
  sql("INSERT INTO Dashboards VALUES (40, 'Board', '', 'board=1', 'html', 'g@x.com', '1', "
      "'daily', 'on');");
  addFavorite(40, "Not due", "page=plain", "html", "h@x.com");
  sql("UPDATE UserReports SET sendreport='off' WHERE report_id=40");

  ASSERT_EQ(postrix("-emaillog -laststatus -reportname"), 0);

  EXPECT_EQ(recipients(), (Rows{"a@x.com", "b@x.com", "c@x.com", "f@x.com", "g@x.com"}))
      << "the page without records and the failed page are not mailed; dashboards come last";
  auto messages = received();
  ASSERT_EQ(messages.size(), 5u) << logText();

  std::string sales = readerView(messages[0].data);
  EXPECT_TRUE(contains(sales, "defects 0")) << sales;
  EXPECT_TRUE(contains(sales, "subject 'Sales: 12/5/2026'")) << sales;
  EXPECT_TRUE(contains(sales, "page=plain&amp;r_title=Sales")) << "the report page is the body";

  std::string stock = readerView(messages[1].data);
  EXPECT_TRUE(contains(stock, "html 'Stock levels attached'")) << stock;
  EXPECT_TRUE(contains(stock, "part Stock.csv")) << stock;
  EXPECT_TRUE(contains(readFile(programFolder() + "/Stock.csv"), "page=plain&amp;r_title=Stock"));
  EXPECT_TRUE(contains(requestsFor("/analysis.asp")[1], "reportid=2&format=csv"));
  std::string orders = readerView(messages[2].data);
  EXPECT_TRUE(contains(orders, "html 'Please see the attached CSV file.'")) << orders;
  EXPECT_TRUE(contains(orders, "part Orders.csv")) << orders;

  std::string ledger = readerView(messages[3].data);
  EXPECT_TRUE(contains(ledger, "r_title=Ledger")) << "sent as an HTML body: " << ledger;
  EXPECT_EQ(occurrences(ledger, "\npart "), 0) << ledger;
  EXPECT_TRUE(contains(logText(),
                       "[No PDF converter runs for the kind 'f': a PDF format ends in l "
                       "(landscape) or p (portrait).]"))
      << logText();
  EXPECT_TRUE(contains(logText(), "[No attachment Added]"));
  EXPECT_TRUE(contains(logText(), "[WARNING: Report 6 has no PDF; its page is sent as the body.]"));
  EXPECT_TRUE(contains(readerView(messages[4].data), "board=1")) << "the dashboard's own page";
  EXPECT_EQ(requestsFor("/dashboard.asp").size(), 1u);

  EXPECT_EQ(
      query("SELECT report_id, emailaddress, msgstatus FROM Email_Log"),
      (Rows{"1|a@x.com|Message successfully sent.", "2|b@x.com|Message successfully sent.",
            "3|c@x.com|Message successfully sent.", "4|d@x.com|No Matching Records.",
            "5|e@x.com|ERROR: Server return code 500. Not sending the email.",
            "6|f@x.com|Message successfully sent.", "40|g@x.com|Message successfully sent."}));
  EXPECT_EQ(query("SELECT report_id, laststatus FROM UserReports WHERE report_id IN (1, 4, 5, 40)"),
            (Rows{"1|Message successfully sent.", "4|Warning: No Matching Records.",
                  "5|ERROR: Server return code 500. Not sending the email.", "40|NULL"}))
      << "dashboard 40 leaves favourite 40's status alone";
  std::string log = logText();
  EXPECT_TRUE(contains(log, "[ERROR: Server return code 500. Not sending the email.]"));
  EXPECT_EQ(occurrences(log, "[Warning: No Matching Records.]"), 1)
      << "the failed page is no warning";
  EXPECT_LT(log.find("Server return code 500"), log.find("New Report 6"))
      << "the failed page does not stop the favourites after it";
  const std::string finished = "[Finished.]\r\n";
  EXPECT_EQ(log.substr(log.size() - finished.size()), finished) << "the last line of the cycle";

  // -fsend mails the page without records all the same.
  ASSERT_EQ(postrix("-id 4 -fsend"), 0);
  ASSERT_EQ(received().size(), 6u);
  EXPECT_EQ(received()[5].to, Rows{"d@x.com"});
  EXPECT_TRUE(contains(received()[5].data, "No Matching Records"));
}

TEST_F(EndToEndTest, ChartsTravelAsContentIdPartsOrInlineForPagesThatDrawThemselves) {
  addFavorite(1, "Charts", "page=charts&charts=north,south,north,east", "html", "a@x.com");
  addFavorite(2, "Scripted", "page=chartscript&charts=west", "html", "b@x.com");

  ASSERT_EQ(postrix(""), 0);
  ASSERT_EQ(received().size(), 2u) << logText();
  std::string charts = readerView(received()[0].data);
  EXPECT_EQ(occurrences(charts, "\npart qx_chart"), 3) << charts;
  for (const char* part : {"qx_chart1.jpg <qx_chart1.jpg>", "qx_chart2.jpg <qx_chart2.jpg>",
                           "qx_chart3.jpg <qx_chart3.jpg>"})
    EXPECT_TRUE(contains(charts, std::string("part ") + part)) << charts;
  EXPECT_EQ(occurrences(charts, "src=\"cid:qx_chart1.jpg\""), 2)
      << "the same chart is attached once";
  EXPECT_EQ(occurrences(charts, "src=\"cid:qx_chart2.jpg\""), 1);
  EXPECT_EQ(occurrences(charts, "src=\"cid:qx_chart3.jpg\""), 1);
  EXPECT_TRUE(contains(received()[0].data, "Content-Type: image/jpeg"));

  std::string scripted = readerView(received()[1].data);
  EXPECT_TRUE(contains(scripted, "src=\"data:image/jpeg;base64,iVBORw0KGgo")) << scripted;
  EXPECT_EQ(occurrences(scripted, "\npart "), 0) << scripted;
  EXPECT_EQ(requestsFor("/analysis_chart.asp").size(), 4u) << "north, south, east and west";

  // The other component shape gives its parts the content ids too.
  ASSERT_EQ(postrix("-cdo -id 1"), 0);
  ASSERT_EQ(received().size(), 3u) << logText();
  std::string cdo = readerView(received()[2].data);
  EXPECT_TRUE(contains(cdo, "part qx_chart3.jpg <qx_chart3.jpg>")) << cdo;
  EXPECT_EQ(occurrences(cdo, "src=\"cid:qx_chart1.jpg\""), 2) << cdo;
}

TEST_F(EndToEndTest, EachCompanyGetsItsOwnCopy) {
  addFavorite(1, "Sales", "page=plain", "html", "owner@x.com");
  sql("CREATE TABLE CompanyReports (company_id INTEGER, email TEXT, type INTEGER,"
      " report_id INTEGER);"
      "INSERT INTO CompanyReports VALUES (5, 'c5@x.com', 1, 1), (6, 'c6@x.com', 1, 1);");

  ASSERT_EQ(postrix("-emaillog"), 0);

  EXPECT_EQ(recipients(), (Rows{"c5@x.com", "c6@x.com"})) << logText();
  Rows pages = requestsFor("/analysis.asp");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(contains(pages[0], "reportid=1&company_id=5 ")) << pages[0];
  EXPECT_TRUE(contains(pages[1], "reportid=1&company_id=6 ")) << pages[1];
  EXPECT_EQ(query("SELECT emailaddress, company_id FROM Email_Log"),
            (Rows{"c5@x.com|5", "c6@x.com|6"}));
}

}  // namespace
}  // namespace postrix::test
