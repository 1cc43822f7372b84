// The Access dialect on the embedded engine.
//
// The system's SQL texts are written for the Access driver. Rather than keep
// a second copy of every text, the embedded engine is taught that dialect:
// toSqliteDialect rewrites what SQLite cannot parse, and
// registerAccessFunctions adds the functions Access has and SQLite lacks.
// Together they cover what the system writes; they are no general
// translator. One known difference stays: SQLite's || binds tighter than
// + and -, where Access's & binds looser, so "a & b + 1" is not rewritten
// faithfully (the system never mixes them).
#pragma once

#include <string>       // rewritten SQL
#include <string_view>  // Access SQL

struct sqlite3;

namespace postrix::db {

// Rewrites Access SQL for SQLite, outside string literals, "quoted" and
// [bracketed] names and comments only:
//   a & b          -> a || b
//   #12/5/2026 5:06:37 PM#  -> '2026-12-05 17:06:37'  (a whole day: '2026-12-05';
//                     content that is no date is quoted as it is)
//   isnull( Left( Right(   -> qx_isnull( qx_left( qx_right(
// The last because ISNULL, LEFT and RIGHT are keywords to SQLite's parser, so
// a call of them is a syntax error there. Everything else is copied unchanged.
std::string toSqliteDialect(std::string_view accessSql);

// Registers on db: qx_isnull(x) (1 or 0), qx_left(s, n), qx_right(s, n),
// InStr([start,] s, sub), charindex(sub, s [, start]), GETDATE(), Now() and
// the zero-argument Date(), the last three in local time. Text positions and
// lengths count Unicode code points; searches ignore ASCII letter case, as
// text comparisons do under the schema's NOCASE. Returns an SQLite result code.
int registerAccessFunctions(sqlite3* db);

}  // namespace postrix::db
