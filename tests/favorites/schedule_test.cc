#include "favorites/schedule.h"

#include <gtest/gtest.h>

#include "util/failure.h"

namespace postrix::test {
namespace {

using V = ScheduleVerdict;

TEST(ScheduleTest, VerdictsForSingleAndMultipleTimeSchedules) {
  struct Case {
    const char* schedule;
    int year, month, day;
    bool multiple;
    int interval;
    bool ignoreTimes;
    V want;
  } cases[] = {
      // Single time: the interval never matters.
      {"daily", 2026, 12, 5, false, 47, false, V::kDue},
      {"Daily", 2026, 12, 5, false, 0, false, V::kNotDueToday},
      {"weekly|2,6", 2026, 12, 7, false, 3, false, V::kDue},  // Monday
      {"weekly|2,6", 2026, 12, 8, false, 3, false, V::kNotDueToday},
      {"monthly|5", 2026, 12, 5, false, 0, false, V::kDue},
      {"monthly|05", 2026, 12, 5, false, 0, false, V::kNotDueToday},
      {"monthly|31", 2026, 4, 30, false, 0, false, V::kDue},
      {"monthly|31", 2026, 4, 29, false, 0, false, V::kNotDueToday},
      {"monthly|31", 2028, 2, 28, false, 0, false, V::kNotDueToday},
      {"monthly|31", 2028, 2, 29, false, 0, false, V::kDue},
      {"1 65536 2048", 2026, 12, 5, false, 16, false, V::kNotDueToday},
      // Multiple times: daily at 08:00 and 17:30.
      {"1 65536 2048", 2026, 12, 5, true, 16, false, V::kDue},
      {"1 65536 2048", 2026, 12, 5, true, 17, false, V::kNotThisInterval},
      {"1 65536 2048", 2026, 12, 5, true, 17, true, V::kDue},
      {"1025 65536 2048", 2026, 12, 9, true, 35, false, V::kDue},
      {"1  65536 2048", 2026, 12, 5, true, 16, false, V::kNotDueToday},
      {"daily", 2026, 12, 5, true, 16, true, V::kNotDueToday},
      // Weekly on Monday and Friday at 09:00.
      {"274 262144 0", 2026, 12, 7, true, 18, false, V::kDue},
      // Both the daily and the weekly bit: weekly wins, and no weekday is set.
      {"3 1 0", 2026, 12, 7, true, 0, false, V::kNotDueToday},
      // Monthly on the 15th at 00:00.
      {"15364 1 0", 2026, 6, 15, true, 0, false, V::kDue},
      {"15364 1 0", 2026, 6, 15, true, 1, false, V::kNotThisInterval},
      // Monthly on the 31st at 06:00 stands for the last day of every month.
      {"31748 4096 0", 2026, 4, 30, true, 12, false, V::kDue},
      {"31748 4096 0", 2026, 5, 30, true, 12, false, V::kNotDueToday},
      {"31748 4096 0", 2028, 2, 28, true, 12, false, V::kNotDueToday},
      {"31748 4096 0", 2028, 2, 29, true, 11, false, V::kNotThisInterval},
      // No kind bit: only the text 31748 on a last day makes it due
      // (B = 31748 holds intervals 2 and 10 to 14).
      {"0 31748 0", 2026, 4, 30, true, 2, false, V::kDue},
      {"0 31748 0", 2026, 4, 29, true, 2, false, V::kNotDueToday},
  };
  for (const auto& c : cases) {
    V got = scheduleVerdict(c.schedule, Date::fromParts(c.year, c.month, c.day, 10, 30), c.multiple,
                            static_cast<std::int16_t>(c.interval), c.ignoreTimes);
    EXPECT_EQ(got, c.want) << '"' << c.schedule << "\" on " << c.year << "-" << c.month << "-"
                           << c.day << (c.multiple ? " multi" : " single") << " interval "
                           << c.interval << (c.ignoreTimes ? " ignoring times" : "");
  }
}

TEST(ScheduleTest, ANonNumericPieceFailsWithTypeMismatch) {
  for (const char* schedule : {"1 x 2048", "a 65536 2048", "1 65536 ", " 1 65536"}) {
    try {
      scheduleVerdict(schedule, Date::fromParts(2026, 12, 5), true, 16, false);
      ADD_FAILURE() << schedule << " did not fail";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), err::kTypeMismatch) << schedule;
    }
  }
}

}  // namespace
}  // namespace postrix::test
