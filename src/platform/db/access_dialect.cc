#include "platform/db/access_dialect.h"

#include <sqlite3.h>

#include <cctype>   // identifier characters
#include <cstdint>  // sqlite3_int64 arithmetic

#include "platform/clock.h"  // SystemClock: the engine's own clock
#include "util/date_time.h"  // parseDate, sqlDate, sqlDateTime
#include "util/text.h"       // toLower, sqlQuoted

namespace postrix::db {
namespace {

bool isWordByte(char c) {
  auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Copies a quoted stretch starting at sql[at] (the opening quote) through its
// closing quote, a doubled closing quote being part of the text. An
// unterminated stretch runs to the end; SQLite will report it.
size_t copyQuoted(std::string_view sql, size_t at, char close, std::string& out) {
  size_t i = at + 1;
  while (i < sql.size()) {
    if (sql[i] != close) {
      ++i;
    } else if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
      i += 2;
    } else {
      ++i;
      break;
    }
  }
  out.append(sql.substr(at, i - at));
  return i;
}

// Copies a comment as SQLite reads it (-- to the line end, /* to */), so a
// quote inside one does not start a literal.
size_t copyComment(std::string_view sql, size_t at, std::string& out) {
  bool line = sql[at] == '-';
  size_t end = sql.find(line ? "\n" : "*/", at + 2);
  end = end == std::string_view::npos ? sql.size() : end + (line ? 0 : 2);
  out.append(sql.substr(at, end - at));
  return end;
}

// #...# becomes a text literal in the form the engine's date functions and
// text comparisons understand. A whole day is written without a time so it
// equals what Date() stores.
size_t rewriteDateLiteral(std::string_view sql, size_t at, std::string& out) {
  size_t close = sql.find('#', at + 1);
  if (close == std::string_view::npos) {
    out += '#';
    return at + 1;
  }
  std::string_view content = sql.substr(at + 1, close - at - 1);
  std::string text(content);
  if (auto date = parseDate(content)) {
    bool wholeDay = date->serial() == date->datePart().serial();
    text = wholeDay ? sqlDate(*date) : sqlDateTime(*date);
  }
  out += '\'' + sqlQuoted(text) + '\'';
  return close + 1;
}

// The registered name of an Access function whose own name SQLite's parser
// takes for a keyword, or "" for any other word.
std::string_view renamedFunction(std::string_view lowerWord) {
  if (lowerWord == "isnull") return "qx_isnull";
  if (lowerWord == "left") return "qx_left";
  if (lowerWord == "right") return "qx_right";
  return "";
}

size_t copyWord(std::string_view sql, size_t at, std::string& out) {
  size_t end = at;
  while (end < sql.size() && isWordByte(sql[end])) ++end;
  std::string_view word = sql.substr(at, end - at);
  size_t next = end;
  while (next < sql.size() && isBlank(sql[next])) ++next;
  std::string_view renamed = renamedFunction(toLower(word));
  bool isCall = next < sql.size() && sql[next] == '(';
  out.append(isCall && !renamed.empty() ? renamed : word);
  return end;
}

// UTF-8 text as SQLite hands it over; positions count code points.
struct Utf8 {
  std::string_view bytes;

  static bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
  size_t length() const {
    size_t n = 0;
    for (char c : bytes) n += continuation(c) ? 0 : 1;
    return n;
  }
  // The byte offset where code point number `chars` (0-based) starts.
  size_t offsetOf(size_t chars) const {
    size_t i = 0;
    for (; i < bytes.size(); ++i) {
      if (!continuation(bytes[i]) && chars-- == 0) break;
    }
    return i;
  }
  size_t charsBefore(size_t offset) const { return Utf8{bytes.substr(0, offset)}.length(); }
};

std::string_view textArg(sqlite3_value* v) {
  auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(v))) : "";
}

bool anyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  }
  return false;
}

void resultText(sqlite3_context* ctx, std::string_view text) {
  sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void invalidCall(sqlite3_context* ctx) {
  sqlite3_result_error(ctx, "Invalid procedure call or argument", -1);
}

// The 1-based code point position of sub in s at or after code point `start`
// (1-based), ignoring ASCII case; 0 when absent.
sqlite3_int64 findFrom(std::string_view s, std::string_view sub, sqlite3_int64 start) {
  Utf8 text{s};
  if (start > static_cast<sqlite3_int64>(text.length()) + 1) return 0;
  if (sub.empty()) return start;
  size_t from = text.offsetOf(static_cast<size_t>(start - 1));
  size_t at = toLower(s).find(toLower(sub), from);
  return at == std::string::npos ? 0 : static_cast<sqlite3_int64>(text.charsBefore(at)) + 1;
}

void isNullFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_int(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? 1 : 0);
}

