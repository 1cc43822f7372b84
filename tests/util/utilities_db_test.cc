#include <gtest/gtest.h>

#include "platform/data_component.h"
#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

class UtilitiesDbTest : public RunFixture {
 protected:
  // The Email_Log rows as "report|origin|address|status|company".
  std::vector<std::string> emailLog() {
    auto rs = utilities->getSystemConn().Execute("SELECT * FROM Email_Log");
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

TEST_F(UtilitiesDbTest, TablesAreFoundTrimmedInAnyCaseAndFieldsExactly) {
  parse("");
  db::Connection& conn = utilities->getSystemConn();
  EXPECT_TRUE(utilities->checkTableExists(" email_log ", conn));
  EXPECT_FALSE(utilities->checkTableExists("Email_Logs", conn));
  auto rs = conn.Execute("SELECT company_id FROM CompanyReports");
  EXPECT_TRUE(Utilities::CheckFieldExists(rs, "company_id"));
  EXPECT_FALSE(Utilities::CheckFieldExists(rs, "Company_ID"));
}

TEST_F(UtilitiesDbTest, ReturnDataTypeGivesAdoCodesThroughEitherConnection) {
  parse("");
  db::Recordset rs;
  db::Connection& conn = utilities->getSystemConn();
  EXPECT_TRUE(
      db::isTextType(utilities->ReturnDataType("email", "reportsemails", rs, conn, "").toInt32()));
  EXPECT_EQ(utilities->ReturnDataType("ID", "select id, email from reportsemails", rs, conn, "")
                .toInt32(),
            db::ado_type::kInteger);
  EXPECT_FALSE(rs.isOpen());

  std::string text = "Driver=SQLite3;Database=" + databasePath() + ";qxdb=Sales";
  DataComponent component;
  std::string error;
  ASSERT_TRUE(component.remoteConnect(text) && component.remoteLoad("sales", error)) << error;
  EXPECT_TRUE(db::isTextType(
      utilities->ReturnDataType("email", "reportsemails", rs, component, text).toInt32()));
  EXPECT_TRUE(utilities->ReturnDataType("id", "no_such_table", rs, component, text).isEmpty());
  EXPECT_TRUE(logHas("Error connecting to " + text));
}

TEST_F(UtilitiesDbTest, EmailLogRowsKeepApostrophesAndTheClock) {
  parse("-emailnow");
  utilities->WriteEmailLog(4, "not logged without -emaillog", "r", 0);
  newRun();
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
  parse("-emaillog -emailnow -alerts -oemail boss@example.com");
  utilities->WriteEmailLog(5, "ok", "someone@example.com", Variant());
  EXPECT_EQ(emailLog(), (std::vector<std::string>{"5|Email Now. Alerts|boss@example.com|ok|-"}));
}

TEST_F(UtilitiesDbTest, EmailLogRefusesIdsThatAreNotNumbers) {
  parse("-emaillog");
  EXPECT_THROW(utilities->WriteEmailLog("1); DROP TABLE System; --", "x", "r", 0), Failure);
  EXPECT_TRUE(emailLog().empty());
}

TEST_F(UtilitiesDbTest, DialectTexts) {
  EXPECT_EQ(Utilities::systemConnectionString("Provider=SQLOLEDB;Data Source=x"),
            "Provider=SQLOLEDB;Data Source=x");
  EXPECT_EQ(Utilities::CorrectSyntax(12, true), "'12'");
  EXPECT_EQ(Utilities::CorrectSyntax("a'b", true), "'a''b'");
  EXPECT_EQ(utilities->GetDateFormat(true), "GETDATE()");
  EXPECT_EQ(utilities->GetDateFormat(false), "#2026-12-05 17:06:37#");
}

}  // namespace
}  // namespace postrix::test
