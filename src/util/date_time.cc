#include "util/date_time.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace postrix {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long daysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void civilFromDays(long z, int& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// 1899-12-30, day 0 of the serial count.
constexpr long kEpochFrom1970 = -25569;

std::string pad2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

// A small scanner over date texts.
struct Scanner {
  std::string_view s;
  size_t i = 0;
  void skipBlanks() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  bool number(int& out, size_t maxDigits) {
    size_t start = i;
    long v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < maxDigits)
      v = v * 10 + (s[i++] - '0');
    out = static_cast<int>(v);
    return i > start;
  }
  bool take(char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool done() const { return i == s.size(); }
};

bool validDate(int y, int m, int d) {
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  Date first = Date::fromParts(y, m, 1);
  return d <= first.addMonths(1).addDays(-1).day();
}

bool readDatePart(Scanner& sc, int& y, int& m, int& d) {
  size_t start = sc.i;
  int a, b, c;
  if (!sc.number(a, 4)) return false;
  if (sc.i - start == 4 && sc.take('-')) {  // YYYY-MM-DD
    if (!sc.number(b, 2) || !sc.take('-') || !sc.number(c, 2)) return false;
    y = a, m = b, d = c;
  } else {  // M/D/YYYY
    if (!sc.take('/') || !sc.number(b, 2) || !sc.take('/')) return false;
    size_t ys = sc.i;
    if (!sc.number(c, 4) || sc.i - ys != 4) return false;
    m = a, d = b, y = c;
  }
  return validDate(y, m, d);
}

bool readTimePart(Scanner& sc, int& h, int& mi, int& s) {
  s = 0;
  if (!sc.number(h, 2) || !sc.take(':') || !sc.number(mi, 2)) return false;
  if (sc.take(':') && !sc.number(s, 2)) return false;
  if (sc.i < sc.s.size() && sc.s[sc.i] == '.') {  // fractions of a second, as SQL may give
    ++sc.i;
    int ignored;
    if (!sc.number(ignored, 9)) return false;
  }
  sc.skipBlanks();
  std::string rest(sc.s.substr(sc.i));
  for (auto& ch : rest) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (rest == "AM" || rest == "PM") {
    if (h < 1 || h > 12) return false;
    h = (h % 12) + (rest == "PM" ? 12 : 0);
    sc.i = sc.s.size();
  }
  return h <= 23 && mi <= 59 && s <= 59;
}

}  // namespace

Date Date::fromParts(int year, int month, int day, int hour, int minute, int second) {
  long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
              kEpochFrom1970;
  return Date(static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0);
}

Date::Parts Date::parts() const {
  // Round to whole seconds first, so 0.99999999 of a day reads as the next day.
  double total = std::round(serial_ * 86400.0);
  long days = static_cast<long>(std::floor(total / 86400.0));
  long secs = static_cast<long>(total - static_cast<double>(days) * 86400.0);
  Parts p{};
  civilFromDays(days + kEpochFrom1970, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

int Date::year() const { return parts().year; }
int Date::month() const { return parts().month; }
int Date::day() const { return parts().day; }
int Date::hour() const { return parts().hour; }
int Date::minute() const { return parts().minute; }
int Date::second() const { return parts().second; }

int Date::weekday() const {
  long days = static_cast<long>(std::floor(std::round(serial_ * 86400.0) / 86400.0));
  // Day 0 (30 December 1899) was a Saturday.
  long w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

Date Date::datePart() const {
  Parts p = parts();
  return fromParts(p.year, p.month, p.day);
}

Date Date::addMonths(int months) const {
  Parts p = parts();
  int index = p.year * 12 + (p.month - 1) + months;
  int y = index / 12, m = index % 12 + 1;
  Date first = fromParts(y, m, 1);
  int last = fromParts(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1).addDays(-1).day();
  double time = serial_ - std::floor(serial_);
  return Date(first.addDays(std::min(p.day, last) - 1).serial() + time);
}

std::string shortDate(Date d) {
  return std::to_string(d.month()) + "/" + std::to_string(d.day()) + "/" + std::to_string(d.year());
}

std::string longTime(Date d) {
  int h = d.hour();
  int h12 = h % 12 == 0 ? 12 : h % 12;
  return std::to_string(h12) + ":" + pad2(d.minute()) + ":" + pad2(d.second()) +
         (h < 12 ? " AM" : " PM");
}

std::string dateText(Date d) {
  double whole = std::floor(d.serial());
  bool hasTime = d.serial() != whole;
  if (whole == 0 && hasTime) return longTime(d);
  if (!hasTime) return shortDate(d);
  return shortDate(d) + " " + longTime(d);
}

std::string sqlDate(Date d) {
  return std::to_string(d.year()) + "-" + pad2(d.month()) + "-" + pad2(d.day());
}

std::string sqlDateTime(Date d) {
  return sqlDate(d) + " " + pad2(d.hour()) + ":" + pad2(d.minute()) + ":" + pad2(d.second());
}

std::optional<Date> parseDate(std::string_view text) {
  Scanner sc{text};
  sc.skipBlanks();
  int y = 1899, m = 12, d = 30, h = 0, mi = 0, s = 0;
  size_t start = sc.i;
  bool haveDate = readDatePart(sc, y, m, d);
  if (!haveDate) {
    sc.i = start;
    if (!readTimePart(sc, h, mi, s)) return std::nullopt;
  } else {
    sc.skipBlanks();
    if (!sc.done() && !readTimePart(sc, h, mi, s)) return std::nullopt;
  }
  sc.skipBlanks();
  if (!sc.done()) return std::nullopt;
  return Date::fromParts(y, m, d, h, mi, s);
}

}  // namespace postrix
