// Date values and their text forms.
//
// A Date is a day count with a fraction of a day, counted from 30 December
// 1899, the form every date of the system's design takes. This module is the
// one owner of the regional text forms: short date M/D/YYYY and long time
// h:mm:ss AM/PM (a server with United States settings), and of the form used
// inside SQL, YYYY-MM-DD HH:MM:SS. Values are plain data; nothing here is
// shared between threads.
#pragma once

#include <optional>     // parse results
#include <string>       // text forms
#include <string_view>  // text input

namespace postrix {

class Date {
 public:
  constexpr Date() = default;
  constexpr explicit Date(double serial) : serial_(serial) {}

  // Builds a date from its calendar parts; out-of-range parts are not checked here.
  static Date fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

  double serial() const { return serial_; }
  int year() const;
  int month() const;
  int day() const;
  int hour() const;
  int minute() const;
  int second() const;
  // 1 = Sunday ... 7 = Saturday.
  int weekday() const;

  Date datePart() const;
  Date addDays(int days) const { return Date(serial_ + days); }
  // Adds calendar months; a day beyond the new month's end becomes its last day.
  Date addMonths(int months) const;

  friend bool operator==(const Date& a, const Date& b) { return a.serial_ == b.serial_; }

 private:
  struct Parts {
    int year, month, day, hour, minute, second;
  };
  Parts parts() const;

  double serial_ = 0;
};

// 12/5/2026
std::string shortDate(Date d);
// 5:06:37 PM
std::string longTime(Date d);
// The platform's default text of a date value: the date alone when there is no
// time of day, the time alone when there is no date part, else both.
std::string dateText(Date d);
// 2026-12-05 17:06:37, the form of date literals inside SQL.
std::string sqlDateTime(Date d);
// 2026-12-05
std::string sqlDate(Date d);

// Reads a date, a time, or both: M/D/YYYY, YYYY-MM-DD, optionally followed by
// H:MM[:SS] with an optional AM/PM; or the time alone. Nothing else is a date.
std::optional<Date> parseDate(std::string_view text);

}  // namespace postrix
