#include "run/sent_record.h"

#include <sys/stat.h>

#include "util/failure.h"

namespace postrix {
namespace {

// WAL with FULL sync: one flush to disk per record, and a record that
// returned is there after a crash. Periods older than 40 days are of no
// use to any run and are dropped when the file is opened.
constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
    "CREATE TABLE IF NOT EXISTS sent (period TEXT NOT NULL, report TEXT NOT NULL,"
    " sent_at TEXT NOT NULL DEFAULT (datetime('now')), PRIMARY KEY (period, report));"
    "CREATE TABLE IF NOT EXISTS claims (report_id INTEGER PRIMARY KEY,"
    " claimed_at TEXT NOT NULL DEFAULT (datetime('now')));"
    "DELETE FROM sent WHERE sent_at < datetime('now', '-40 days');";

constexpr int kBusyTimeoutMs = 10000;

struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

SentRecord::SentRecord(std::string path) : path_(std::move(path)) {}

SentRecord::~SentRecord() { sqlite3_close_v2(db_); }

sqlite3* SentRecord::database() {
  if (db_) return db_;
  mode_t old = umask(077);  // it names recipients: for the owner only
  int rc =
      sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  umask(old);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw Failure(err::kDeviceIO, "Cannot open '" + path_ + "': " + reason);
  }
  return db_;
}

// sql with ?1, ?2, ... bound to texts, stepped once: SQLITE_ROW, or
// SQLITE_DONE when it gave no row. Throws Failure 57 naming the file.
int SentRecord::step(const char* sql, std::initializer_list<std::string> texts, const char* doing) {
  sqlite3* db = database();
  Statement st;
  int rc = sqlite3_prepare_v2(db, sql, -1, &st.handle, nullptr);
  int index = 0;
  for (const std::string& text : texts)
    if (rc == SQLITE_OK)
      rc = sqlite3_bind_text(st.handle, ++index, text.c_str(), -1, SQLITE_TRANSIENT);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.handle);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    throw Failure(err::kDeviceIO, std::string(doing) + " '" + path_ + "': " + sqlite3_errmsg(db));
  return rc;
}

bool SentRecord::wasSent(const std::string& period, const std::string& report) {
  return step("SELECT 1 FROM sent WHERE period = ?1 AND report = ?2", {period, report},
              "Cannot read") == SQLITE_ROW;
}

void SentRecord::recordSent(const std::string& period, const std::string& report) {
  step("INSERT OR REPLACE INTO sent (period, report) VALUES (?1, ?2)", {period, report},
       "Cannot write");
}

void SentRecord::claim(std::int32_t reportId) {
  step("INSERT OR REPLACE INTO claims (report_id) VALUES (CAST(?1 AS INTEGER))",
       {std::to_string(reportId)}, "Cannot write");
}

void SentRecord::release(std::int32_t reportId) {
  step("DELETE FROM claims WHERE report_id = CAST(?1 AS INTEGER)", {std::to_string(reportId)},
       "Cannot write");
}

std::vector<std::int32_t> SentRecord::openClaims() {
  sqlite3* db = database();
  Statement st;
  std::vector<std::int32_t> ids;
  int rc = sqlite3_prepare_v2(db, "SELECT report_id FROM claims ORDER BY claimed_at, report_id", -1,
                              &st.handle, nullptr);
  if (rc == SQLITE_OK)
    while ((rc = sqlite3_step(st.handle)) == SQLITE_ROW)
      ids.push_back(sqlite3_column_int(st.handle, 0));
  if (rc != SQLITE_DONE)
    throw Failure(err::kDeviceIO, "Cannot read '" + path_ + "': " + sqlite3_errmsg(db));
  return ids;
}

}  // namespace postrix
