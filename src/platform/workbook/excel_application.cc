#include "platform/workbook/excel_application.h"

#include "platform/file_system.h"
#include "platform/workbook/csv_text.h"
#include "platform/workbook/html_tables.h"
#include "platform/workbook/xlsx_file.h"
#include "util/failure.h"

namespace postrix::workbook {

void ExcelApplication::WorkbooksOpen(const std::string& htmlPath) {
  sheet_ = sheetFromHtmlFile(htmlPath);
}

void ExcelApplication::SaveAs(const std::string& path, int fileFormat) {
  if (fileFormat == kCsv) {
    files::writeFile(path, csvText(sheet_));
    loss_ = WorkbookLoss{0, sheet_.cellsLeftOut(), 0};
  } else if (fileFormat == kExcel97) {
    loss_ = writeXls(sheet_, path);
  } else if (fileFormat == kOpenXml) {
    loss_ = writeXlsx(sheet_, path);
  } else {
    throw Failure(err::kInvalidCall, "Unknown file format " + std::to_string(fileFormat));
  }
}

}  // namespace postrix::workbook
