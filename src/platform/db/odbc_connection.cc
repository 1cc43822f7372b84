#include "platform/db/odbc_connection.h"

// clang-format off
#include <sql.h>     // core ODBC calls
#include <sqlext.h>  // SQLDriverConnect, SQLTables, type codes
// clang-format on

#include <cstdlib>   // strtoll
#include <optional>  // NULL data
#include <utility>   // std::move

#include "platform/db/db_errors.h"  // classifyOdbcDiagnostic
#include "util/failure.h"           // Failure
#include "util/variant.h"           // parseNumber

namespace postrix::db {

struct OdbcConnection::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    if (connected) SQLDisconnect(dbc);
    if (dbc) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 15;
constexpr SQLULEN kQueryTimeoutSeconds = 30;

struct Diagnostic {
  std::string state;
  std::string message;
};

// The first record's SQLSTATE and every record's text, joined by blanks.
Diagnostic diagnosticOf(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic d;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[2048] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc =
        SQLGetDiagRec(handleType, handle, record, state, &native, text, sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (record == 1) d.state = reinterpret_cast<char*>(state);
    if (!d.message.empty()) d.message += ' ';
    d.message += reinterpret_cast<char*>(text);
  }
  if (d.message.empty()) d.message = "The ODBC driver reported an error without a message.";
  return d;
}

Failure failureOf(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic d = diagnosticOf(handleType, handle);
  return Failure(classifyOdbcDiagnostic(d.state, d.message), d.message);
}

// Owns one statement handle.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_))) {
      handle_ = SQL_NULL_HSTMT;
      throw failureOf(SQL_HANDLE_DBC, dbc);
    }
    // A driver without time-outs answers 01S02 or HYC00; running without one is fine.
    SQLSetStmtAttr(handle_, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(kQueryTimeoutSeconds), 0);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() {
    if (handle_) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  SQLHSTMT get() const { return handle_; }
  void check(SQLRETURN rc) const {
    if (!SQL_SUCCEEDED(rc)) throw failureOf(SQL_HANDLE_STMT, handle_);
  }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

int adoTypeOf(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_CHAR:
      return ado_type::kChar;
    case SQL_VARCHAR:
      return ado_type::kVarChar;
    case SQL_LONGVARCHAR:
      return ado_type::kLongVarChar;
    case SQL_WCHAR:
      return ado_type::kWChar;
    case SQL_WVARCHAR:
      return ado_type::kVarWChar;
    case SQL_WLONGVARCHAR:
      return ado_type::kLongVarWChar;
    case SQL_SMALLINT:
      return ado_type::kSmallInt;
    case SQL_INTEGER:
      return ado_type::kInteger;
    case SQL_TINYINT:
      return ado_type::kTinyInt;
    case SQL_BIGINT:
      return ado_type::kBigInt;
    case SQL_REAL:
      return ado_type::kSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return ado_type::kDouble;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return ado_type::kNumeric;
    case SQL_BIT:
      return ado_type::kBoolean;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return ado_type::kDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return ado_type::kDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return ado_type::kDBTimeStamp;
    case SQL_BINARY:
      return ado_type::kBinary;
    case SQL_VARBINARY:
      return ado_type::kVarBinary;
    case SQL_LONGVARBINARY:
      return ado_type::kLongVarBinary;
    case SQL_GUID:
      return ado_type::kGUID;
    default:
      return ado_type::kVarChar;  // fetched as text all the same
  }
}

// The value of a column fetched as text, converted by the ADO type it maps
// to; text that does not read as that type is kept as text.
Variant convert(std::string text, int adoType) {
  switch (adoType) {
    case ado_type::kSmallInt:
    case ado_type::kInteger:
    case ado_type::kTinyInt:
    case ado_type::kBigInt: {
      char* end = nullptr;
      long long v = std::strtoll(text.c_str(), &end, 10);
      if (!text.empty() && *end == '\0') return Variant(v);
      break;
    }
    case ado_type::kSingle:
    case ado_type::kDouble:
    case ado_type::kNumeric: {
      double v = 0;
      if (parseNumber(text, v)) return Variant(v);
      break;
    }
    case ado_type::kBoolean:
      if (text == "0" || text == "1") return Variant(text == "1");
      break;
    case ado_type::kDBDate:
    case ado_type::kDBTime:
    case ado_type::kDBTimeStamp:
      if (auto date = parseDate(text)) return Variant(*date);
      break;
    default:
      break;
  }
  return Variant(std::move(text));
}

