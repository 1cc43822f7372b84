// OdbcConnection: a Connection to any ODBC data source through unixODBC.
//
// SQL goes to the driver unchanged: the database behind it speaks its own
// dialect. Every value is fetched as text and converted by the column's SQL
// type, so no buffer is sized from what a driver claims about a column.
// Waits as ADO does by default: 15 seconds to connect, 30 for a statement.
// Owns its environment and connection handles; one thread at a time.
#pragma once

#include <memory>       // the handles
#include <string>       // connection text
#include <string_view>  // SQL input
#include <vector>       // table names

#include "platform/db/connection.h"  // the shape implemented

namespace postrix::db {

class OdbcConnection : public Connection {
 public:
  // Connects with SQLDriverConnect, never prompting. Failure: -2147467259
  // with the driver manager's or driver's diagnostic text.
  explicit OdbcConnection(std::string connectionString);
  ~OdbcConnection() override;

  Recordset Execute(std::string_view sql, long* recordsAffected = nullptr) override;
  std::vector<std::string> TableNames() override;

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace postrix::db
