// What the runs of this installation have sent, kept in a small database of
// its own in the program folder (postrix_runs.db), beside the run lock.
//
// It lives here and not in the system database because it belongs to the
// installation like the lock does, needs no change to a database the web
// application owns (Access, SQL Server or the embedded one), and works the
// same for all of them. Every write is on disk before it returns, so a run
// killed right after a send still finds the send recorded.
#pragma once

#include <sqlite3.h>

#include <cstdint>  // report ids
#include <initializer_list>
#include <string>  // paths, keys
#include <vector>  // open claims

namespace postrix {

class SentRecord {
 public:
  // The database is opened (and made) on first use. Every operation throws
  // a Failure (57) when the database cannot be read or written.
  explicit SentRecord(std::string path);
  ~SentRecord();
  SentRecord(const SentRecord&) = delete;
  SentRecord& operator=(const SentRecord&) = delete;

  // Whether the report (a key naming it) was sent in the period.
  bool wasSent(const std::string& period, const std::string& report);
  void recordSent(const std::string& period, const std::string& report);

  // An immediate report is claimed before it is marked sent in the system
  // database and released once its send is over; a claim still open at the
  // next run is one whose run died before sending it.
  void claim(std::int32_t reportId);
  void release(std::int32_t reportId);
  std::vector<std::int32_t> openClaims();

  const std::string& path() const { return path_; }

 private:
  sqlite3* database();
  int step(const char* sql, std::initializer_list<std::string> texts, const char* doing);

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace postrix
