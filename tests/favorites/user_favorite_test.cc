#include "favorites/user_favorite.h"

#include <gtest/gtest.h>

#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

// Every field of a favourite, in one line.
std::string describe(const UserFavorite& f) {
  return std::to_string(f.reportid()) + "|" + std::to_string(f.mappingID()) + "|" +
         f.reportTitle() + "|" + f.reportUrl() + "|" + f.reportFormat() + "|" + f.reportEmails() +
         "|" + f.scheduleDetails() + "|" + f.extra_desc() + "|" + f.report_header() + "|" +
         f.reportExtraDesc() + "|" + f.rep_header() + "|" + f.rep_footer() + "|" +
         f.dashboardFilter() + "|" + std::to_string(f.companyID()) + "|" + f.alertID() + "|" +
         (f.isDashboard() ? "dashboard" : "report");
}

class UserFavoriteTest : public RunFixture {
 protected:
  static constexpr const char* kAlertRow =
      "SELECT u.*, m.header, m.footer FROM UserReports u"
      " JOIN mass_reports_to_email m ON m.report_id = u.report_id";

  UserFavoriteTest() {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, extra_desc, report_header) VALUES (12, 3, 'Sales', 'r.asp?id=12',"
        " 'html', 'a@x.com', 'weekly|2,6', 'Extra', 'Header');"
        "INSERT INTO mass_reports_to_email (report_id, frequency, header, footer)"
        " VALUES (12, 99, 'Top', 'Bottom');");
  }

  // Init from the first row of the query; a failure's number, or 0.
  long initFrom(const std::string& sqlText, UserFavorite& f) {
    auto rs = utilities->getSystemConn().Execute(sqlText);
    try {
      f.Init(rs, *settings);
      return 0;
    } catch (const Failure& failure) {
      return failure.number();
    }
  }
};

TEST_F(UserFavoriteTest, InitReadsTheRowAndResetsWhatItDoesNotRead) {
  parse("");
  UserFavorite f;
  f.setDashboardFilter("left over");
  f.setCompanyID(5);
  f.setAlertID("7");
  ASSERT_EQ(initFrom(kAlertRow, f), 0);
  EXPECT_EQ(describe(f),
            "12|3|Sales|r.asp?id=12|html|a@x.com|weekly|2,6|Extra|Header|||||-1||report");
  newRun();
  parse("-alerts -format pdf");
  ASSERT_EQ(initFrom(kAlertRow, f), 0);
  EXPECT_EQ(describe(f),
            "12|3|Sales|r.asp?id=12|pdf|a@x.com|weekly|2,6|Extra|Header||Top|Bottom||-1||report");
}

TEST_F(UserFavoriteTest, OptionalColumnsAreProbedByExactNameAndNullReadsEmpty) {
  parse("");
  sql("UPDATE UserReports SET extra_desc=NULL, schedule_details=NULL");
  UserFavorite f;
  ASSERT_EQ(
      initFrom("SELECT report_id, mapping_id, reporttitle, reporturl, format, email,"
               " schedule_details, extra_desc, report_header AS REPORT_HEADER FROM UserReports",
               f),
      0);
  EXPECT_EQ(describe(f), "12|3|Sales|r.asp?id=12|html|a@x.com||||||||-1||report");
}

TEST_F(UserFavoriteTest, OnlyAPositiveCompanyIsTaken) {
  sql("INSERT INTO emailReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
      " company_id) VALUES (1,1,'T','u','html','e',7), (2,1,'T','u','html','e',0),"
      " (3,1,'T','u','html','e',-3), (4,1,'T','u','html','e',NULL);");
  parse("");
  const int want[] = {7, -1, -1, -1};
  for (int id = 1; id <= 4; ++id) {
    UserFavorite f;
    ASSERT_EQ(initFrom("SELECT * FROM emailReports WHERE report_id=" + std::to_string(id), f), 0);
    EXPECT_EQ(f.companyID(), want[id - 1]) << "report " << id;
  }
}

TEST_F(UserFavoriteTest, UnreadableRequiredColumnsFail) {
  struct Case {
    const char* update;
    long want;
  } cases[] = {{"reporttitle=NULL", err::kInvalidUseOfNull},
               {"mapping_id='abc'", err::kTypeMismatch},
               {"mapping_id=NULL", err::kInvalidUseOfNull},
               {"email=NULL", err::kInvalidUseOfNull}};
  parse("-alerts");
  for (const auto& c : cases) {
    sql("DELETE FROM UserReports; INSERT INTO UserReports (report_id, mapping_id, reporttitle,"
        " reporturl, format, email) VALUES (12,1,'T','u','html','e'); UPDATE UserReports SET " +
        std::string(c.update));
    UserFavorite f;
    EXPECT_EQ(initFrom("SELECT * FROM UserReports u, mass_reports_to_email m", f), c.want)
        << c.update;
  }
  sql("UPDATE mass_reports_to_email SET footer=NULL; UPDATE UserReports SET report_id=12");
  UserFavorite f;
  EXPECT_EQ(initFrom(kAlertRow, f), err::kInvalidUseOfNull);
}

TEST_F(UserFavoriteTest, CopyTakesTheSharedFieldsOnly) {
  parse("-alerts");
  UserFavorite source;
  ASSERT_EQ(initFrom(kAlertRow, source), 0);
  source.setCompanyID(4);
  source.setIsDashboard(true);
  source.setAlertID("9");
  source.setReportExtraDesc("source extra");
  source.setDashboardFilter("source filter");
  UserFavorite copy;
  copy.setReportEmails("own@x.com");
  copy.InitCopy(source);
  EXPECT_EQ(describe(copy),
            "12|3|Sales|r.asp?id=12|html|own@x.com||Extra|Header||Top|Bottom||4|9|dashboard");
}

}  // namespace
}  // namespace postrix::test
