// The embedded engine: opening, values and their types, Access functions,
// failures. The system's own SQL texts are in system_sql_test.cc.
#include "platform/db/sqlite_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/clock.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::db {
namespace {

class SqliteConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connectionString_ = test::createSystemDatabase(path_);
    db_ = Connection::Open(connectionString_);
  }

  // The value of the field v in the query's first row.
  Variant value(std::string_view sql) { return db_->Execute(sql).Fields("v"); }

  // The failure number the statement ends with, or 0.
  long failureOf(std::string_view sql, std::string* description = nullptr) {
    try {
      db_->Execute(sql);
    } catch (const Failure& f) {
      if (description) *description = f.description();
      return f.number();
    }
    return 0;
  }

  test::TempDir dir_;
  std::string path_ = dir_.file("system.mdb");
  std::string connectionString_;
  std::unique_ptr<Connection> db_;
};

long openFailure(const std::string& connectionString, std::string* description = nullptr) {
  try {
    Connection::Open(connectionString);
  } catch (const Failure& f) {
    if (description) *description = f.description();
    return f.number();
  }
  return 0;
}

TEST_F(SqliteConnectionTest, OpensByEitherDriverNameInAnyCase) {
  EXPECT_EQ(db_->ConnectionString(), connectionString_);
  for (std::string cs : {"DRIVER={microsoft access driver (*.mdb)};DBQ=" + path_ + ";Uid=Admin",
                         "Driver={Microsoft Access Driver (*.mdb, *.accdb)};Dbq=" + path_,
                         "Driver=SQLite3;Database=" + path_}) {
    EXPECT_NO_THROW(Connection::Open(cs)->Execute("select * from System")) << cs;
  }
}

TEST_F(SqliteConnectionTest, MissingOrForeignFileCannotBeOpenedAndIsNotCreated) {
  std::string missing = dir_.file("absent.mdb"), description;
  EXPECT_EQ(openFailure("Driver={Microsoft Access Driver (*.mdb)};Dbq=" + missing, &description),
            err::kCannotOpen);
  EXPECT_NE(description.find(missing), std::string::npos) << description;
  EXPECT_FALSE(std::filesystem::exists(missing));

  std::string junk = dir_.file("junk.mdb");
  std::filesystem::copy_file(POSTRIX_SOURCE_DIR "/schema/system.sql", junk);
  EXPECT_EQ(openFailure("Driver=SQLite3;Database=" + junk, &description), err::kCannotOpen);
  EXPECT_NE(description.find("not a database"), std::string::npos) << description;
  EXPECT_EQ(openFailure("Driver=SQLite3;Uid=x"), err::kCannotOpen);
}

TEST_F(SqliteConnectionTest, ValuesComeBackWithTheirKinds) {
  db_->Execute(
      "INSERT INTO UserReports (report_id, reporttitle, emailcount, last_emailed, laststatus) "
      "VALUES (1, 'Sales', 4, '2026-12-05 17:06:37', NULL)");
  Recordset rs = db_->Execute(
      "SELECT report_id, reporttitle, emailcount, last_emailed, laststatus, 2.5 AS ratio, "
      "x'414243' AS raw FROM UserReports");
  EXPECT_EQ(rs.Fields("report_id"), Variant(1));
  EXPECT_EQ(rs.Fields("REPORTTITLE"), Variant("Sales"));
  EXPECT_EQ(rs.Fields("last_emailed"), Variant(Date::fromParts(2026, 12, 5, 17, 6, 37)));
  EXPECT_TRUE(rs.Fields("laststatus").isNull());
  EXPECT_THROW(rs.Fields("laststatus").toText(), Failure);
  EXPECT_EQ(rs.Fields("ratio"), Variant(2.5));
  EXPECT_EQ(rs.Fields("raw"), Variant("ABC"));
}

TEST_F(SqliteConnectionTest, DateColumnKeepsTextThatIsNoDate) {
  db_->Execute("INSERT INTO UserReports (report_id, last_emailed) VALUES (1, 'never')");
  EXPECT_EQ(db_->Execute("SELECT last_emailed FROM UserReports").Fields("last_emailed"),
            Variant("never"));
}

TEST_F(SqliteConnectionTest, FieldTypesFollowDeclaredTypesOrFirstValue) {
  test::runSqlite(path_,
                  "CREATE TABLE t (a BIGINT, b VARCHAR(10), c MEMO, d DOUBLE, e BIT, f BLOB, "
                  "g DECIMAL(5,2), h DATETIME, i INTEGER)");
  Recordset rs = db_->Execute("SELECT t.*, 1 AS n, 1.5 AS r, 'x' AS s FROM t");
  std::vector<int> want = {20, 202, 203, 5, 11, 205, 131, 7, 3, 202, 202, 202};
  std::vector<int> got;
  for (const FieldInfo& f : rs.FieldList()) got.push_back(f.Type);
  EXPECT_EQ(got, want) << "no rows: expressions default to text";

  db_->Execute("INSERT INTO t (i) VALUES (1)");
  rs = db_->Execute("SELECT 1 AS n, 1.5 AS r, 'x' AS s, NULL AS z FROM t");
  got.clear();
  for (const FieldInfo& f : rs.FieldList()) got.push_back(f.Type);
  EXPECT_EQ(got, (std::vector<int>{3, 5, 202, 202}));
}

TEST_F(SqliteConnectionTest, SubqueryColumnsKeepTheirDeclaredTypes) {
  Recordset rs =
      db_->Execute("select * from ( select id, email from reportsemails ) as dummy_name where 1=0");
  ASSERT_EQ(rs.FieldList().size(), 2u);
  EXPECT_EQ(rs.FieldList()[0].Type, ado_type::kInteger);
  EXPECT_TRUE(isTextType(rs.FieldList()[1].Type));
  EXPECT_TRUE(rs.eof());
}

