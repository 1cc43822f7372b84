// Connections on both engines side by side: embedded SQLite, and ODBC to the SQLite ODBC driver.
#include "platform/db/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>

#include "platform/db/db_errors.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::db {
namespace {

Failure failureOf(const std::function<void()>& call) try {
  call();
  return {0, "no failure"};
} catch (const Failure& f) {
  return f;
}

// engines_[0] is embedded, engines_[1] ODBC; both databases hold reports 7 and 8.
class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string embedded = test::createSystemDatabase(path_);
    for (const std::string& file : {path_, test::odbcSystemDatabase()}) {
      test::runSqlite(file,
                      "DELETE FROM UserReports; INSERT INTO UserReports (report_id, reporttitle, "
                      "emailcount, last_emailed) VALUES (7, 'Sales', NULL, '2026-12-05 17:06:37'),"
                      "(8, 'Stock', 3, NULL);");
    }
    engines_.push_back(Connection::Open(embedded));
    engines_.push_back(Connection::Open("dsn=SystemDB;uid=Admin;password=qmw7315"));
  }

  test::TempDir dir_;
  std::string path_ = dir_.file("system.mdb");
  std::vector<std::unique_ptr<Connection>> engines_;
};

TEST_F(ConnectionTest, FailureNumbersAreTheSameOnBothEngines) {
  const std::tuple<const char*, long, const char*> cases[] = {
      {"SELECT * FROM mass_reports_to_emal", err::kTableNotFound, "no such table"},
      {"SELECT * FORM System", err::kSyntaxError, "syntax error"},
      {"SELECT smtpserverr FROM System", err::kUnknownColumn, "no such column"},
      {"INSERT INTO UserReports (report_id) VALUES (7)", err::kCannotOpen, "UNIQUE"},
  };
  for (auto& db : engines_) {
    SCOPED_TRACE(db->ConnectionString());
    for (const auto& [sql, number, message] : cases) {
      Failure f = failureOf([&] { db->Execute(sql); });
      EXPECT_EQ(f.number(), number) << sql;
      EXPECT_NE(f.description().find(message), std::string::npos) << f.description();
    }
  }

  std::string missing = dir_.file("absent.mdb"), junk = dir_.file("junk.mdb");
  std::filesystem::copy_file(POSTRIX_SOURCE_DIR "/schema/system.sql", junk);
  for (const auto& [connectionString, message] : {
           std::pair{"Driver={Microsoft Access Driver (*.mdb)};Dbq=" + missing, missing},
           std::pair{"Driver=SQLite3;Database=" + junk, std::string("not a database")},
           std::pair{std::string("dsn=nosuchdsn;uid=Admin"), std::string("name not found")},
       }) {
    Failure f = failureOf([&] { Connection::Open(connectionString); });
    EXPECT_EQ(f.number(), err::kCannotOpen) << connectionString;
    EXPECT_NE(f.description().find(message), std::string::npos) << f.description();
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ConnectionTest, BothEnginesReadRowsCountUpdatesListTablesAndTypeFields) {
  test::runSqlite(path_, "CREATE VIEW v_reports AS SELECT * FROM UserReports; ANALYZE;");
  std::string longText = std::string(10000, 'x') + "end";
  for (auto& db : engines_) {
    SCOPED_TRACE(db->ConnectionString());
    Recordset rs = db->Execute(
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

    long affected = -1;
    EXPECT_FALSE(
        db->Execute("UPDATE UserReports SET reporturl='" + longText + "'", &affected).isOpen());
    EXPECT_EQ(affected, 2);
    EXPECT_EQ(db->Execute("SELECT reporturl FROM UserReports").Fields("reporturl"),
              Variant(longText));

    for (const char* table : {"System", "mass_reports_to_email", "CompanyReports", "Email_Log"})
      EXPECT_EQ(std::ranges::count(db->TableNames(), table), 1) << table;
    rs = db->Execute(
        "select * from ( select report_id, reporttitle from UserReports ) as d where 1=0");
    ASSERT_EQ(rs.FieldList().size(), 2u);
    EXPECT_FALSE(isTextType(rs.FieldList()[0].Type));
    EXPECT_TRUE(isTextType(rs.FieldList()[1].Type));
  }
  std::vector<std::string> names = engines_[0]->TableNames();
  EXPECT_EQ(std::ranges::count(names, "v_reports"), 1);
  for (const std::string& name : names) EXPECT_NE(name.rfind("sqlite_", 0), 0u) << name;
}

TEST_F(ConnectionTest, EmbeddedEngineOpensByDriverNameAndSpeaksAccess) {
  for (std::string cs : {"DRIVER={microsoft access driver (*.mdb)};DBQ=" + path_ + ";Uid=Admin",
                         "Driver={Microsoft Access Driver (*.mdb, *.accdb)};Dbq=" + path_}) {
    EXPECT_NO_THROW(Connection::Open(cs)->Execute("select * from System")) << cs;
  }
  const std::pair<const char*, Variant> cases[] = {
      {"SELECT Left('Grüße', 3) & Right('Grüße', 1) AS v", "Grüe"},
      {"SELECT InStr('Grüße:x', ':') AS v", 6},
      {"SELECT InStr(2, 'b:B', 'b') AS v", 3},
      {"SELECT charindex(',', '5,12,3', 3) AS v", 5},
      {"SELECT Left(NULL, 2) AS v", Variant::null()},
      {"SELECT date('2026-12-05', '+1 day') AS v", "2026-12-06"},
  };
  for (const auto& [sql, want] : cases) EXPECT_EQ(engines_[0]->Execute(sql).Fields("v"), want);
  EXPECT_EQ(engines_[1]->Execute("SELECT 6 & 3 AS v").Fields("v"), Variant(2))
      << "ODBC sends the SQL unchanged: & is bitwise and";

  long affected = -1;
  engines_[0]->Execute("UPDATE UserReports SET laststatus='x'", &affected);
  engines_[0]->Execute("CREATE TABLE extra (x INTEGER)", &affected);
  EXPECT_EQ(affected, 0) << "DDL must not repeat the previous statement's count";
}

}  // namespace
}  // namespace postrix::db