// Left(s, n) and Right(s, n); user data tells which.
void sideFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_int64 n = sqlite3_value_int64(argv[1]);
  if (n < 0) return invalidCall(ctx);
  Utf8 text{textArg(argv[0])};
  size_t length = text.length();
  size_t keep = static_cast<size_t>(n) < length ? static_cast<size_t>(n) : length;
  bool fromLeft = sqlite3_user_data(ctx) == nullptr;
  size_t cut = text.offsetOf(fromLeft ? keep : length - keep);
  resultText(ctx, fromLeft ? text.bytes.substr(0, cut) : text.bytes.substr(cut));
}

// InStr([start,] s, sub): a start below 1 is an invalid call, as in Access.
void inStrFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_int64 start = argc == 3 ? sqlite3_value_int64(argv[0]) : 1;
  if (start < 1) return invalidCall(ctx);
  int s = argc - 2;
  sqlite3_result_int64(ctx, findFrom(textArg(argv[s]), textArg(argv[s + 1]), start));
}

// charindex(sub, s [, start]): SQL Server reads a start below 1 as 1 and
// never finds an empty text.
void charIndexFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_int64 start = argc == 3 ? sqlite3_value_int64(argv[2]) : 1;
  std::string_view sub = textArg(argv[0]);
  if (sub.empty()) return sqlite3_result_int64(ctx, 0);
  sqlite3_result_int64(ctx, findFrom(textArg(argv[1]), sub, start < 1 ? 1 : start));
}

// GETDATE() and Now(), or with user data set, Access's Date().
void nowFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  Date now = SystemClock().now();
  resultText(ctx, sqlite3_user_data(ctx) ? sqlDate(now) : sqlDateTime(now));
}

using Function = void (*)(sqlite3_context*, int, sqlite3_value**);

struct Registration {
  const char* name;
  int args;
  bool deterministic;
  Function function;
  bool flag;  // handed to the function as user data
};

// SQLite picks a registration whose argument count matches exactly over its
// own variadic date(), so date(x, ...) keeps the built-in meaning.
constexpr Registration kFunctions[] = {
    {"qx_isnull", 1, true, isNullFunction, false},
    {"qx_left", 2, true, sideFunction, false},
    {"qx_right", 2, true, sideFunction, true},
    {"instr", 2, true, inStrFunction, false},
    {"instr", 3, true, inStrFunction, false},
    {"charindex", 2, true, charIndexFunction, false},
    {"charindex", 3, true, charIndexFunction, false},
    {"getdate", 0, false, nowFunction, false},
    {"now", 0, false, nowFunction, false},
    {"date", 0, false, nowFunction, true},
};

}  // namespace

int registerAccessFunctions(sqlite3* db) {
  static int flagSet = 1;
  for (const Registration& r : kFunctions) {
    int encoding = SQLITE_UTF8 | (r.deterministic ? SQLITE_DETERMINISTIC : 0);
    int rc = sqlite3_create_function(db, r.name, r.args, encoding, r.flag ? &flagSet : nullptr,
                                     r.function, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

std::string toSqliteDialect(std::string_view accessSql) {
  std::string out;
  out.reserve(accessSql.size() + 16);
  size_t i = 0;
  while (i < accessSql.size()) {
    char c = accessSql[i];
    if (c == '\'' || c == '"') {
      i = copyQuoted(accessSql, i, c, out);
    } else if (c == '[') {
      i = copyQuoted(accessSql, i, ']', out);
    } else if (accessSql.substr(i, 2) == "--" || accessSql.substr(i, 2) == "/*") {
      i = copyComment(accessSql, i, out);
    } else if (c == '&') {
      out += "||";
      ++i;
    } else if (c == '#') {
      i = rewriteDateLiteral(accessSql, i, out);
    } else if (isWordByte(c)) {
      i = copyWord(accessSql, i, out);
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace postrix::db
