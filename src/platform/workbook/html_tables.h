// The tables of an HTML report page laid out as one sheet, the way a
// browser shows them: one row per <tr>, <th> and <td> alike, colspan and
// rowspan honoured (the text in the top left cell of the span), entities
// decoded, white space collapsed, <br> a line break in the cell. Several
// tables stand one below the other. A table inside a cell (a layout table
// around the report) goes below what its row held so far, and the rest of
// that row goes on below it. Scripts and styles are not text.
//
// The page is read as UTF-8 by a parser that takes the tag soup report pages
// are, piece by piece and without a tree, so memory follows the cells.
#pragma once

#include <string>
#include <string_view>

#include "platform/workbook/sheet.h"

namespace postrix::workbook {

Sheet sheetFromHtml(std::string_view html);

// The same for the page in the file at path; throws Failure (75) when the
// file cannot be read.
Sheet sheetFromHtmlFile(const std::string& path);

}  // namespace postrix::workbook
