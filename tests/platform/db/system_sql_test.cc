// The system's own SQL texts, exactly as it writes them for Access, run on the
// embedded engine against a database made from the shipped schema.
#include <gtest/gtest.h>

#include <set>

#include "platform/clock.h"
#include "platform/db/connection.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::db {
namespace {

// The failure number the call ends with, or 0.
template <typename Call>
long failureNumber(Call call) {
  try {
    call();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

class SystemSqlTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = Connection::Open(test::createSystemDatabase(path_)); }

  void seed(const std::string& sql) { test::runSqlite(path_, sql); }

  // The values of one field over every row.
  std::vector<Variant> column(std::string_view sql, std::string_view field) {
    std::vector<Variant> values;
    for (Recordset rs = db_->Execute(sql); !rs.eof(); rs.MoveNext()) {
      values.push_back(rs.Fields(field));
    }
    return values;
  }

  test::TempDir dir_;
  std::string path_ = dir_.file("system.mdb");
  std::unique_ptr<Connection> db_;
};

TEST_F(SystemSqlTest, MappingQueryBuildsDsnOrTrimmedConnectionString) {
  seed(
      "INSERT INTO mappings VALUES (1, 'Yes', ' Sales ', 'u', 'p', NULL);"
      "INSERT INTO mappings VALUES (2, 'No', NULL, NULL, NULL, ' Driver=x;Server=y ');"
      "INSERT INTO mappings VALUES (3, 'No', NULL, NULL, NULL, NULL);");
  std::vector<Variant> dsn = column(
      "select mapping_id, iif(useDSN='yes', 'dsn=' & trim(dsn) & ';uid=' & "
      "trim(database_username) & ';pwd=' & trim(database_password) & ';', "
      "trim(database_string)) as myDSN from mappings",
      "myDSN");
  ASSERT_EQ(dsn.size(), 3u);
  EXPECT_EQ(dsn[0], Variant("dsn=Sales;uid=u;pwd=p;"));
  EXPECT_EQ(dsn[1], Variant("Driver=x;Server=y"));
  EXPECT_TRUE(dsn[2].isNull());
}

TEST_F(SystemSqlTest, DashboardFilterMatchesTheFirstReportId) {
  seed(
      "INSERT INTO Dashboards (dashboard_id, report_ids, sendreport) VALUES "
      "(1, '12:5,7', 'on'), (2, '40', 'ON'), (3, '5,12', 'on'), (4, '12,3', 'on'),"
      "(5, '40', 'off'), (6, NULL, 'on');");
  std::vector<Variant> ids = column(
      "SELECT * FROM Dashboards WHERE sendreport='on'  AND "
      "iif(instr(1,report_ids,':'),Left([report_ids],InStr(1,[report_ids],':')-1),"
      "iif(instr(1,report_ids, ','), Left([report_ids],InStr(1,[report_ids],',')-1), "
      "report_ids)) IN ('12','40')",
      "dashboard_id");
  EXPECT_EQ(ids, (std::vector<Variant>{1, 2, 4}));
}

TEST_F(SystemSqlTest, EmailCountStartsAtOneThenCounts) {
  seed("INSERT INTO UserReports (report_id, emailcount) VALUES (7, NULL), (8, NULL);");
  const char* bump =
      "UPDATE UserReports SET emailcount=iif(isnull(emailcount),1,emailcount+1) WHERE report_id=7";
  long affected = 0;
  db_->Execute(bump, &affected);
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(column("SELECT emailcount FROM UserReports WHERE report_id=7", "emailcount"),
            std::vector<Variant>{1});
  db_->Execute(bump);
  EXPECT_EQ(column("SELECT emailcount FROM UserReports ORDER BY report_id", "emailcount"),
            (std::vector<Variant>{2, Variant::null()}));
}

TEST_F(SystemSqlTest, LastEmailedTakesTodayOrNowInLocalTime) {
  seed("INSERT INTO UserReports (report_id) VALUES (7);");
  db_->Execute("UPDATE UserReports SET last_emailed=Date() WHERE report_id=7");
  Date today = SystemClock().now().datePart();
  EXPECT_EQ(column("SELECT last_emailed FROM UserReports", "last_emailed"),
            std::vector<Variant>{today});

  db_->Execute("UPDATE UserReports SET last_emailed=GETDATE() WHERE report_id=7");
  Date stored = column("SELECT last_emailed FROM UserReports", "last_emailed")[0].toDate();
  EXPECT_NEAR(stored.serial(), SystemClock().now().serial(), 5.0 / 86400);
}

TEST_F(SystemSqlTest, EmailLogTakesAccessDateLiteralsInEitherForm) {
  db_->Execute(
      "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus) VALUES (12, "
      "'Postrix', 'r', #2026-12-05 17:06:37#,'Message successfully sent.')");
  db_->Execute(
      "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus, company_id) "
      "VALUES (12,'Postrix','r',#12/5/2026 5:06:37 PM#,'Message successfully sent.',3)");
  Variant want = Date::fromParts(2026, 12, 5, 17, 6, 37);
  EXPECT_EQ(column("SELECT log_date FROM Email_Log", "log_date"),
            (std::vector<Variant>{want, want}));
  EXPECT_EQ(column("SELECT company_id FROM Email_Log", "company_id"),
            (std::vector<Variant>{Variant::null(), 3}));
}

TEST_F(SystemSqlTest, LiteralTextKeepsApostrophesAmpersandsAndHashes) {
  db_->Execute(
      "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus) VALUES (12, "
      "'Postrix', 'r', #2026-12-05 17:06:37#,'It''s sent & done #1')");
  EXPECT_EQ(column("SELECT msgstatus FROM Email_Log", "msgstatus"),
            std::vector<Variant>{"It's sent & done #1"});
}

TEST_F(SystemSqlTest, CompanyRecipientsByBracketedTypeThenTableMissing) {
  seed("INSERT INTO CompanyReports VALUES (3, 'a@x', 1, 5), (4, 'b@x', 2, 5), (5, 'c@x', 1, 6);");
  const char* sql = "SELECT company_id, email FROM CompanyReports WHERE [type]=1 AND report_id=5";
  EXPECT_EQ(column(sql, "email"), std::vector<Variant>{"a@x"});

  seed("DROP TABLE CompanyReports;");
  auto reopened = Connection::Open(db_->ConnectionString());
  EXPECT_EQ(failureNumber([&] { reopened->Execute(sql); }), err::kTableNotFound);
}

TEST_F(SystemSqlTest, FlagsAndNamesCompareWithoutCase) {
  seed(
      "INSERT INTO UserReports (report_id, sendreport) VALUES (1, 'On'), (2, 'ON'), (3, 'off');"
      "INSERT INTO emailReports (report_id, emailsent) VALUES (3, 0), (4, 1);");
  EXPECT_EQ(column("SELECT * FROM userreports WHERE sendreport='on' ", "REPORT_ID"),
            (std::vector<Variant>{1, 2}));
  EXPECT_EQ(column("SELECT * FROM emailReports WHERE emailsent=0", "report_id"),
            std::vector<Variant>{3});
  long affected = 0;
  db_->Execute("update emailReports set emailSent=1 where report_ID = 3", &affected);
  EXPECT_EQ(affected, 1);
  EXPECT_TRUE(column("SELECT * FROM emailReports WHERE emailsent=0", "report_id").empty());
}

TEST_F(SystemSqlTest, StatusUpdateWithMixedCaseColumn) {
  seed("INSERT INTO UserReports (report_id, laststatus) VALUES (7, 'old'), (8, 'old');");
  db_->Execute("update UserReports set laststatus='x' where report_ID =7");
  EXPECT_EQ(column("SELECT laststatus FROM UserReports ORDER BY report_id", "laststatus"),
            (std::vector<Variant>{"x", "old"}));
}

TEST_F(SystemSqlTest, FailuresOfTheSystemsTexts) {
  auto run = [this](std::string_view sql) { return [this, sql] { db_->Execute(sql); }; };
  EXPECT_EQ(failureNumber(run("SELECT * FROM mass_reports_to_emal")), err::kTableNotFound);
  EXPECT_EQ(failureNumber(run("SELECT * FORM System")), err::kSyntaxError);
  EXPECT_EQ(failureNumber(run("SELECT smtpserverr FROM System")), err::kUnknownColumn);

  seed("INSERT INTO System (smtpserver) VALUES (NULL);");
  Recordset rs = db_->Execute("SELECT * FROM System");
  EXPECT_EQ(failureNumber([&rs] { rs.Fields("nosuchfield"); }), err::kFieldNotFound);
  EXPECT_EQ(failureNumber([&rs] { rs.Fields("smtpserver").toText(); }), err::kInvalidUseOfNull);
}

}  // namespace
}  // namespace postrix::db
