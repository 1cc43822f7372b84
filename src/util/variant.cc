#include "util/variant.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "util/failure.h"
#include "util/text.h"

namespace postrix {
namespace {

std::string doubleText(double v) {
  // Fifteen significant digits, as the run-time library prints a double.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s = buf;
  auto e = s.find('E');
  std::string mantissa = s.substr(0, e);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  return e == std::string::npos ? mantissa : mantissa + s.substr(e);
}

template <typename T>
T toIntegral(double v) {
  double r = roundHalfEven(v);
  if (!(r >= std::numeric_limits<T>::min() && r <= std::numeric_limits<T>::max()))
    throw Failure::overflow();
  return static_cast<T>(r);
}

}  // namespace

bool parseNumber(std::string_view text, double& out) {
  std::string trimmed = trimBlanks(text);
  std::string_view s = trimmed;
  if (s.empty()) return false;
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  out = std::strtod(std::string(s).c_str(), nullptr);
  return std::isfinite(out);
}

double roundHalfEven(double v) { return std::nearbyint(v); }  // default mode: to nearest, ties even

std::string Variant::toText() const {
  switch (kind()) {
    case Kind::kEmpty:
      return "";
    case Kind::kNull:
      throw Failure::invalidUseOfNull();
    case Kind::kInteger:
      return std::to_string(std::get<std::int64_t>(value_));
    case Kind::kDouble:
      return doubleText(std::get<double>(value_));
    case Kind::kBoolean:
      return std::get<bool>(value_) ? "True" : "False";
    case Kind::kDate:
      return dateText(std::get<Date>(value_));
    case Kind::kText:
      return std::get<std::string>(value_);
  }
  return "";
}

double Variant::toDouble() const {
  switch (kind()) {
    case Kind::kEmpty:
      return 0;
    case Kind::kNull:
      throw Failure::invalidUseOfNull();
    case Kind::kInteger:
      return static_cast<double>(std::get<std::int64_t>(value_));
    case Kind::kDouble:
      return std::get<double>(value_);
    case Kind::kBoolean:
      return std::get<bool>(value_) ? -1 : 0;
    case Kind::kDate:
      return std::get<Date>(value_).serial();
    case Kind::kText: {
      double v;
      if (!parseNumber(std::get<std::string>(value_), v)) throw Failure::typeMismatch();
      return v;
    }
  }
  return 0;
}

std::int16_t Variant::toInt16() const { return toIntegral<std::int16_t>(toDouble()); }
std::int32_t Variant::toInt32() const { return toIntegral<std::int32_t>(toDouble()); }

bool Variant::toBool() const {
  if (kind() == Kind::kBoolean) return std::get<bool>(value_);
  if (kind() == Kind::kText) {
    std::string t = trimBlanks(std::get<std::string>(value_));
    if (equalsNoCase(t, "True")) return true;
    if (equalsNoCase(t, "False")) return false;
  }
  return toDouble() != 0;
}

Date Variant::toDate() const {
  switch (kind()) {
    case Kind::kNull:
      throw Failure::invalidUseOfNull();
    case Kind::kDate:
      return std::get<Date>(value_);
    case Kind::kText: {
      auto d = parseDate(std::get<std::string>(value_));
      if (!d) throw Failure::typeMismatch();
      return *d;
    }
    default:
      return Date(toDouble());
  }
}

bool Variant::isNumeric() const {
  switch (kind()) {
    case Kind::kNull:
    case Kind::kDate:
      return false;
    case Kind::kText: {
      double ignored;
      return parseNumber(std::get<std::string>(value_), ignored);
    }
    default:
      return true;
  }
}

}  // namespace postrix
