#include <gtest/gtest.h>

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

TEST_F(UtilitiesDbTest, EmailLogOriginOverrideAddressAndNumericIdsOnly) {
  parse("-emaillog -emailnow -alerts -oemail boss@example.com");
  EXPECT_THROW(utilities->WriteEmailLog("1); DROP TABLE System; --", "x", "r", 0), Failure);
  utilities->WriteEmailLog(5, "ok", "someone@example.com", Variant());
  EXPECT_EQ(emailLog(), (std::vector<std::string>{"5|Email Now. Alerts|boss@example.com|ok|-"}));
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
