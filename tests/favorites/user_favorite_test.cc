#include "favorites/user_favorite.h"

#include <gtest/gtest.h>

#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

class UserFavoriteTest : public RunFixture {
 protected:
  db::Recordset query(const std::string& sqlText) {
    return utilities->getSystemConn().Execute(sqlText);
  }

  UserFavorite initFrom(const std::string& sqlText) {
    auto rs = query(sqlText);
    EXPECT_FALSE(rs.eof()) << sqlText;
    UserFavorite favorite;
    favorite.Init(rs, *settings);
    return favorite;
  }

  void addUserReport() {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, extra_desc, report_header) VALUES (12, 3, 'Sales', 'r.asp?id=12',"
        " 'html', 'a@x.com;b@x.com', 'weekly|2,6', 'Extra', 'Header');");
  }
};

TEST_F(UserFavoriteTest, InitReadsTheRowAndResetsWhatItDoesNotRead) {
  addUserReport();
  parse("");
  auto rs = query("SELECT * FROM UserReports");
  UserFavorite f;
  f.setDashboardFilter("left over");
  f.setCompanyID(5);
  f.setAlertID("7");
  f.Init(rs, *settings);
  EXPECT_EQ(f.reportid(), 12);
  EXPECT_EQ(f.mappingID(), 3);
  EXPECT_EQ(f.reportTitle(), "Sales");
  EXPECT_EQ(f.reportUrl(), "r.asp?id=12");
  EXPECT_EQ(f.reportFormat(), "html");
  EXPECT_EQ(f.reportEmails(), "a@x.com;b@x.com");
  EXPECT_EQ(f.scheduleDetails(), "weekly|2,6");
  EXPECT_EQ(f.extra_desc(), "Extra");
  EXPECT_EQ(f.report_header(), "Header");
  EXPECT_EQ(f.reportExtraDesc(), "");
  EXPECT_EQ(f.rep_header(), "");
  EXPECT_EQ(f.rep_footer(), "");
  EXPECT_EQ(f.dashboardFilter(), "");
  EXPECT_EQ(f.companyID(), -1);
  EXPECT_EQ(f.alertID(), "");
  EXPECT_TRUE(f.shouldBeQueued(Date::fromParts(2026, 12, 7), false, 0, false));
  EXPECT_FALSE(f.shouldBeQueued(Date::fromParts(2026, 12, 8), false, 0, false));
}

TEST_F(UserFavoriteTest, OptionalColumnsAreEmptyWhenNullOrAbsent) {
  sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email)"
      " VALUES (1, 2, 'T', 'u', 'html', 'e');");
  parse("");
  UserFavorite nulls = initFrom("SELECT * FROM UserReports");
  EXPECT_EQ(nulls.scheduleDetails(), "");
  EXPECT_EQ(nulls.extra_desc(), "");
  EXPECT_EQ(nulls.report_header(), "");

  // The columns are probed by their exact names, though a lookup would find them in any case.
  sql("UPDATE UserReports SET extra_desc='E', report_header='H'");
  UserFavorite renamed = initFrom(
      "SELECT report_id, mapping_id, reporttitle, reporturl, format, email, schedule_details,"
      " extra_desc AS Extra_Desc, report_header AS REPORT_HEADER FROM UserReports");
  EXPECT_EQ(renamed.extra_desc(), "");
  EXPECT_EQ(renamed.report_header(), "");
}

TEST_F(UserFavoriteTest, OnlyAPositiveCompanyIsTaken) {
  sql("INSERT INTO emailReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
      " company_id) VALUES (1, 1, 'T', 'u', 'html', 'e', 7), (2, 1, 'T', 'u', 'html', 'e', 0),"
      " (3, 1, 'T', 'u', 'html', 'e', -3), (4, 1, 'T', 'u', 'html', 'e', NULL);");
  parse("");
  const int want[] = {7, -1, -1, -1};
  for (int id = 1; id <= 4; ++id)
    EXPECT_EQ(
        initFrom("SELECT * FROM emailReports WHERE report_id=" + std::to_string(id)).companyID(),
        want[id - 1])
        << "report " << id;
}

