// Temporary folders and system databases made from the schema files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace postrix::test {

// A fresh folder under /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const;  // path() + "/" + name

 private:
  std::string path_;
};

// Creates the tables of schema/system.sql and schema/company_reports.sql in
// the SQLite file at path; returns the connection string to it.
std::string createSystemDatabase(const std::string& path);

// Runs SQL on the file straight through SQLite; throws std::runtime_error on failure.
void runSqlite(const std::string& path, const std::string& sql);
// The same, returning the rows of the result, columns joined with "|".
std::vector<std::string> querySqlite(const std::string& path, const std::string& sql);

// The whole file as bytes; "" when it cannot be read.
std::string readFile(const std::string& path);

// A port of 127.0.0.1 that was free a moment ago: nothing listens there.
int closedPort();

// The file behind the process-wide ODBC data source "SystemDB"; shared, so empty what you use.
const std::string& odbcSystemDatabase();

}  // namespace postrix::test
