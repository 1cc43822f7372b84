// Schedules and the due test.
//
// A favourite's schedule_details text comes in one of two formats, and a run
// expects one of them (Settings::isMultipleSchedules):
//
//   single time     "daily", "weekly|2,6" (weekday numbers, 1 = Sunday),
//                   "monthly|15" ("monthly|31" also means the last day)
//   multiple times  "A B C": A holds the kind bits (1 daily, 2 weekly,
//                   4 monthly), the weekday bits (weekday d is bit d + 2) and
//                   1024 x the day of the month; bit i of B is interval i,
//                   bit i of C is interval 24 + i.
//
// The test is a pure function of the schedule, the run date and the interval.
#pragma once

#include <cstdint>      // interval ids
#include <string_view>  // schedules

#include "util/date_time.h"  // run date

namespace postrix {

// Why a schedule is or is not due in a run.
enum class ScheduleVerdict {
  kDue,
  kNotDueToday,      // the day does not match, or the text is not a schedule of the run's format
  kNotThisInterval,  // the day matches but the interval is not one of its send times
};

// Whether date is the last day of its month.
bool isLastDayOfMonth(Date date);

// The verdict for a schedule on runDate. With multipleSchedules the text must
// be in the multiple-times format (anything else is never due) and, unless
// ignoreTimes, name intervalId among its send times; a piece that is not a
// number fails with 13. Without it, the single-time format is read and the
// interval plays no part.
ScheduleVerdict scheduleVerdict(std::string_view schedule, Date runDate, bool multipleSchedules,
                                std::int16_t intervalId, bool ignoreTimes);

}  // namespace postrix
