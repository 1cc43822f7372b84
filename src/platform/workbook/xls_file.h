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

// What writeXls could not keep.
struct XlsLoss {
  size_t rowsLeftOut = 0;   // rows below row 65,536 that held cells
  size_t cellsLeftOut = 0;  // cells beyond column 256 (or in the rows left out)
  size_t textsCut = 0;      // texts cut to 255 characters
  bool any() const { return rowsLeftOut || cellsLeftOut || textsCut; }
};

// Writes the workbook at path, whole or not at all. Throws Failure: 75 when
// the file cannot be created, 57 when it cannot be written.
XlsLoss writeXls(const Sheet& sheet, const std::string& path);

}  // namespace postrix::workbook
