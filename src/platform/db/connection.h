// Connection: one open connection to a database, shaped like ADO's.
//
// Open chooses the engine from the connection string. A string naming the
// Access driver (Driver={Microsoft Access Driver (*.mdb)};Dbq=PATH) or the
// SQLite driver (Driver=SQLite3;Database=PATH) opens the embedded engine on
// the file PATH, which speaks the Access dialect the system writes (see
// access_dialect.h). Every other string, including "dsn=NAME;...", goes to
// ODBC through unixODBC.
//
// Every failure is a Failure with the numbers the system tests for: a
// database or data source that cannot be opened -2147467259, a missing table
// -2147217865, a syntax error -2147217900, an unknown column -2147217904.
// Other database errors keep -2147467259 with the engine's message.
//
// A connection is used by one thread at a time and closes when destroyed.
#pragma once

#include <memory>       // Open's result
#include <string>       // table names, connection text
#include <string_view>  // SQL input
#include <vector>       // table names

#include "platform/db/recordset.h"  // query results

namespace postrix::db {

class Connection {
 public:
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database the connection string names. The embedded engine
  // never creates a missing file: a missing file cannot be opened. It waits
  // up to busyWaitSeconds for a lock another program holds, on opening and
  // on every statement; a file still locked then fails to open with 3050.
  static std::unique_ptr<Connection> Open(std::string_view connectionString,
                                          double busyWaitSeconds = kDefaultBusyWaitSeconds);
  static constexpr double kDefaultBusyWaitSeconds = 60;
  // The file the embedded engine would open for this connection string, or
  // "" when the string goes to ODBC (or names the engine but no file).
  static std::string EmbeddedFile(std::string_view connectionString);

  // Runs one statement. A statement that returns rows gives an open
  // recordset holding all of them; any other gives a closed recordset and,
  // when recordsAffected is given, stores the number of rows it changed.
  virtual Recordset Execute(std::string_view sql, long* recordsAffected = nullptr) = 0;

  // The names of the database's tables and views, as the catalogue lists them.
  virtual std::vector<std::string> TableNames() = 0;

  // Groups the statements up to CommitTrans into one transaction, so that
  // they are written together, with one flush to disk instead of one each.
  // Where a driver keeps committing each statement on its own, these do
  // nothing. CommitTrans that fails undoes the group and fails.
  virtual void BeginTrans() {}
  virtual void CommitTrans() {}

  // The connection string the connection was opened with.
  const std::string& ConnectionString() const { return connectionString_; }

 protected:
  explicit Connection(std::string connectionString)
      : connectionString_(std::move(connectionString)) {}

 private:
  std::string connectionString_;
};

}  // namespace postrix::db