TEST_F(SqliteConnectionTest, StatementsWithoutRowsReportChangedRows) {
  long affected = -1;
  Recordset rs =
      db_->Execute("INSERT INTO reportsemails (id, email) VALUES (1, 'a'), (2, 'b')", &affected);
  EXPECT_FALSE(rs.isOpen());
  EXPECT_EQ(affected, 2);
  db_->Execute("UPDATE reportsemails SET email = 'c' WHERE id = 99", &affected);
  EXPECT_EQ(affected, 0);
  db_->Execute("CREATE TABLE extra (x INTEGER)", &affected);
  EXPECT_EQ(affected, 0) << "DDL must not repeat the previous statement's count";
}

// The system's common failures are in system_sql_test.cc; these are the rest.
TEST_F(SqliteConnectionTest, FailuresCarryTheEngineMessageAndTheirClass) {
  std::string description;
  EXPECT_EQ(failureOf("SELECT * FROM CompanyReportz", &description), err::kTableNotFound);
  EXPECT_EQ(description, "no such table: CompanyReportz");
  EXPECT_EQ(failureOf("SELECT nosuchfunction(1)"), err::kSyntaxError);
  EXPECT_EQ(failureOf("SELECT Left('a')"), err::kSyntaxError);
  EXPECT_EQ(failureOf("SELECT 1; SELECT 2"), err::kSyntaxError);
  EXPECT_EQ(failureOf("SELECT 1;  -- done\n"), 0);
  EXPECT_EQ(failureOf("INSERT INTO UserReports (report_id) VALUES (1), (1)"), err::kCannotOpen);
}

TEST_F(SqliteConnectionTest, TableNamesListTablesAndViewsButNotInternals) {
  test::runSqlite(path_, "CREATE VIEW v_reports AS SELECT * FROM UserReports; ANALYZE;");
  std::vector<std::string> names = db_->TableNames();
  for (const char* table :
       {"System", "UserReports", "emailReports", "mass_reports_to_email", "reportsemails",
        "mappings", "CompanyReports", "Dashboards", "Email_Log", "v_reports"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), table), names.end()) << table;
  }
  for (const std::string& name : names) EXPECT_NE(name.rfind("sqlite_", 0), 0u) << name;
}

// The Access functions, each with the cases where Access and SQLite differ.
TEST_F(SqliteConnectionTest, LeftAndRightCountCharactersNotBytes) {
  EXPECT_EQ(value("SELECT Left('Grüße', 3) AS v"), Variant("Grü"));
  EXPECT_EQ(value("SELECT Right('Grüße', 2) AS v"), Variant("ße"));
  EXPECT_EQ(value("SELECT Left('ab', 5) AS v"), Variant("ab"));
  EXPECT_EQ(value("SELECT left(12345, 2) AS v"), Variant("12"));
  EXPECT_TRUE(value("SELECT Left(NULL, 2) AS v").isNull());
  EXPECT_EQ(failureOf("SELECT Left('ab', -1) AS v"), err::kCannotOpen);
}

TEST_F(SqliteConnectionTest, InStrIsOneBasedAndIgnoresCase) {
  EXPECT_EQ(value("SELECT InStr(1, 'ab:cd', ':') AS v"), Variant(3));
  EXPECT_EQ(value("SELECT InStr(4, 'a:b:c', ':') AS v"), Variant(4));
  EXPECT_EQ(value("SELECT InStr('Grüße:x', ':') AS v"), Variant(6));
  EXPECT_EQ(value("SELECT instr(1, 'ABC', 'b') AS v"), Variant(2));
  EXPECT_EQ(value("SELECT InStr(1, 'abc', ',') AS v"), Variant(0));
  EXPECT_EQ(value("SELECT InStr(9, 'abc', 'a') AS v"), Variant(0));
  EXPECT_TRUE(value("SELECT InStr(1, NULL, ':') AS v").isNull());
  EXPECT_EQ(failureOf("SELECT InStr(0, 'abc', 'a')"), err::kCannotOpen);
}

TEST_F(SqliteConnectionTest, CharIndexTakesTheSoughtTextFirst) {
  EXPECT_EQ(value("SELECT charindex(',', '5,12') AS v"), Variant(2));
  EXPECT_EQ(value("SELECT CHARINDEX(',', '5,12,3', 3) AS v"), Variant(5));
  EXPECT_EQ(value("SELECT charindex(',', '5,12', 0) AS v"), Variant(2));
  EXPECT_EQ(value("SELECT charindex('', 'abc') AS v"), Variant(0));
  EXPECT_TRUE(value("SELECT charindex(NULL, 'abc') AS v").isNull());
}

TEST_F(SqliteConnectionTest, ClockFunctionsGiveLocalTimeWhileDateWithArgumentsStaysBuiltIn) {
  Date before = SystemClock().now();
  Variant now = value("SELECT GETDATE() AS v");
  Date after = SystemClock().now();
  auto got = parseDate(now.toText());
  ASSERT_TRUE(got) << now.toText();
  EXPECT_GE(got->serial(), before.serial());
  EXPECT_LE(got->serial(), after.serial());
  EXPECT_EQ(value("SELECT Date() AS v"), Variant(sqlDate(after)));
  EXPECT_EQ(value("SELECT date('2026-12-05', '+1 day') AS v"), Variant("2026-12-06"));
}

}  // namespace
}  // namespace postrix::db
