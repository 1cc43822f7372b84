// The system's own Access SQL texts, run on the embedded engine against the shipped schema.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/db/connection.h"
#include "support/temp_database.h"

namespace postrix::db {
namespace {

class SystemSqlTest : public ::testing::Test {
 protected:
  std::vector<Variant> column(std::string_view sql, std::string_view field) {
    std::vector<Variant> values;
    for (Recordset rs = db_->Execute(sql); !rs.eof(); rs.MoveNext())
      values.push_back(rs.Fields(field));
    return values;
  }

  test::TempDir dir_;
  std::unique_ptr<Connection> db_ =
      Connection::Open(test::createSystemDatabase(dir_.file("s.mdb")));
};

TEST_F(SystemSqlTest, MappingQueryBuildsDsnOrTrimmedConnectionString) {
  db_->Execute(
      "INSERT INTO mappings VALUES (1, 'Yes', ' Sales ', 'u', 'p', NULL), "
      "(2, 'No', NULL, NULL, NULL, ' Driver=x;Server=y '), (3, 'No', NULL, NULL, NULL, NULL)");
  EXPECT_EQ(column("select mapping_id, iif(useDSN='yes', 'dsn=' & trim(dsn) & ';uid=' & "
                   "trim(database_username) & ';pwd=' & trim(database_password) & ';', "
                   "trim(database_string)) as myDSN from mappings",
                   "myDSN"),
            (std::vector<Variant>{"dsn=Sales;uid=u;pwd=p;", "Driver=x;Server=y", Variant::null()}));
}

TEST_F(SystemSqlTest, DashboardFilterMatchesTheFirstReportId) {
  db_->Execute(
      "INSERT INTO Dashboards (dashboard_id, report_ids, sendreport) VALUES "
      "(1, '12:5,7', 'on'), (2, '40', 'ON'), (3, '5,12', 'on'), (4, '12,3', 'on'),"
      "(5, '40', 'off'), (6, NULL, 'on')");
  EXPECT_EQ(column("SELECT * FROM Dashboards WHERE sendreport='on'  AND "
                   "iif(instr(1,report_ids,':'),Left([report_ids],InStr(1,[report_ids],':')-1),"
                   "iif(instr(1,report_ids, ','), Left([report_ids],InStr(1,[report_ids],',')-1), "
                   "report_ids)) IN ('12','40')",
                   "dashboard_id"),
            (std::vector<Variant>{1, 2, 4}));
}

TEST_F(SystemSqlTest, ReportUpdatesCountEmailsAndStampLocalTime) {
  db_->Execute("INSERT INTO UserReports (report_id, emailcount) VALUES (7, NULL), (8, NULL)");
  const char* bump =
      "UPDATE UserReports SET emailcount=iif(isnull(emailcount),1,emailcount+1) WHERE report_id=7";
  db_->Execute(bump);
  db_->Execute(bump);
  EXPECT_EQ(column("SELECT emailcount FROM UserReports", "emailcount"),
            (std::vector<Variant>{2, Variant::null()}));

  db_->Execute("UPDATE UserReports SET last_emailed=Date() WHERE report_id=7");
  EXPECT_EQ(column("SELECT last_emailed FROM UserReports WHERE report_id=7", "last_emailed"),
            std::vector<Variant>{SystemClock().now().datePart()});
  db_->Execute("UPDATE UserReports SET last_emailed=GETDATE() WHERE report_id=7");
  Date stored = column("SELECT last_emailed FROM UserReports", "last_emailed")[0].toDate();
  EXPECT_NEAR(stored.serial(), SystemClock().now().serial(), 5.0 / 86400);
}

TEST_F(SystemSqlTest, EmailLogTakesDateLiteralsInEitherFormAndKeepsQuotedText) {
  db_->Execute(
      "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus) VALUES (12, "
      "'Postrix', 'r', #2026-12-05 17:06:37#,'It''s sent & done #1')");
  db_->Execute(
      "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus, company_id) "
      "VALUES (12,'Postrix','r',#12/5/2026 5:06:37 PM#,'Message successfully sent.',3)");
  Variant when = Date::fromParts(2026, 12, 5, 17, 6, 37);
  EXPECT_EQ(column("SELECT log_date FROM Email_Log", "log_date"),
            (std::vector<Variant>{when, when}));
  EXPECT_EQ(column("SELECT msgstatus FROM Email_Log", "msgstatus"),
            (std::vector<Variant>{"It's sent & done #1", "Message successfully sent."}));
}

}  // namespace
}  // namespace postrix::db