// One column of the current row as text, in pieces for long data; nullopt for NULL.
std::optional<std::string> fetchText(const Statement& st, SQLUSMALLINT column) {
  std::string text;
  char buffer[4096];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(st.get(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    st.check(rc);
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // On a partial read the buffer is full but for its terminating NUL.
    bool partial = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
    text.append(buffer, partial ? sizeof buffer - 1 : static_cast<size_t>(indicator));
    if (rc == SQL_SUCCESS) break;
  }
  return text;
}

std::vector<FieldInfo> describeColumns(const Statement& st, SQLSMALLINT count) {
  std::vector<FieldInfo> fields;
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    std::vector<SQLCHAR> name(256);
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    for (;;) {
      st.check(SQLDescribeCol(st.get(), i, name.data(), static_cast<SQLSMALLINT>(name.size()),
                              &nameLength, &sqlType, &size, &digits, &nullable));
      if (static_cast<size_t>(nameLength) < name.size()) break;
      name.resize(static_cast<size_t>(nameLength) + 1);
    }
    fields.push_back(
        {std::string(reinterpret_cast<char*>(name.data()), static_cast<size_t>(nameLength)),
         adoTypeOf(sqlType)});
  }
  return fields;
}

std::vector<Recordset::Row> fetchRows(const Statement& st, const std::vector<FieldInfo>& fields) {
  std::vector<Recordset::Row> rows;
  SQLRETURN rc;
  while ((rc = SQLFetch(st.get())) != SQL_NO_DATA) {
    st.check(rc);
    Recordset::Row row;
    for (size_t i = 0; i < fields.size(); ++i) {
      auto text = fetchText(st, static_cast<SQLUSMALLINT>(i + 1));
      row.push_back(text ? convert(std::move(*text), fields[i].Type) : Variant::null());
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

OdbcConnection::OdbcConnection(std::string connectionString)
    : Connection(std::move(connectionString)), handles_(std::make_unique<Handles>()) {
  Handles& h = *handles_;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env)) ||
      !SQL_SUCCEEDED(SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
      !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
    throw Failure(err::kCannotOpen, "The ODBC driver manager could not be initialised.");
  }
  SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  std::string text = ConnectionString();
  SQLRETURN rc = SQLDriverConnect(h.dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                  static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                  SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    throw Failure(err::kCannotOpen, diagnosticOf(SQL_HANDLE_DBC, h.dbc).message);
  }
  h.connected = true;
}

OdbcConnection::~OdbcConnection() = default;

Recordset OdbcConnection::Execute(std::string_view sql, long* recordsAffected) {
  if (recordsAffected) *recordsAffected = 0;
  Statement st(handles_->dbc);
  std::string text(sql);
  SQLRETURN rc = SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                               static_cast<SQLINTEGER>(text.size()));
  if (rc == SQL_NO_DATA) return {};  // an UPDATE or DELETE that matched no row
  st.check(rc);
  SQLSMALLINT columns = 0;
  st.check(SQLNumResultCols(st.get(), &columns));
  if (columns == 0) {
    SQLLEN count = 0;
    st.check(SQLRowCount(st.get(), &count));
    if (recordsAffected && count > 0) *recordsAffected = static_cast<long>(count);
    return {};
  }
  std::vector<FieldInfo> fields = describeColumns(st, columns);
  std::vector<Recordset::Row> rows = fetchRows(st, fields);
  return Recordset(std::move(fields), std::move(rows));
}

std::vector<std::string> OdbcConnection::TableNames() {
  Statement st(handles_->dbc);
  SQLCHAR types[] = "TABLE,VIEW";
  st.check(SQLTables(st.get(), nullptr, 0, nullptr, 0, nullptr, 0, types, SQL_NTS));
  std::vector<std::string> names;
  SQLRETURN rc;
  while ((rc = SQLFetch(st.get())) != SQL_NO_DATA) {
    st.check(rc);
    if (auto name = fetchText(st, 3)) names.push_back(std::move(*name));  // TABLE_NAME
  }
  return names;
}

}  // namespace postrix::db
