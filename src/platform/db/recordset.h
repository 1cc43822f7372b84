// Recordset: the rows a query returned, read with a client-side cursor.
//
// Every recordset holds all of its rows in memory, as ADO's client cursor
// does, so RecordCount is known at once and the connection is free for the
// next statement while the rows are walked. A default-constructed or closed
// recordset is "no recordset": it has no fields and no rows, and reading it
// fails with 3704. One thread uses a recordset; copies share nothing.
#pragma once

#include <string>       // field names
#include <string_view>  // field lookups
#include <vector>       // fields and rows

#include "util/variant.h"  // field values

namespace postrix::db {

// ADO data type codes that the system tests for.
namespace ado_type {
inline constexpr int kSmallInt = 2;
inline constexpr int kInteger = 3;
inline constexpr int kSingle = 4;
inline constexpr int kDouble = 5;
inline constexpr int kDate = 7;
inline constexpr int kBSTR = 8;
inline constexpr int kBoolean = 11;
inline constexpr int kTinyInt = 17;
inline constexpr int kBigInt = 20;
inline constexpr int kGUID = 72;
inline constexpr int kBinary = 128;
inline constexpr int kChar = 129;
inline constexpr int kWChar = 130;
inline constexpr int kNumeric = 131;
inline constexpr int kDBDate = 133;
inline constexpr int kDBTime = 134;
inline constexpr int kDBTimeStamp = 135;
inline constexpr int kVarChar = 200;
inline constexpr int kLongVarChar = 201;
inline constexpr int kVarWChar = 202;
inline constexpr int kLongVarWChar = 203;
inline constexpr int kVarBinary = 204;
inline constexpr int kLongVarBinary = 205;
}  // namespace ado_type

// Whether an ADO type code is one of the text types (8, 129, 130, 200 to 203).
bool isTextType(int adoType);

// One column of a recordset: its name as the query gave it and its ADO type code.
struct FieldInfo {
  std::string Name;
  int Type = ado_type::kVarWChar;
};

class Recordset {
 public:
  using Row = std::vector<Variant>;

  // No recordset (closed).
  Recordset() = default;
  // An open recordset positioned on its first row (at EOF when rows is empty).
  Recordset(std::vector<FieldInfo> fields, std::vector<Row> rows);

  bool isOpen() const { return open_; }

  // True when the cursor is past the last row (always for an empty result).
  bool eof() const;
  void MoveFirst();
  // Moving past EOF fails with 3021.
  void MoveNext();
  long RecordCount() const;

  // The value of the named field in the current row. The name is matched
  // without regard to case, as ADO does. A name the recordset lacks fails
  // with 3265; reading at EOF fails with 3021.
  const Variant& Fields(std::string_view name) const;
  // The fields in query order, for enumeration (Name and Type).
  const std::vector<FieldInfo>& FieldList() const;

  // Releases the rows; later reads fail with 3704. Closing twice is harmless.
  void Close();

 private:
  void requireOpen() const;

  bool open_ = false;
  std::vector<FieldInfo> fields_;
  std::vector<Row> rows_;
  size_t position_ = 0;
};

}  // namespace postrix::db
