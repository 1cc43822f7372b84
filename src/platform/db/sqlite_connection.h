// SqliteConnection: the embedded engine, a Connection over one SQLite file.
//
// SQL arrives in the Access dialect and is rewritten and run with the
// functions of access_dialect.h. Values come back as the Access driver gives
// them: numbers as numbers, text as text, and text in a column declared as a
// date or time as a Date. Owns its sqlite3 handle; one thread at a time.
#pragma once

#include <string>       // path, connection text
#include <string_view>  // SQL input
#include <vector>       // table names

#include "platform/db/connection.h"  // the shape implemented

struct sqlite3;

namespace postrix::db {

class SqliteConnection : public Connection {
 public:
  // Opens the existing database file at path; a file that is missing or is
  // no database fails with -2147467259 naming the file and the reason.
  SqliteConnection(const std::string& path, std::string connectionString,
                   double busyWaitSeconds = kDefaultBusyWaitSeconds);
  ~SqliteConnection() override;

  Recordset Execute(std::string_view sql, long* recordsAffected = nullptr) override;
  std::vector<std::string> TableNames() override;
  void BeginTrans() override;
  void CommitTrans() override;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace postrix::db
