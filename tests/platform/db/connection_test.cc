// Connections on both engines, run side by side: the embedded one on a SQLite
// file, and ODBC through unixODBC to Debian's SQLite ODBC driver with the data
// source of support/temp_database.h. The system's SQL texts are in
// system_sql_test.cc.
#include "platform/db/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/db/db_errors.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::db {
namespace {

// What the call fails with; number 0 when it does not fail.
Failure failureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& f) {
    return f;
  }
  return {0, "no failure"};
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
  const struct {
    const char* sql;
    long number;
    const char* message;
  } cases[] = {
      {"SELECT * FROM mass_reports_to_emal", err::kTableNotFound, "no such table"},
      {"SELECT * FORM System", err::kSyntaxError, "syntax error"},
      {"SELECT smtpserverr FROM System", err::kUnknownColumn, "no such column"},
      {"INSERT INTO UserReports (report_id) VALUES (7)", err::kCannotOpen, "UNIQUE"},
  };
  for (auto& db : engines_) {
    SCOPED_TRACE(db->ConnectionString());
    for (const auto& c : cases) {
      Failure f = failureOf([&] { db->Execute(c.sql); });
      EXPECT_EQ(f.number(), c.number) << c.sql;
      EXPECT_NE(f.description().find(c.message), std::string::npos) << f.description();
    }
    Recordset rs = db->Execute("SELECT * FROM UserReports WHERE report_id=7");
    EXPECT_EQ(failureOf([&] { rs.Fields("nosuchfield"); }).number(), err::kFieldNotFound);
    EXPECT_EQ(failureOf([&] { rs.Fields("emailcount").toText(); }).number(),
              err::kInvalidUseOfNull);
  }

  std::string missing = dir_.file("absent.mdb"), junk = dir_.file("junk.mdb");
  std::filesystem::copy_file(POSTRIX_SOURCE_DIR "/schema/system.sql", junk);
  const struct {
    std::string connectionString;
    std::string message;
  } unopenable[] = {
      {"Driver={Microsoft Access Driver (*.mdb)};Dbq=" + missing, missing},
      {"Driver=SQLite3;Database=" + junk, "not a database"},
      {"dsn=nosuchdsn;uid=Admin;password=qmw7315", "Data source name not found"},
  };
  for (const auto& c : unopenable) {
    Failure f = failureOf([&] { Connection::Open(c.connectionString); });
    EXPECT_EQ(f.number(), err::kCannotOpen) << c.connectionString;
    EXPECT_NE(f.description().find(c.message), std::string::npos) << f.description();
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(ConnectionTest, BothEnginesReadRowsCountUpdatesAndListTables) {
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
    db->Execute("UPDATE UserReports SET laststatus='y' WHERE report_id=99", &affected);
    EXPECT_EQ(affected, 0);

    std::vector<std::string> names = db->TableNames();
    for (const char* table :
         {"System", "UserReports", "emailReports", "mass_reports_to_email", "reportsemails",
          "mappings", "CompanyReports", "Dashboards", "Email_Log"}) {
      EXPECT_NE(std::find(names.begin(), names.end(), table), names.end()) << table;
    }
  }
  std::vector<std::string> names = engines_[0]->TableNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "v_reports"), names.end());
  for (const std::string& name : names) EXPECT_NE(name.rfind("sqlite_", 0), 0u) << name;
}

TEST_F(ConnectionTest, FieldTypesAreAdoCodes) {
  for (auto& db : engines_) {
    Recordset rs = db->Execute(
        "select * from ( select report_id, reporttitle from UserReports ) as dummy_name where 1=0");
    ASSERT_EQ(rs.FieldList().size(), 2u);
    EXPECT_FALSE(isTextType(rs.FieldList()[0].Type)) << rs.FieldList()[0].Type;
    EXPECT_TRUE(isTextType(rs.FieldList()[1].Type)) << rs.FieldList()[1].Type;
  }
  // On the embedded engine: declared types, and expressions typed by their
  // first value (text when there is none).
  auto types = [&](const std::string& where) {
    std::vector<int> got;
    Recordset rs = engines_[0]->Execute(
        "SELECT report_id, last_emailed, 1 AS n, 1.5 AS r, 'x' AS s FROM UserReports WHERE " +
        where);
    for (const FieldInfo& f : rs.FieldList()) got.push_back(f.Type);
    return got;
  };
  EXPECT_EQ(types("1=0"), (std::vector<int>{3, 7, 202, 202, 202}));
  EXPECT_EQ(types("report_id=7"), (std::vector<int>{3, 7, 3, 5, 202}));
}

