#include "support/temp_database.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <stdlib.h>  // mkdtemp, setenv
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace postrix::test {

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

namespace {

// Collects each result row as its columns joined with "|" (NULL as "NULL").
int collectRow(void* rows, int columns, char** values, char**) {
  std::string row;
  for (int i = 0; i < columns; ++i)
    row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
  static_cast<std::vector<std::string>*>(rows)->push_back(row);
  return 0;
}

}  // namespace

void runSqlite(const std::string& path, const std::string& sql) { querySqlite(path, sql); }

std::vector<std::string> querySqlite(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  char* message = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), collectRow, &rows, &message);
  std::string error = message ? message : (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_free(message);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(path + ": " + error);
  return rows;
}

std::string createSystemDatabase(const std::string& path) {
  // Every table the program reads, the per-company one included: tests that
  // want an installation without it drop it.
  for (const char* file : {"/schema/system.sql", "/schema/company_reports.sql"}) {
    std::ifstream schema(std::string(POSTRIX_SOURCE_DIR) + file);
    std::ostringstream sql;
    if (!(sql << schema.rdbuf())) throw std::runtime_error(std::string("cannot read ") + file);
    runSqlite(path, sql.str());
  }
  return "Driver={Microsoft Access Driver (*.mdb)};Dbq=" + path;
}

// unixODBC reads its ini files once per process, hence one data source for all tests.
const std::string& odbcSystemDatabase() {
  static TempDir dir;
  static const std::string database = [] {
    std::string db = dir.file("odbc_system.db");
    createSystemDatabase(db);
    std::ofstream(dir.file("odbc.ini"))
        << "[SystemDB]\nDatabase=" << db
        << "\nDriver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    return db;
  }();
  return database;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int closedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("cannot find a free port");
  return ntohs(address.sin_port);
}

}  // namespace postrix::test
