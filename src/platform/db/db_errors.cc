#include "platform/db/db_errors.h"

#include <array>   // keyword tables
#include <string>  // Failure description

#include "util/text.h"  // containsNoCase

namespace postrix::db {
namespace {

struct Keyword {
  std::string_view text;
  long number;
};

// SQLite's wording first, then SQL Server's: both reach us through ODBC too.
constexpr std::array kKeywords{
    Keyword{"no such table", err::kTableNotFound},
    Keyword{"Invalid object name", err::kTableNotFound},
    Keyword{"no such column", err::kUnknownColumn},
    Keyword{"Invalid column name", err::kUnknownColumn},
    Keyword{"syntax error", err::kSyntaxError},
    Keyword{"near \"", err::kSyntaxError},
    Keyword{"incomplete input", err::kSyntaxError},
    Keyword{"unrecognized token", err::kSyntaxError},
    Keyword{"no such function", err::kSyntaxError},
    Keyword{"wrong number of arguments", err::kSyntaxError},
    Keyword{"Incorrect syntax", err::kSyntaxError},
};

struct StateClass {
  std::string_view state;
  long number;
};

// 42S02/42S22 are ODBC 3 states, S0002/S0022 their ODBC 2 names; 37000 is the
// ODBC 2 name of 42000.
constexpr std::array kStates{
    StateClass{"42S02", err::kTableNotFound}, StateClass{"S0002", err::kTableNotFound},
    StateClass{"42S22", err::kUnknownColumn}, StateClass{"S0022", err::kUnknownColumn},
    StateClass{"42000", err::kSyntaxError},   StateClass{"37000", err::kSyntaxError},
    StateClass{"IM002", err::kCannotOpen},    StateClass{"08001", err::kCannotOpen},
    StateClass{"08004", err::kCannotOpen},    StateClass{"28000", err::kCannotOpen},
};

}  // namespace

long classifyEngineMessage(std::string_view message) {
  for (const Keyword& k : kKeywords) {
    if (containsNoCase(message, k.text)) return k.number;
  }
  return err::kCannotOpen;
}

long classifyOdbcDiagnostic(std::string_view sqlState, std::string_view message) {
  for (const StateClass& s : kStates) {
    if (equalsNoCase(sqlState, s.state)) return s.number;
  }
  return classifyEngineMessage(message);
}

Failure engineFailure(std::string_view message) {
  return Failure(classifyEngineMessage(message), std::string(message));
}

}  // namespace postrix::db
