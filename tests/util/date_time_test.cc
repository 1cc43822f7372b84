#include "util/date_time.h"

#include <gtest/gtest.h>

#include "util/utilities.h"

namespace postrix {
namespace {

TEST(DateTimeTest, ParsesTheDateFormsOfTheCommandLineAndSqlAndWritesTheRegionalOnes) {
  EXPECT_EQ(longTime(Date::fromParts(2026, 1, 1, 0, 5, 0)), "12:05:00 AM");
  EXPECT_EQ(longTime(Date::fromParts(2026, 1, 1, 12, 0, 0)), "12:00:00 PM");
  EXPECT_EQ(dateText(*parseDate("08:15")), "8:15:00 AM");
  EXPECT_EQ(parseDate("12/5/2026"), Date::fromParts(2026, 12, 5));
  EXPECT_EQ(parseDate("2026-12-05 17:06:37"), Date::fromParts(2026, 12, 5, 17, 6, 37));
  EXPECT_EQ(parseDate("12/5/2026 5:06:37 PM"), Date::fromParts(2026, 12, 5, 17, 6, 37));
  for (const char* bad : {"", "banana", "2/30/2026", "13/1/2026", "24:00", "8:60", "12/5/26"})
    EXPECT_FALSE(parseDate(bad)) << bad;
}

TEST(DateTimeTest, IntervalIdIsTheHalfHourOfTheDay) {
  struct Case {
    int h, m, s, want;
  } cases[] = {{0, 0, 0, 0},   {0, 29, 59, 0},   {0, 30, 0, 1},  {9, 15, 0, 18},
               {12, 0, 0, 24}, {23, 59, 59, 47}, {10, 30, 0, 21}};
  for (const auto& c : cases)
    EXPECT_EQ(Utilities::getIntervalId(Date::fromParts(2026, 3, 5, c.h, c.m, c.s)), c.want)
        << c.h << ":" << c.m << ":" << c.s;
}

}  // namespace
}  // namespace postrix
