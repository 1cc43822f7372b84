#include "favorites/schedule.h"

#include <cmath>
#include <string>

#include "util/text.h"
#include "util/variant.h"

namespace postrix {
namespace {

// Whether the integer part of value / divisor is not zero: the schedule's
// numbers are decoded bit by bit from the top, the way they were encoded.
bool hasBit(double value, double divisor) { return std::trunc(value / divisor) != 0; }

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

ScheduleVerdict singleTimeVerdict(std::string_view schedule, Date runDate) {
  if (schedule == "daily") return ScheduleVerdict::kDue;
  // The day is compared as written by the web application, without leading
  // zeros; "monthly|05" never matched and must keep not matching.
  if (schedule == "monthly|" + std::to_string(runDate.day())) return ScheduleVerdict::kDue;
  if (isLastDayOfMonth(runDate) && contains(schedule, "monthly|31")) return ScheduleVerdict::kDue;
  if (schedule.substr(0, 6) == "weekly" && contains(schedule, std::to_string(runDate.weekday())))
    return ScheduleVerdict::kDue;
  return ScheduleVerdict::kNotDueToday;
}

enum class Kind { kNone, kDaily, kWeekly, kMonthly };

ScheduleVerdict multipleTimesVerdict(std::string_view schedule, Date runDate,
                                     std::int16_t intervalId, bool ignoreTimes) {
  std::vector<std::string> pieces = split(schedule, " ");
  if (pieces.size() != 3) return ScheduleVerdict::kNotDueToday;
  double a = Variant(pieces[0]).toDouble();
  double b = Variant(pieces[1]).toDouble();
  double c = Variant(pieces[2]).toDouble();

  std::string times = ",";
  for (int i = 47; i >= 0; --i) {
    double bit = std::ldexp(1.0, i % 24);
    double& word = i >= 24 ? c : b;
    if (hasBit(word, bit)) {
      times += std::to_string(i) + ",";
      word -= bit;
    }
  }

  double dayOfMonth = std::trunc(a / 1024);
  // Reduced as the run-time library's Mod does: operands rounded to whole numbers first.
  a = std::fmod(roundHalfEven(a), 1024);

  std::string weekdays = ",";
  for (int i = 9; i >= 3; --i) {
    double bit = std::ldexp(1.0, i);
    if (hasBit(a, bit)) {
      weekdays += std::to_string(i - 2) + ",";
      a -= bit;
    }
  }

  Kind kind = Kind::kNone;
  if (hasBit(a, 4)) {
    kind = Kind::kMonthly;
    a -= 4;
  } else if (hasBit(a, 2)) {
    kind = Kind::kWeekly;
    a -= 2;
  } else if (a != 0) {
    kind = Kind::kDaily;
  }

  // 31748 is "monthly on the 31st", which stands for the last day of every
  // month; it is recognised in the text so shorter months still get it.
  bool dayMatches =
      kind == Kind::kDaily || (kind == Kind::kMonthly && dayOfMonth == runDate.day()) ||
      (isLastDayOfMonth(runDate) && contains(schedule, "31748")) ||
      (kind == Kind::kWeekly && contains(weekdays, "," + std::to_string(runDate.weekday()) + ","));
  if (!dayMatches) return ScheduleVerdict::kNotDueToday;
  if (ignoreTimes) return ScheduleVerdict::kDue;
  return contains(times, "," + std::to_string(intervalId) + ",")
             ? ScheduleVerdict::kDue
             : ScheduleVerdict::kNotThisInterval;
}

}  // namespace

bool isLastDayOfMonth(Date date) {
  Date firstOfMonth = date.addDays(-(date.day() - 1));
  Date lastOfMonth = firstOfMonth.addMonths(1).addDays(-1);
  return date.day() == lastOfMonth.day();
}

ScheduleVerdict scheduleVerdict(std::string_view schedule, Date runDate, bool multipleSchedules,
                                std::int16_t intervalId, bool ignoreTimes) {
  return multipleSchedules ? multipleTimesVerdict(schedule, runDate, intervalId, ignoreTimes)
                           : singleTimeVerdict(schedule, runDate);
}

}  // namespace postrix
