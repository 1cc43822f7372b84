// Connection::Open: choosing the engine a connection string names.
#include "platform/db/connection.h"

#include <optional>  // attribute look-up

#include "platform/db/odbc_connection.h"    // every other source
#include "platform/db/sqlite_connection.h"  // the embedded engine
#include "util/failure.h"                   // Failure
#include "util/text.h"                      // split, trimBlanks, equalsNoCase

namespace postrix::db {
namespace {

// The value of key in "key=value;key=value" (keys in any case), blanks trimmed.
std::optional<std::string> attribute(std::string_view connectionString, std::string_view key) {
  for (const std::string& pair : split(connectionString, ";")) {
    size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    if (equalsNoCase(trimBlanks(pair.substr(0, eq)), key)) return trimBlanks(pair.substr(eq + 1));
  }
  return std::nullopt;
}

bool namesAccessDriver(std::string_view driver) {
  return equalsNoCase(driver, "{Microsoft Access Driver (*.mdb)}") ||
         equalsNoCase(driver, "{Microsoft Access Driver (*.mdb, *.accdb)}");
}

bool namesSqliteDriver(std::string_view driver) {
  return equalsNoCase(driver, "SQLite3") || equalsNoCase(driver, "{SQLite3}");
}

// The file of the embedded engine, or nullopt when the string is for ODBC.
std::optional<std::string> embeddedFile(std::string_view connectionString) {
  std::string driver = attribute(connectionString, "Driver").value_or("");
  const char* fileKey = namesAccessDriver(driver)   ? "Dbq"
                        : namesSqliteDriver(driver) ? "Database"
                                                    : nullptr;
  if (!fileKey) return std::nullopt;
  std::string file = attribute(connectionString, fileKey).value_or("");
  if (file.empty()) {
    throw Failure(err::kCannotOpen, "No database file given: the connection string lacks " +
                                        std::string(fileKey) + "=");
  }
  return file;
}

}  // namespace

std::string Connection::EmbeddedFile(std::string_view connectionString) {
  try {
    return embeddedFile(connectionString).value_or("");
  } catch (const Failure&) {
    return "";
  }
}

std::unique_ptr<Connection> Connection::Open(std::string_view connectionString,
                                             double busyWaitSeconds) {
  if (auto file = embeddedFile(connectionString)) {
    return std::make_unique<SqliteConnection>(*file, std::string(connectionString),
                                              busyWaitSeconds);
  }
  return std::make_unique<OdbcConnection>(std::string(connectionString));
}

}  // namespace postrix::db
