// A sheet as an Excel workbook (.xlsx, Office Open XML) with one worksheet,
// "Sheet1": numbers as numbers, everything else as text. It is written a row
// at a time through temporary files in the folder of the workbook, so memory
// stays flat however long the report is.
#pragma once

#include <cstddef>
#include <string>

#include "platform/workbook/sheet.h"

namespace postrix::workbook {

// The most characters a cell holds; longer texts are cut there.
inline constexpr size_t kMaxCellText = 32'767;

// Writes the workbook at path and says what it could not hold (texts cut,
// what the sheet itself left out). Throws Failure: 75 when the file cannot
// be created, 57 for any other write error.
WorkbookLoss writeXlsx(const Sheet& sheet, const std::string& path);

// text cut to at most kMaxCellText characters, never inside one.
std::string cellText(const std::string& text, bool& cut);

}  // namespace postrix::workbook
