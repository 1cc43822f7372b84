// A sheet as CSV that spreadsheet programs open right when the file is
// double-clicked: a UTF-8 byte-order mark first (without it Excel reads the
// file in the machine's ANSI code page and accented text comes out garbled),
// fields quoted as RFC 4180 asks (those holding a comma, a quote or a line
// break; quotes doubled), each row ending in CR LF. Cells go as the page
// showed them, so "1,234.50" stays one quoted field.
#pragma once

#include <string>

#include "platform/workbook/sheet.h"

namespace postrix::workbook {

std::string csvText(const Sheet& sheet);

}  // namespace postrix::workbook
