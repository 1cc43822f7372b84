// ODBC through unixODBC to Debian's SQLite ODBC driver, with a data source
// named in a test-local odbc.ini (see support/temp_database.h).
#include "platform/db/odbc_connection.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::db {
namespace {

constexpr const char* kSystemDsn = "dsn=SystemDB;uid=Admin;password=qmw7315";

class OdbcConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::runSqlite(test::odbcSystemDatabase(),
                    "DELETE FROM UserReports; DELETE FROM reportsemails;"
                    "INSERT INTO UserReports (report_id, reporttitle, sendreport, emailcount, "
                    "last_emailed) VALUES (7, 'Sales', 'on', NULL, '2026-12-05 17:06:37'),"
                    "(8, 'Stock', 'off', 3, NULL);");
    db_ = Connection::Open(kSystemDsn);
  }

  long failureOf(std::string_view sql, std::string* description = nullptr) {
    try {
      db_->Execute(sql);
    } catch (const Failure& f) {
      if (description) *description = f.description();
      return f.number();
    }
    return 0;
  }

  std::unique_ptr<Connection> db_;
};

TEST_F(OdbcConnectionTest, BareDataSourceNameGoesToOdbc) {
  EXPECT_NE(dynamic_cast<OdbcConnection*>(db_.get()), nullptr);
  EXPECT_EQ(db_->ConnectionString(), kSystemDsn);
}

TEST_F(OdbcConnectionTest, RowsComeBackConvertedBySqlType) {
  Recordset rs = db_->Execute(
      "SELECT report_id, reporttitle, emailcount, last_emailed, 2.5 AS ratio "
      "FROM UserReports ORDER BY report_id");
  ASSERT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.Fields("REPORT_ID"), Variant(7));
  EXPECT_EQ(rs.Fields("reporttitle"), Variant("Sales"));
  EXPECT_TRUE(rs.Fields("emailcount").isNull());
  EXPECT_EQ(rs.Fields("last_emailed"), Variant(Date::fromParts(2026, 12, 5, 17, 6, 37)));
  EXPECT_EQ(rs.Fields("ratio"), Variant(2.5));
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("emailcount"), Variant(3));
  EXPECT_TRUE(rs.Fields("last_emailed").isNull());
}

TEST_F(OdbcConnectionTest, FieldTypesAreAdoCodes) {
  Recordset rs = db_->Execute(
      "select * from ( select report_id, reporttitle from UserReports ) as dummy_name where 1=0");
  ASSERT_EQ(rs.FieldList().size(), 2u);
  EXPECT_FALSE(isTextType(rs.FieldList()[0].Type)) << rs.FieldList()[0].Type;
  EXPECT_TRUE(isTextType(rs.FieldList()[1].Type)) << rs.FieldList()[1].Type;
  EXPECT_TRUE(rs.eof());
}

TEST_F(OdbcConnectionTest, LongTextArrivesWhole) {
  std::string longText(10000, 'x');
  longText += "end";
  db_->Execute("UPDATE UserReports SET reporturl='" + longText + "' WHERE report_id=7");
  Recordset rs = db_->Execute("SELECT reporturl FROM UserReports WHERE report_id=7");
  EXPECT_EQ(rs.Fields("reporturl"), Variant(longText));
}

TEST_F(OdbcConnectionTest, UpdatesCountRowsAndNoMatchIsNoFailure) {
  long affected = -1;
  Recordset rs = db_->Execute("UPDATE UserReports SET laststatus='x'", &affected);
  EXPECT_FALSE(rs.isOpen());
  EXPECT_EQ(affected, 2);
  db_->Execute("UPDATE UserReports SET laststatus='y' WHERE report_id=99", &affected);
  EXPECT_EQ(affected, 0);
}

TEST_F(OdbcConnectionTest, SqlIsSentUnchanged) {
  EXPECT_EQ(db_->Execute("SELECT 6 & 3 AS v").Fields("v"), Variant(2)) << "& is bitwise and";
  EXPECT_EQ(failureOf("SELECT Left('ab', 1)"), err::kSyntaxError);
}

TEST_F(OdbcConnectionTest, DriverErrorsAreClassifiedByTheirText) {
  std::string description;
  EXPECT_EQ(failureOf("SELECT * FROM CompanyReportz", &description), err::kTableNotFound);
  EXPECT_NE(description.find("no such table: CompanyReportz"), std::string::npos) << description;
  EXPECT_EQ(failureOf("SELEC * FROM System"), err::kSyntaxError);
  EXPECT_EQ(failureOf("SELECT nosuchcolumn FROM System"), err::kUnknownColumn);
  EXPECT_EQ(failureOf("INSERT INTO UserReports (report_id) VALUES (7)"), err::kCannotOpen);
}

TEST_F(OdbcConnectionTest, UnknownDataSourceCannotBeOpened) {
  try {
    Connection::Open("dsn=nosuchdsn;uid=Admin;password=qmw7315");
    FAIL() << "connected to a data source that does not exist";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), err::kCannotOpen);
    EXPECT_NE(f.description().find("Data source name not found"), std::string::npos)
        << f.description();
  }
}

TEST_F(OdbcConnectionTest, TableNamesListTheSchemaTables) {
  std::vector<std::string> names = db_->TableNames();
  for (const char* table :
       {"System", "UserReports", "emailReports", "mass_reports_to_email", "reportsemails",
        "mappings", "CompanyReports", "Dashboards", "Email_Log"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), table), names.end()) << table;
  }
}

}  // namespace
}  // namespace postrix::db
