// Moving an installation to schedules with several send times a day: the
// System marker and the rewriting of every stored single-time schedule.
#include <cmath>
#include <cstdio>
#include <string>

#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

struct Encoded {
  double a = 0, b = 0, c = 0;
};

// Every digit of the number: a weekday far out of range sets a bit above
// 2^100, whose 31 and more digits must not be cut to fit a buffer.
std::string wholeNumber(double v) {
  int digits = std::snprintf(nullptr, 0, "%.0f", v);
  std::string text(static_cast<size_t>(digits) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.0f", v);
  text.pop_back();
  return text;
}

// The kind, day of month and weekday list of a single-time schedule.
void readSingleTime(std::string_view schedule, std::string& kind, int& day, std::string& weekdays) {
  if (schedule == "daily") return;
  if (schedule.substr(0, 7) == "monthly") {
    kind = "monthly";
    Variant dayText(schedule.size() > 8 ? schedule.substr(8) : std::string_view());
    if (dayText.isNumeric() && !dayText.toText().empty()) day = dayText.toInt16();
  } else if (schedule.substr(0, 6) == "weekly") {
    kind = "weekly";
    weekdays = "," + std::string(schedule.size() > 7 ? schedule.substr(7) : "") + ",";
  }
}

bool isMultipleTimes(std::string_view schedule) { return split(schedule, " ").size() == 3; }

// Rewrites the schedules of one table; a row without a schedule is left as it is.
void convertTable(Utilities& u, std::string_view idColumn, std::string_view table,
                  std::string_view logLabel, int interval) {
  db::Connection& conn = u.getSystemConn();
  db::Recordset rs = conn.Execute("SELECT " + std::string(idColumn) + ", schedule_details FROM " +
                                  std::string(table));
  for (; !rs.eof(); rs.MoveNext()) {
    const Variant& id = rs.Fields(idColumn);
    const Variant& old = rs.Fields("schedule_details");
    if (old.isNull()) {
      u.Debugger("Not updating " + std::string(logLabel) + " " + id.toText() +
                 ": it has no schedule.");
      continue;
    }
    std::string oldText = old.toText();
    if (isMultipleTimes(oldText)) continue;
    std::string updated = Utilities::encodeScheduleDetails(oldText, std::to_string(interval));
    u.Debugger("Updating " + std::string(logLabel) + " " + id.toText() +
               " old schedule: " + oldText + " to " + updated);
    conn.Execute("UPDATE " + std::string(table) + " SET schedule_details='" + sqlQuoted(updated) +
                 "' WHERE " + std::string(idColumn) + "=" + sqlNumber(id));
  }
}

}  // namespace

double Utilities::addBitValue(double value, double position, double bitValue) {
  double sum = value + bitValue * std::pow(2.0, position);
  // Past the range of a double there is no number to store ("inf" is none).
  if (!std::isfinite(sum)) throw Failure::overflow();
  return sum;
}

std::string Utilities::encodeScheduleDetails(std::string_view schedule,
                                             std::string_view intervalList) {
  std::string kind = "daily", weekdays = ",";
  int day = 1;
  readSingleTime(schedule, kind, day, weekdays);
  Encoded e;
  e.a = addBitValue(e.a, kind == "daily" ? 0 : kind == "weekly" ? 1 : 2, 1);
  auto weekdayPieces = split(weekdays, ",");
  for (size_t i = 1; i < weekdayPieces.size(); ++i) {
    Variant d(weekdayPieces[i]);
    if (d.isNumeric()) e.a = addBitValue(e.a, d.toDouble() + 2, 1);
  }
  e.a += day * 1024.0;
  for (const auto& piece : split(intervalList, ",")) {
    Variant t(piece);
    if (!t.isNumeric()) continue;
    int interval = t.toInt16();
    double& half = interval < 24 ? e.b : e.c;
    half = addBitValue(half, interval % 24, 1);
  }
  return wholeNumber(e.a) + " " + wholeNumber(e.b) + " " + wholeNumber(e.c);
}

void Utilities::enableMultiTimes() {
  Debugger("Updating system database to support multiple times");
  getSystemConn().Execute("UPDATE System SET smtpauth = smtpauth + 100 WHERE smtpauth<100");
}

void Utilities::convertPostrixSchedules(Date time) {
  if (time.minute() != 0 && time.minute() != 30)
    Debugger("Warning: The postrix can only be run at 30 minute intervals. The time of " +
             dateText(time) + " will be rounded down to the nearest interval.");
  int interval = getIntervalId(time);
  convertTable(*this, "report_id", "UserReports", "report", interval);
  convertTable(*this, "dashboard_id", "Dashboards", "dashboards", interval);
}

}  // namespace postrix
