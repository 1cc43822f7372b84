#include <gtest/gtest.h>

#include "support/run_fixture.h"
#include "util/failure.h"

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
  EXPECT_EQ(Utilities::addBitValue(5, 3, 1), 13);
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

// A weekday far out of range gives a number of 32 digits, all of them kept;
// one past the range of a number stops the conversion at its row.
TEST_F(ScheduleConversionTest, HugeNumbersAreStoredWholeOrStopTheConversion) {
  sql("INSERT INTO UserReports (report_id, schedule_details) VALUES (1, 'weekly|101'),"
      " (2, 'weekly|1100'), (3, 'daily')");
  EXPECT_THROW(parse("-convertschedules 08:00"), Failure);
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 1), "10141204801825835211973625643008 65536 0");
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 2), "weekly|1100");
  EXPECT_EQ(scheduleOf("UserReports", "report_id", 3), "daily");
}

TEST_F(ScheduleConversionTest, EnablingMultipleTimesMarksTheSystemRowOnce) {
  sql("UPDATE System SET smtpauth=2");
  parse("-enablemultitime");
  EXPECT_EQ(endStatus, 0);
  EXPECT_TRUE(logHas("Updating system database to support multiple times"));
  newRun();
  parse("-enablemultitime");
  newRun();
  parse("");
  EXPECT_EQ(settings->smtpAuth(), 2);
  EXPECT_TRUE(settings->hasMultipleTimesMarker());
  auto rs = utilities->getSystemConn().Execute("SELECT smtpauth FROM System");
  EXPECT_EQ(rs.Fields("smtpauth").toInt32(), 102);
}

}  // namespace
}  // namespace postrix::test
