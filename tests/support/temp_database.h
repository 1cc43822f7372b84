// Test support: temporary folders and system databases made from the
// shipped schema (schema/system.sql), for tests of anything that reads or
// writes the system database, embedded or through ODBC.
#pragma once

#include <string>       // paths, connection strings
#include <string_view>  // file names

namespace postrix::test {

// A fresh, uniquely named folder under /tmp, removed with everything in it
// when the object is destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(std::string_view name) const;

 private:
  std::string path_;
};

// Creates (or adds the tables to) the SQLite file at path from the shipped
// schema and returns the connection string that opens it on the embedded
// engine: Driver={Microsoft Access Driver (*.mdb)};Dbq=PATH.
// Throws std::runtime_error when the file cannot be made.
std::string createSystemDatabase(const std::string& path);

// Runs SQL (several statements allowed) on the file at path straight through
// SQLite, bypassing the db layer: for seeding and for breaking a database.
// Throws std::runtime_error with SQLite's message on failure.
void runSqlite(const std::string& path, const std::string& sql);

// The one ODBC data source of the test process. unixODBC reads its ini files
// once per process, so the first call writes odbcinst.ini and odbc.ini into a
// temporary folder, points ODBCSYSINI and ODBCINI at them, and creates a
// system database for the DSN "SystemDB" (driver: Debian's sqliteodbc).
// Returns that database's path; it lives until the process ends. Tests
// sharing it should empty the tables they use.
const std::string& odbcSystemDatabase();

}  // namespace postrix::test
