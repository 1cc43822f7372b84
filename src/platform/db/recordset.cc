#include "platform/db/recordset.h"

#include <utility>  // std::move

#include "util/failure.h"  // Failure, err:: numbers
#include "util/text.h"     // equalsNoCase

namespace postrix::db {
namespace {

Failure noCurrentRecord() {
  return {err::kNoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been deleted. Requested "
          "operation requires a current record."};
}

Failure objectClosed() {
  return {err::kObjectClosed, "Operation is not allowed when the object is closed."};
}

}  // namespace

bool isTextType(int adoType) {
  return adoType == ado_type::kBSTR || adoType == ado_type::kChar || adoType == ado_type::kWChar ||
         (adoType >= ado_type::kVarChar && adoType <= ado_type::kLongVarWChar);
}

Recordset::Recordset(std::vector<FieldInfo> fields, std::vector<Row> rows)
    : open_(true), fields_(std::move(fields)), rows_(std::move(rows)) {}

bool Recordset::eof() const {
  requireOpen();
  return position_ >= rows_.size();
}

void Recordset::MoveFirst() {
  requireOpen();
  position_ = 0;
}

void Recordset::MoveNext() {
  if (eof()) throw noCurrentRecord();
  ++position_;
}

long Recordset::RecordCount() const {
  requireOpen();
  return static_cast<long>(rows_.size());
}

const Variant& Recordset::Fields(std::string_view name) const {
  requireOpen();
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!equalsNoCase(fields_[i].Name, name)) continue;
    if (position_ >= rows_.size()) throw noCurrentRecord();
    return rows_[position_][i];
  }
  throw Failure::fieldNotFound();
}

const std::vector<FieldInfo>& Recordset::FieldList() const {
  requireOpen();
  return fields_;
}

void Recordset::Close() {
  open_ = false;
  fields_.clear();
  rows_.clear();
  position_ = 0;
}

void Recordset::requireOpen() const {
  if (!open_) throw objectClosed();
}

}  // namespace postrix::db
