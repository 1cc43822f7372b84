// The database side of Utilities: the system connection, the probes and the
// send log.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/data_component.h"
#include "platform/db/connection.h"
#include "util/data_source_key.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// A probe that returns the columns of a query or table and no rows.
std::string probeQuery(std::string_view sqlOrTable) {
  if (containsNoCase(sqlOrTable, "select"))
    return "select * from ( " + std::string(sqlOrTable) + " ) as dummy_name where 1=0";
  return "select * from " + std::string(sqlOrTable) + " as dummy_name where 1=0 ";
}

Variant fieldType(db::Recordset& recordset, std::string_view fieldName) {
  for (const auto& field : recordset.FieldList()) {
    if (equalsNoCase(field.Name, fieldName)) {
      Variant type(field.Type);
      recordset.Close();
      return type;
    }
  }
  throw Failure::fieldNotFound();
}

// What keeps the embedded engine from its file, in words an administrator
// can act on: the engine's own text names neither the account nor the cause.
std::string embeddedFileProblem(const std::string& file, const std::string& description) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return "does not exist";
  if (access(file.c_str(), R_OK | W_OK) != 0)
    return "cannot be read and written by this account (" + std::string(std::strerror(errno)) + ")";
  if (containsNoCase(description, "not a database"))
    return "is not a database (" + description + ")";
  return "cannot be opened: " + description;
}

}  // namespace

std::string sqlNumber(const Variant& value) {
  if (value.isEmpty() || !value.isNumeric()) throw Failure::typeMismatch();
  return value.toText();
}

std::string Utilities::systemConnectionString(std::string_view dataSourceText) {
  if (dataSourceText.find('=') == std::string_view::npos)
    return "dsn=" + std::string(dataSourceText) + ";uid=Admin;password=qmw7315";
  return std::string(dataSourceText);
}

db::Connection& Utilities::getSystemConn() {
  std::string connectionString = systemConnectionString(settings().getSystemDSN());
  if (systemConnection_) return *systemConnection_;
  try {
    systemConnection_ = db::Connection::Open(connectionString, settings().dbWaitSeconds());
  } catch (const Failure& failure) {
    if (failure.number() == err::kDatabaseLocked)
      Debugger("ERROR: " + failure.description() + " and stayed locked for " +
               Variant(settings().dbWaitSeconds()).toText() +
               " seconds (-dbwait). The run ends; the next run sends what this one could not.");
    else if (std::string file = db::Connection::EmbeddedFile(connectionString); !file.empty())
      Debugger("ERROR: The system database '" + file + "' " +
               embeddedFileProblem(file, failure.description()) +
               ". Create it with initdb, or name the system database with -dsn.");
    else if (failure.number() == err::kCannotOpen) {
      Debugger("ERROR: Could not find the system DSN connection: '" +
               withoutPasswords(connectionString) +
               "'. Please check that you have created the System DSN.");
      Debugger("ERROR: The ODBC driver manager said: " + withoutPasswords(failure.description()));
    } else
      Debugger("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
               ". Connection String: '" + withoutPasswords(connectionString) + "'");
    throw ProgramEnd{exit_status::kNoSystemDatabase};
  }
  return *systemConnection_;
}

bool Utilities::checkTableExists(std::string_view tableName, db::Connection& connection) const {
  std::string wanted = toLower(trimBlanks(tableName));
  for (const auto& name : connection.TableNames())
    if (toLower(name) == wanted) return true;
  return false;
}

bool Utilities::CheckFieldExists(const db::Recordset& recordset, std::string_view fieldName) {
  for (const auto& field : recordset.FieldList())
    if (field.Name == fieldName) return true;
  return false;
}

Variant Utilities::ReturnDataType(std::string_view fieldName, std::string_view sqlOrTable,
                                  db::Recordset& recordset, db::Connection& connection,
                                  std::string_view) const {
  recordset = connection.Execute(probeQuery(sqlOrTable));
  return fieldType(recordset, fieldName);
}

Variant Utilities::ReturnDataType(std::string_view fieldName, std::string_view sqlOrTable,
                                  db::Recordset& recordset, DataComponent& component,
                                  std::string_view dataSourceText) const {
  std::string probe = probeQuery(sqlOrTable);
  std::string errorText;
  recordset = component.remoteExecute(dataSourceKey(dataSourceText), probe, errorText);
  if (!errorText.empty()) {
    Debugger("Error connecting to " + std::string(dataSourceText));
    return Variant();
  }
  if (!recordset.eof()) recordset.MoveFirst();
  return fieldType(recordset, fieldName);
}

std::string Utilities::CorrectSyntax(const Variant& value, bool quote) {
  return quote ? "'" + sqlQuoted(value.toText()) + "'" : value.toText();
}

std::string Utilities::GetDateFormat(bool isSQLServer) const {
  return isSQLServer ? "GETDATE()" : "#" + sqlDateTime(clock_.now()) + "#";
}

void Utilities::WriteEmailLog(const Variant& reportId, const Variant& status,
                              const Variant& address, const Variant& companyId) {
  const Settings& s = settings();
  if (!s.emaillog()) return;
  // A NUL would end the statement's text early and a line break garble the
  // row, so texts from outside are stored escaped.
  std::string logged =
      sqlQuoted(escapedControls(!s.oEmail().empty() ? s.oEmail() : address.toText()));
  std::string origin = s.emailNow() ? "Email Now" : "Postrix";
  if (s.isAlerts()) origin += ". Alerts";
  std::string message = sqlQuoted(escapedControls(status.toText()));
  // Ids go into the statement unquoted on Access, so only numbers may pass.
  sqlNumber(reportId);
  bool sqlServer = s.isSQLServer();
  std::string sql;
  if (!companyId.isEmpty() && !companyId.isNull() && sqlNumber(companyId) != "" &&
      companyId.toDouble() > 0) {
    sql =
        "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus, company_id) "
        "VALUES (" +
        CorrectSyntax(reportId, sqlServer) + ",'" + origin + "','" + logged + "'," +
        GetDateFormat(sqlServer) + ",'" + message + "'," + CorrectSyntax(companyId, sqlServer) +
        ")";
  } else {
    sql = "INSERT INTO Email_Log (report_id,origin,emailaddress,log_date,msgstatus) VALUES (" +
          reportId.toText() + ", '" + origin + "', '" + logged + "', " + GetDateFormat(sqlServer) +
          ",'" + message + "')";
  }
  getSystemConn().Execute(sql);
}

}  // namespace postrix
