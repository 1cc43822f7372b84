#include "platform/db/sqlite_connection.h"

#include <sqlite3.h>

#include <filesystem>  // telling a missing file from a bad one
#include <utility>     // std::move

#include "platform/db/access_dialect.h"  // toSqliteDialect, registerAccessFunctions
#include "platform/db/db_errors.h"       // engineFailure
#include "util/failure.h"                // Failure
#include "util/text.h"                   // toUpper

namespace postrix::db {
namespace {

// Owns one prepared statement.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(handle); }
};

// A column without a declared type (an expression): its first value decides.
constexpr int kTypeOfFirstValue = 0;

// What a column's declared type says, by SQLite's own affinity rules refined
// into the ADO codes the Access driver reports.
int adoTypeOfDeclared(const char* declared) {
  std::string d = toUpper(declared ? declared : "");
  auto has = [&d](const char* word) { return d.find(word) != std::string::npos; };
  if (d.empty()) return kTypeOfFirstValue;
  if (has("BIGINT")) return ado_type::kBigInt;
  if (has("SMALLINT")) return ado_type::kSmallInt;
  if (has("TINYINT")) return ado_type::kTinyInt;
  if (has("INT")) return ado_type::kInteger;
  if (has("BOOL") || has("BIT") || has("YESNO")) return ado_type::kBoolean;
  if (has("DATE") || has("TIME")) return ado_type::kDate;
  if (has("MEMO") || has("LONGTEXT")) return ado_type::kLongVarWChar;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ado_type::kVarWChar;
  if (has("BLOB")) return ado_type::kLongVarBinary;
  if (has("REAL") || has("FLOA") || has("DOUB")) return ado_type::kDouble;
  return ado_type::kNumeric;
}

int adoTypeOfStorage(int storageClass) {
  switch (storageClass) {
    case SQLITE_INTEGER:
      return ado_type::kInteger;
    case SQLITE_FLOAT:
      return ado_type::kDouble;
    case SQLITE_BLOB:
      return ado_type::kLongVarBinary;
    default:
      return ado_type::kVarWChar;
  }
}

Variant readValue(sqlite3_stmt* st, int column, int adoType) {
  switch (sqlite3_column_type(st, column)) {
    case SQLITE_NULL:
      return Variant::null();
    case SQLITE_INTEGER: {
      long long v = sqlite3_column_int64(st, column);
      return adoType == ado_type::kBoolean ? Variant(v != 0) : Variant(v);
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(st, column));
    default:
      break;
  }
  // Text and blob alike: the bytes as they are.
  auto* bytes = static_cast<const char*>(sqlite3_column_blob(st, column));
  std::string text(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(st, column)));
  if (adoType == ado_type::kDate) {
    if (auto date = parseDate(text)) return Variant(*date);
  }
  return Variant(std::move(text));
}

std::vector<FieldInfo> describeColumns(sqlite3_stmt* st) {
  std::vector<FieldInfo> fields;
  for (int i = 0; i < sqlite3_column_count(st); ++i) {
    fields.push_back(
        {sqlite3_column_name(st, i), adoTypeOfDeclared(sqlite3_column_decltype(st, i))});
  }
  return fields;
}

// Whether SQL text follows the first statement; blanks, semicolons and
// comments do not count.
bool hasFurtherStatement(sqlite3* db, const char* tail) {
  while (tail && *tail) {
    sqlite3_stmt* next = nullptr;
    const char* rest = nullptr;
    int rc = sqlite3_prepare_v2(db, tail, -1, &next, &rest);
    sqlite3_finalize(next);
    if (rc != SQLITE_OK || next) return true;
    tail = rest;
  }
  return false;
}

// Prepares the one statement of text; SQLite would silently ignore a second
// statement, Access refuses it.
void prepareSingle(sqlite3* db, const std::string& text, Statement& st) {
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, text.c_str(), static_cast<int>(text.size()) + 1, &st.handle, &tail) !=
      SQLITE_OK) {
    throw engineFailure(sqlite3_errmsg(db));
  }
  if (hasFurtherStatement(db, tail)) {
    throw Failure(err::kSyntaxError, "Characters found after end of SQL statement.");
  }
}