TEST_F(UserFavoriteTest, TheFormatOptionOverridesTheRow) {
  addUserReport();
  parse("-format pdf");
  EXPECT_EQ(initFrom("SELECT * FROM UserReports").reportFormat(), "pdf");
}

TEST_F(UserFavoriteTest, UnreadableRequiredColumnsFail) {
  struct Case {
    const char* update;
    long want;
  } cases[] = {
      {"reporttitle=NULL", err::kInvalidUseOfNull}, {"report_id=NULL", err::kInvalidUseOfNull},
      {"report_id='abc'", err::kTypeMismatch},      {"mapping_id='x1'", err::kTypeMismatch},
      {"email=NULL", err::kInvalidUseOfNull},       {"reporturl=NULL", err::kInvalidUseOfNull},
      {"format=NULL", err::kInvalidUseOfNull},
  };
  parse("");
  for (const auto& c : cases) {
    sql("DELETE FROM emailReports; INSERT INTO emailReports (report_id, mapping_id, reporttitle,"
        " reporturl, format, email) VALUES (1, 1, 'T', 'u', 'html', 'e');"
        " UPDATE emailReports SET " +
        std::string(c.update));
    auto rs = query("SELECT * FROM emailReports");
    UserFavorite f;
    try {
      f.Init(rs, *settings);
      ADD_FAILURE() << c.update << " did not fail";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), c.want) << c.update;
    }
  }
}

class AlertFavoriteTest : public UserFavoriteTest {
 protected:
  static constexpr const char* kAlertRow =
      "SELECT u.*, m.header, m.footer FROM UserReports u"
      " JOIN mass_reports_to_email m ON m.report_id = u.report_id";

  void SetUp() override {
    addUserReport();
    sql("INSERT INTO mass_reports_to_email (report_id, frequency, header, footer)"
        " VALUES (12, 99, 'Alert top', 'Alert bottom');");
  }
};

TEST_F(AlertFavoriteTest, HeaderAndFooterAreReadOnlyInAnAlertRun) {
  parse("");
  UserFavorite plain = initFrom(kAlertRow);
  EXPECT_EQ(plain.rep_header(), "");
  EXPECT_EQ(plain.rep_footer(), "");

  newRun();
  parse("-alerts");
  UserFavorite alert = initFrom(kAlertRow);
  EXPECT_EQ(alert.rep_header(), "Alert top");
  EXPECT_EQ(alert.rep_footer(), "Alert bottom");

  sql("UPDATE mass_reports_to_email SET footer=NULL");
  auto rs = query(kAlertRow);
  UserFavorite f;
  try {
    f.Init(rs, *settings);
    ADD_FAILURE() << "a NULL footer did not fail";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), err::kInvalidUseOfNull);
  }
}

TEST_F(AlertFavoriteTest, CopyTakesTheSharedFieldsOnly) {
  parse("-alerts");
  UserFavorite source = initFrom(kAlertRow);
  source.setCompanyID(4);
  source.setIsDashboard(true);
  source.setAlertID("9");
  source.setReportExtraDesc("source extra");
  source.setDashboardFilter("source filter");

  UserFavorite copy;
  copy.setReportEmails("own@x.com");
  copy.InitCopy(source);
  EXPECT_EQ(copy.reportid(), 12);
  EXPECT_EQ(copy.mappingID(), 3);
  EXPECT_EQ(copy.reportTitle(), "Sales");
  EXPECT_EQ(copy.reportFormat(), "html");
  EXPECT_EQ(copy.reportUrl(), "r.asp?id=12");
  EXPECT_EQ(copy.companyID(), 4);
  EXPECT_TRUE(copy.isDashboard());
  EXPECT_EQ(copy.alertID(), "9");
  EXPECT_EQ(copy.extra_desc(), "Extra");
  EXPECT_EQ(copy.report_header(), "Header");
  EXPECT_EQ(copy.rep_header(), "Alert top");
  EXPECT_EQ(copy.rep_footer(), "Alert bottom");
  EXPECT_EQ(copy.reportEmails(), "own@x.com");
  EXPECT_EQ(copy.scheduleDetails(), "");
  EXPECT_EQ(copy.reportExtraDesc(), "");
  EXPECT_EQ(copy.dashboardFilter(), "");
}

}  // namespace
}  // namespace postrix::test
