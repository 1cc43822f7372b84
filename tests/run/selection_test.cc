// Selection against a real embedded system database: what is queued, for
// whom, and what the run log says about it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "run/dry_run.h"
#include "run/select_reports.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

class SelectionTest : public RunFixture {
 protected:
  // Favourites 1 (on, daily), 2 (off, daily) and 3 (on, weekly on Mondays:
  // not due on Saturday 5 December 2026).
  SelectionTest() {
    sql("INSERT INTO mappings VALUES (1,'Yes','salesdsn','sa','pw',''),"
        " (3,'No','','','','Server=erp;Database=Stock');"
        "INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES"
        " (1,1,'Sales','region=North&x=1','html','a@x.com','daily','on'),"
        " (2,1,'Off','x=1','csv','b@x.com','daily','off'),"
        " (3,1,'Weekly','x=1','html','c@x.com','weekly|2','on'),"
        " (12,3,'Stock','x=1','html','s@x.com','daily','on'),"
        " (40,3,'Stock 2','x=1','html','s@x.com','weekly|2','on');"
        "INSERT INTO Dashboards (dashboard_id, dashboard_title, format, email, report_ids,"
        " schedule_details, sendreport) VALUES (4,'Board','html','d@x.com','12:5,7','daily','on'),"
        " (9,'Other','html','e@x.com','5,12','daily','on'), (5,'Off','html','f@x.com','1',"
        " 'daily','off');"
        "DROP TABLE CompanyReports;");
  }

  // One line per queued favourite: kind, id, recipients and company.
  std::vector<std::string> select(const std::string& args) {
    EXPECT_FALSE(parse(args));
    auto queue = selectReports(*settings, *utilities);
    std::vector<std::string> lines;
    for (int i = 0; i < queue->numReports(); ++i) {
      const UserFavorite& f = *queue->getReport(i);
      std::string line = (f.isDashboard() ? "d" : "r") + std::to_string(f.reportid()) + " " +
                         f.reportEmails() + " c" + std::to_string(f.companyID());
      lines.push_back(line);
    }
    return lines;
  }

  using Lines = std::vector<std::string>;
};

TEST_F(SelectionTest, CompanyRowsReplaceTheFavouriteItself) {
  sql("CREATE TABLE CompanyReports (company_id INTEGER, email TEXT, type INTEGER,"
      " report_id INTEGER);"
      "INSERT INTO CompanyReports VALUES (7,'co7@x.com',1,1), (8,'co8@x.com',1,1),"
      " (9,'b9@x.com',2,4), (10,NULL,1,1);");
  EXPECT_EQ(select("-oemail over@x.com -id 1,12 -dashboardid 4"),
            (Lines{"r1 co7@x.com c7", "r1 co8@x.com c8", "d4 b9@x.com c9"}));
  // The company line names the favourite's recipients (or -oemail), not the company's.
  EXPECT_TRUE(logHas("Will send report 1 for company 7 to: over@x.com"));
  EXPECT_TRUE(logHas("Will send Dashboad 4 for company 9 to: b9@x.com"));
  EXPECT_TRUE(
      logHas("Report 12 is due but CompanyReports has no type-1 row for it, so it is "
             "not sent."));
  // A company row without an address is never sent with the favourite's data unfiltered.
  EXPECT_NE(logText().find("ERROR: 94 Invalid use of Null while executing 'SELECT company_id"),
            std::string::npos);
}

TEST_F(SelectionTest, ImmediateReportsAreMarkedSentAsTheyAreQueued) {
  sql("INSERT INTO emailReports (report_id, mapping_id, reporttitle, reporturl, format, email)"
      " VALUES (5,1,'Now','x=1','html','n@x.com'), (6,1,'Now 2','x=1','html','m@x.com');");
  EXPECT_EQ(select("-emailnow"), (Lines{"r5 n@x.com c-1", "r6 m@x.com c-1"}));
  EXPECT_TRUE(logHas("Sending immeditate report 5 to: n@x.com"));
  EXPECT_TRUE(logHas("Immediate report 6 is marked sent (emailReports.emailSent=1)."));
  auto rows = utilities->getSystemConn().Execute(
      "SELECT count(*) AS n FROM emailReports"
      " WHERE emailsent=1");
  EXPECT_EQ(rows.Fields("n").toInt32(), 2);
  // Selected but never sent (no cycle ran): the claims bring both back once.
  newRun();
  EXPECT_EQ(select("-emailnow"), (Lines{"r5 n@x.com c-1", "r6 m@x.com c-1"}));
  EXPECT_TRUE(
      logHas("Immediate report 5 was claimed by an earlier run that ended before sending "
             "it; it is sent now."));
}

TEST_F(SelectionTest, ConnectionStringFiltersFavouritesAndDashboardsByFirstReport) {
  // Mapping 3's favourites are 12 and 40: dashboard 4 (12:5,7) passes, 9 (5,12) does not.
  EXPECT_EQ(select("-connectionstring \"server=ERP\""),
            (Lines{"r12 s@x.com c-1", "d4 d@x.com c-1"}));
  newRun();
  sql("DROP TABLE mappings; CREATE TABLE mappings (mapping_id TEXT, useDSN TEXT, dsn TEXT,"
      " database_username TEXT, database_password TEXT, database_string TEXT);"
      "INSERT INTO mappings VALUES ('1) OR (1=1','No','','','','server=erp'),"
      " ('3','No','','','','server=erp');");
  EXPECT_EQ(select("-connectionstring server=erp -reportsonly"), (Lines{"r12 s@x.com c-1"}));
  EXPECT_TRUE(
      logHas("Mapping id '1) OR (1=1' is not a number and is left out of the "
             "-connectionstring filter."));
}

TEST_F(SelectionTest, DryRunShowsTheSameQueueAndChangesNothing) {
  sql("INSERT INTO emailReports (report_id, mapping_id, reporttitle, reporturl, format, email)"
      " VALUES (5,1,'Now','x=1','html','n@x.com');");
  auto dump = [&] {
    std::ifstream in(databasePath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string before = dump();
  ASSERT_FALSE(parse("-emailnow -dryrun"));
  std::ostringstream out;
  DryRun preview(out);
  preview.cycle(*settings, *utilities);
  preview.finish();
  EXPECT_EQ(out.str(),
            "report 5 \"Now\" to n@x.com format html company none alert none\n"
            "1 favourite would be sent; nothing was sent and nothing was changed.\n");
  EXPECT_EQ(dump(), before);
  EXPECT_TRUE(logHas("Sending immeditate report 5 to: n@x.com"));
}

}  // namespace
}  // namespace postrix::test
