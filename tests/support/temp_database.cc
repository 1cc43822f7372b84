#include "support/temp_database.h"

#include <sqlite3.h>
#include <stdlib.h>  // mkdtemp, setenv

#include <filesystem>  // remove_all
#include <fstream>     // schema and ini files
#include <sstream>     // reading the schema
#include <stdexcept>   // std::runtime_error

namespace postrix::test {
namespace {

constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/postrix-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view name) const { return path_ + "/" + std::string(name); }

void runSqlite(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  char* message = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string error = message ? message : (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_free(message);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(path + ": " + error);
}

std::string createSystemDatabase(const std::string& path) {
  runSqlite(path, readFile(std::string(POSTRIX_SOURCE_DIR) + "/schema/system.sql"));
  return "Driver={Microsoft Access Driver (*.mdb)};Dbq=" + path;
}

const std::string& odbcSystemDatabase() {
  static TempDir dir;
  static const std::string database = [] {
    std::string db = dir.file("odbc_system.db");
    createSystemDatabase(db);
    writeFile(dir.file("odbcinst.ini"), "");
    writeFile(dir.file("odbc.ini"),
              "[SystemDB]\nDriver=" + std::string(kSqliteOdbcDriver) + "\nDatabase=" + db + "\n");
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    return db;
  }();
  return database;
}

}  // namespace postrix::test
