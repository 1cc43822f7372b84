#include <gtest/gtest.h>

#include <filesystem>

#include "platform/data_component.h"
#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

class UtilitiesDbTest : public RunFixture {
 protected:
  // The Email_Log rows as "report|origin|address|status|company" lines.
  std::vector<std::string> emailLog() {
    auto rs = utilities->getSystemConn().Execute(
        "SELECT report_id, origin, emailaddress, msgstatus, company_id, log_date FROM Email_Log");
    std::vector<std::string> rows;
    for (; !rs.eof(); rs.MoveNext()) {
      const Variant& company = rs.Fields("company_id");
      rows.push_back(rs.Fields("report_id").toText() + "|" + rs.Fields("origin").toText() + "|" +
                     rs.Fields("emailaddress").toText() + "|" + rs.Fields("msgstatus").toText() +
                     "|" + (company.isNull() ? "-" : company.toText()));
    }
    return rows;
  }
};

TEST_F(UtilitiesDbTest, ConnectionStringForANameOrAFullString) {
  EXPECT_EQ(Utilities::systemConnectionString("SystemDB"),
            "dsn=SystemDB;uid=Admin;password=qmw7315");
  EXPECT_EQ(Utilities::systemConnectionString("Provider=SQLOLEDB;Data Source=x"),
            "Provider=SQLOLEDB;Data Source=x");
}

TEST_F(UtilitiesDbTest, TablesAreFoundTrimmedInAnyCaseAndFieldsExactly) {
  parse("");
  db::Connection& conn = utilities->getSystemConn();
  EXPECT_TRUE(utilities->checkTableExists(" email_log ", conn));
  EXPECT_FALSE(utilities->checkTableExists("Email_Logs", conn));
  auto rs = conn.Execute("SELECT company_id FROM CompanyReports");
  EXPECT_TRUE(Utilities::CheckFieldExists(rs, "company_id"));
  EXPECT_FALSE(Utilities::CheckFieldExists(rs, "Company_ID"));
}

TEST_F(UtilitiesDbTest, ReturnDataTypeGivesAdoCodesForQueriesAndTables) {
  parse("");
  db::Recordset rs;
  db::Connection& conn = utilities->getSystemConn();
  Variant textType = utilities->ReturnDataType("email", "reportsemails", rs, conn, "");
  EXPECT_TRUE(db::isTextType(textType.toInt32())) << textType.toText();
  Variant idType =
      utilities->ReturnDataType("ID", "select id, email from reportsemails", rs, conn, "");
  EXPECT_EQ(idType.toInt32(), db::ado_type::kInteger);
  EXPECT_FALSE(rs.isOpen());
}

TEST_F(UtilitiesDbTest, ReturnDataTypeThroughTheDataComponent) {
  parse("");
  std::string text = "Driver=SQLite3;Database=" + databasePath() + ";qxdb=Sales";
  DataComponent component;
  ASSERT_TRUE(component.remoteConnect(text));
  std::string error;
  ASSERT_TRUE(component.remoteLoad("sales", error)) << error;
  db::Recordset rs;
  EXPECT_TRUE(db::isTextType(
      utilities->ReturnDataType("email", "reportsemails", rs, component, text).toInt32()));
  Variant missing = utilities->ReturnDataType("id", "no_such_table", rs, component, text);
  EXPECT_TRUE(missing.isEmpty());
  EXPECT_TRUE(logHas("Error connecting to " + text));
}

TEST_F(UtilitiesDbTest, EmailLogRowsOnTheEmbeddedEngine) {
  parse("-emaillog");
  utilities->WriteEmailLog(12, "Message successfully sent.", "r@example.com", 0);
  utilities->WriteEmailLog(13, "ERROR: it's refused", "o'brien@example.com", 3);
  EXPECT_EQ(emailLog(),
            (std::vector<std::string>{"12|Postrix|r@example.com|Message successfully sent.|-",
                                      "13|Postrix|o'brien@example.com|ERROR: it's refused|3"}));
  auto rs = utilities->getSystemConn().Execute("SELECT log_date FROM Email_Log");
  EXPECT_EQ(rs.Fields("log_date").toDate(), clock.now());
}

TEST_F(UtilitiesDbTest, EmailLogOriginAndOverrideAddress) {
  parse("-emailnow");
  utilities->WriteEmailLog(4, "not logged without -emaillog", "r", 0);
  newRun();
  parse("-emaillog -emailnow -alerts -oemail boss@example.com");
  utilities->WriteEmailLog(5, "ok", "someone@example.com", Variant());
  EXPECT_EQ(emailLog(), (std::vector<std::string>{"5|Email Now. Alerts|boss@example.com|ok|-"}));
}

TEST_F(UtilitiesDbTest, EmailLogRefusesIdsThatAreNotNumbers) {
  parse("-emaillog");
  try {
    utilities->WriteEmailLog("1); DROP TABLE System; --", "x", "r", 0);
    FAIL() << "a text id reached the statement";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 13);
  }
  EXPECT_TRUE(emailLog().empty());
}

TEST_F(UtilitiesDbTest, DialectTexts) {
  EXPECT_EQ(Utilities::CorrectSyntax(12, true), "'12'");
  EXPECT_EQ(Utilities::CorrectSyntax(12, false), "12");
  EXPECT_EQ(Utilities::CorrectSyntax("a'b", true), "'a''b'");
  EXPECT_EQ(utilities->GetDateFormat(true), "GETDATE()");
  EXPECT_EQ(utilities->GetDateFormat(false), "#2026-12-05 17:06:37#");
}

TEST_F(UtilitiesDbTest, AnUnopenableDatabaseEndsTheProgramWithTheDesignedLine) {
  std::filesystem::remove(databasePath());
  EXPECT_TRUE(parse(""));
  EXPECT_EQ(endStatus, 1);
  EXPECT_TRUE(logHas("ERROR: Could not find the system DSN connection: '" +
                     settings->getSystemDSN() +
                     "'. Please check that you have created the System DSN."));
  EXPECT_FALSE(std::filesystem::exists(databasePath()));
}

}  // namespace
}  // namespace postrix::test
