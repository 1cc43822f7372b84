// Variant: the loosely typed value of the system's design.
//
// Recordset fields, settings read from the database or the command line, and
// a few operation results hold a Variant. It is empty, NULL, an integer, a
// double, a Boolean, a date or a text, and is converted to the type its
// reader asks for. A conversion that cannot be made throws the Failure the
// design names: NULL read as text or number is 94, text that is not a number
// is 13 (type mismatch), a number outside the target's range is 6 (overflow).
// Values are plain copyable data.
#pragma once

#include <cstdint>      // integer storage
#include <string>       // text storage
#include <string_view>  // numeric parsing input
#include <variant>      // the storage itself

#include "util/date_time.h"  // Date

namespace postrix {

struct Null {
  friend bool operator==(Null, Null) { return true; }
};

class Variant {
 public:
  enum class Kind { kEmpty, kNull, kInteger, kDouble, kBoolean, kDate, kText };

  Variant() = default;
  Variant(Null) : value_(Null{}) {}
  Variant(int v) : value_(static_cast<std::int64_t>(v)) {}
  Variant(long v) : value_(static_cast<std::int64_t>(v)) {}
  Variant(long long v) : value_(static_cast<std::int64_t>(v)) {}
  Variant(double v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(Date v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}

  static Variant null() { return Variant(Null{}); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool isEmpty() const { return kind() == Kind::kEmpty; }
  bool isNull() const { return kind() == Kind::kNull; }

  // Conversions, each failing as described above. An empty value reads as ""
  // or 0 or False.
  std::string toText() const;
  double toDouble() const;
  std::int16_t toInt16() const;  // rounds halves to even
  std::int32_t toInt32() const;  // rounds halves to even
  bool toBool() const;
  Date toDate() const;

  // Whether the value reads as a number: empty, numbers, Booleans and texts
  // that hold a decimal number with blanks around it. NULL is not numeric.
  bool isNumeric() const;

  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

 private:
  std::variant<std::monostate, Null, std::int64_t, double, bool, Date, std::string> value_;
};

// Reads a decimal number ("12", " -3.5 ", "1e3") the way the run-time library
// does; nothing else is a number.
bool parseNumber(std::string_view text, double& out);

// Rounds to the nearest integer, halves to the even one (the run-time library's rule).
double roundHalfEven(double v);

}  // namespace postrix
