#include <gtest/gtest.h>

#include "support/run_fixture.h"

namespace postrix::test {
namespace {

TEST(ScheduleEncodingTest, SingleTimeSchedulesBecomeMultipleTimes) {
  struct Case {
    const char* schedule;
    const char* intervals;
    const char* want;
  } cases[] = {
      {"daily", "16", "1025 65536 0"},         {"weekly|2,6", "18", "1298 262144 0"},
      {"monthly|31", "47", "31748 0 8388608"}, {"monthly|x", "0", "1028 1 0"},
      {"monthly|15", "0", "15364 1 0"},        {"", "16", "1025 65536 0"},  // empty: daily
      {"Daily", "16", "1025 65536 0"},                                      // unrecognised: daily
      {"daily", "16,16", "1025 131072 0"},  // values add, as stored schedules expect
  };
  for (const auto& c : cases)
    EXPECT_EQ(Utilities::encodeScheduleDetails(c.schedule, c.intervals), c.want)
        << c.schedule << " at " << c.intervals;
}

class ScheduleConversionTest : public RunFixture {
 protected:
  std::string scheduleOf(const std::string& table, const std::string& idColumn, int id) {
    auto rs = utilities->getSystemConn().Execute("SELECT schedule_details FROM " + table +
                                                 " WHERE " + idColumn + "=" + std::to_string(id));
    const Variant& v = rs.Fields("schedule_details");
    return v.isNull() ? "NULL" : v.toText();
  }
};

TEST_F(ScheduleConversionTest, EveryScheduleIsRewrittenOnceAtTheGivenHalfHour) {
  sql("INSERT INTO UserReports (report_id, schedule_details) VALUES (1, 'daily'),"
      " (2, 'weekly|2,6'), (3, '1 65536 2048'), (4, NULL), (5, 'monthly|31');"
      " INSERT INTO Dashboards (dashboard_id, schedule_details) VALUES (9, 'daily');");
  parse("-convertschedules 08:15");
  EXPECT_EQ(endStatus, 0);
  EXPECT_TRUE(
      logHas("Warning: The postrix can only be run at 30 minute intervals. The time of "
             "8:15:00 AM will be rounded down to the nearest interval."));
  EXPECT_TRUE(logHas("Updating report 1 old schedule: daily to 1025 65536 0"));
  EXPECT_TRUE(logHas("Updating dashboards 9 old schedule: daily to 1025 65536 0"));
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 2), "1298 65536 0");
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 3), "1 65536 2048");
  // A report without a schedule does not stop the ones after it.
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 4), "NULL");
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 5), "31748 65536 0");
  EXPECT_EQ(scheduleOf("Dashboards", "dashboard_id", 9), "1025 65536 0");

  newRun();
  parse("-convertschedules 08:00");
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 1), "1025 65536 0");
  EXPECT_FALSE(
      logHas("Warning: The postrix can only be run at 30 minute intervals. The time of "
             "8:00:00 AM will be rounded down to the nearest interval."));
}

}  // namespace
}  // namespace postrix::test
