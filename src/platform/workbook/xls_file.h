// A sheet as an Excel 97-2003 workbook (.xls: BIFF8 records in a compound
// file) with one worksheet, "Sheet1": numbers as numbers, the rest as text.
// It holds what a report table needs and no more: no formats, no formulas.
#pragma once

#include <cstddef>
#include <string>

#include "platform/workbook/sheet.h"

namespace postrix::workbook {

struct XlsLimits {
  // What the format holds: 65,536 rows of 256 columns, 255 characters a text.
  static constexpr size_t kRows = 65'536, kColumns = 256, kText = 255;
};

// Writes the workbook at path, whole or not at all, and says what it could
// not hold (with what the sheet itself left out). Throws Failure: 75 when
// the file cannot be created, 57 when it cannot be written.
WorkbookLoss writeXls(const Sheet& sheet, const std::string& path);

}  // namespace postrix::workbook
