#include "favorites/user_favorite.h"

#include <gtest/gtest.h>

#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

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

}  // namespace
}  // namespace postrix::test