// Runs a statement that returns no rows; the number of rows it changed.
long runWithoutRows(sqlite3* db, sqlite3_stmt* st) {
  sqlite3_int64 changesBefore = sqlite3_total_changes64(db);
  if (sqlite3_step(st) != SQLITE_DONE) throw engineFailure(sqlite3_errmsg(db));
  // sqlite3_changes() keeps the count of an earlier statement after DDL.
  bool changed = sqlite3_total_changes64(db) != changesBefore;
  return changed ? static_cast<long>(sqlite3_changes64(db)) : 0;
}

Recordset readAll(sqlite3* db, sqlite3_stmt* st, std::vector<FieldInfo> fields) {
  std::vector<Recordset::Row> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    Recordset::Row row;
    for (size_t i = 0; i < fields.size(); ++i) {
      int column = static_cast<int>(i);
      if (fields[i].Type == kTypeOfFirstValue)
        fields[i].Type = adoTypeOfStorage(sqlite3_column_type(st, column));
      row.push_back(readValue(st, column, fields[i].Type));
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) throw engineFailure(sqlite3_errmsg(db));
  for (FieldInfo& f : fields) {
    if (f.Type == kTypeOfFirstValue) f.Type = ado_type::kVarWChar;  // no rows to tell by
  }
  return Recordset(std::move(fields), std::move(rows));
}

std::string openFailureText(const std::string& path, const char* reason) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return "Could not find file '" + path + "'.";
  return "Cannot open database file '" + path + "': " + reason;
}

// A run writes two or three statements per message sent, each its own
// transaction. In the default mode every one creates the rollback journal
// and deletes it again, which costs more than the rest of the send; keeping
// the file and truncating it is as safe. This holds for this connection
// only, and a database in another mode (WAL) is left in it.
int keepJournalFile(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr);
  bool deleting =
      rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
      std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) == "delete";
  sqlite3_finalize(st);
  if (rc != SQLITE_OK || !deleting) return rc;
  return sqlite3_exec(db, "PRAGMA journal_mode=TRUNCATE", nullptr, nullptr, nullptr);
}

}  // namespace

// The web application writes to the same file; its lock is waited for
// rather than a run's rows failed over a moment's contention.
SqliteConnection::SqliteConnection(const std::string& path, std::string connectionString,
                                   double busyWaitSeconds)
    : Connection(std::move(connectionString)) {
  // Never SQLITE_OPEN_CREATE: a mistyped path must not become an empty database.
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db_, static_cast<int>(busyWaitSeconds * 1000));
  if (rc == SQLITE_OK) rc = registerAccessFunctions(db_);
  // Opening is lazy; reading the catalogue proves the file is a database.
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = keepJournalFile(db_);
  if (rc != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
      throw Failure(err::kDatabaseLocked, "The database file '" + path +
                                              "' is locked by another program (" + reason + ")");
    throw Failure(err::kCannotOpen, openFailureText(path, reason.c_str()));
  }
}

SqliteConnection::~SqliteConnection() { sqlite3_close_v2(db_); }

void SqliteConnection::BeginTrans() {
  // IMMEDIATE: the write lock is waited for here, where the busy handler
  // always applies, not half-way through the transaction.
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    throw Failure(err::kCannotOpen, sqlite3_errmsg(db_));
}

void SqliteConnection::CommitTrans() {
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return;
  Failure failure(err::kCannotOpen, sqlite3_errmsg(db_));
  // Left open, the transaction would swallow every later statement of the run.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  throw failure;
}

Recordset SqliteConnection::Execute(std::string_view sql, long* recordsAffected) {
  if (recordsAffected) *recordsAffected = 0;
  std::string text = toSqliteDialect(sql);
  Statement st;
  prepareSingle(db_, text, st);
  if (!st.handle) return {};  // nothing but blanks
  std::vector<FieldInfo> fields = describeColumns(st.handle);
  if (!fields.empty()) return readAll(db_, st.handle, std::move(fields));
  long changed = runWithoutRows(db_, st.handle);
  if (recordsAffected) *recordsAffected = changed;
  return {};
}

std::vector<std::string> SqliteConnection::TableNames() {
  Recordset rs = Execute(
      "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
  std::vector<std::string> names;
  for (; !rs.eof(); rs.MoveNext()) names.push_back(rs.Fields("name").toText());
  return names;
}

}  // namespace postrix::db