TEST_F(ConnectionTest, EmbeddedEngineOpensByDriverNameAndSpeaksAccess) {
  for (std::string cs : {"DRIVER={microsoft access driver (*.mdb)};DBQ=" + path_ + ";Uid=Admin",
                         "Driver={Microsoft Access Driver (*.mdb, *.accdb)};Dbq=" + path_,
                         "Driver=SQLite3;Database=" + path_}) {
    EXPECT_NO_THROW(Connection::Open(cs)->Execute("select * from System")) << cs;
  }
  const struct {
    const char* sql;
    Variant want;
  } cases[] = {
      {"SELECT Left('Grüße', 3) AS v", "Grü"},
      {"SELECT Right('Grüße', 2) AS v", "ße"},
      {"SELECT InStr('Grüße:x', ':') AS v", 6},
      {"SELECT InStr(4, 'a:B:c', 'b') AS v", 0},
      {"SELECT InStr(2, 'a:B:c', 'b') AS v", 3},
      {"SELECT charindex(',', '5,12,3', 3) AS v", 5},
      {"SELECT Left(NULL, 2) AS v", Variant::null()},
      {"SELECT date('2026-12-05', '+1 day') AS v", "2026-12-06"},
      {"SELECT 6 & 3 AS v", "63"},
  };
  for (const auto& c : cases) EXPECT_EQ(engines_[0]->Execute(c.sql).Fields("v"), c.want) << c.sql;
  EXPECT_EQ(engines_[1]->Execute("SELECT 6 & 3 AS v").Fields("v"), Variant(2))
      << "ODBC sends the SQL unchanged: & is bitwise and";

  long affected = -1;
  engines_[0]->Execute("UPDATE UserReports SET laststatus='x'", &affected);
  engines_[0]->Execute("CREATE TABLE extra (x INTEGER)", &affected);
  EXPECT_EQ(affected, 0) << "DDL must not repeat the previous statement's count";
}

TEST(RecordsetTest, WalksRowsThenRefusesReadsPastTheEndOrOnceClosed) {
  Recordset rs({{"ID", ado_type::kInteger}, {"Email", ado_type::kVarWChar}},
               {{1, "a@x"}, {2, Variant::null()}});
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.Fields("email"), Variant("a@x"));
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Id"), Variant(2));
  rs.MoveNext();
  EXPECT_TRUE(rs.eof());
  EXPECT_EQ(failureOf([&] { rs.Fields("id"); }).number(), err::kNoCurrentRecord);
  EXPECT_EQ(failureOf([&] { rs.MoveNext(); }).number(), err::kNoCurrentRecord);
  rs.MoveFirst();
  EXPECT_EQ(rs.Fields("ID"), Variant(1));

  Recordset never;
  rs.Close();
  for (Recordset* closed : {&rs, &never}) {
    EXPECT_EQ(failureOf([&] { closed->Fields("id"); }).number(), err::kObjectClosed);
    EXPECT_EQ(failureOf([&] { closed->eof(); }).number(), err::kObjectClosed);
    EXPECT_EQ(failureOf([&] { closed->RecordCount(); }).number(), err::kObjectClosed);
  }
}

// Other drivers' diagnostics cannot be produced here: the state alone decides,
// and under the catch-all HY000 SQL Server's texts do.
TEST(DbErrorsTest, OdbcStateDecidesThenMessageText) {
  const struct {
    const char* state;
    const char* message;
    long want;
  } cases[] = {
      {"42S02", "", err::kTableNotFound},
      {"42S22", "", err::kUnknownColumn},
      {"37000", "", err::kSyntaxError},
      {"HY000", "[FreeTDS][SQL Server]Invalid object name 'x'.", err::kTableNotFound},
      {"HY000", "[FreeTDS][SQL Server]Invalid column name 'y'.", err::kUnknownColumn},
      {"HY000", "[FreeTDS][SQL Server]Incorrect syntax near 'FORM'.", err::kSyntaxError},
      {"", "", err::kCannotOpen},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyOdbcDiagnostic(c.state, c.message), c.want) << c.state << ": " << c.message;
  }
}

}  // namespace
}  // namespace postrix::db
