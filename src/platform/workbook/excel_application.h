// The Excel.Application shape: a report page opened as a workbook from its
// HTML file, its first sheet read and changed, then saved in a file format
// given by its code, as the spreadsheet program would. The version it
// reports is that of a current one, so callers save in the newer formats.
// Failures are thrown.
#pragma once

#include <string>

#include "platform/workbook/sheet.h"
#include "platform/workbook/xls_file.h"

namespace postrix::workbook {

class ExcelApplication {
 public:
  static constexpr int kVersion = 16;
  // The file format codes of SaveAs.
  static constexpr int kCsv = 6, kExcel97 = 43, kOpenXml = 51;

  void WorkbooksOpen(const std::string& htmlPath);
  int Version() const { return kVersion; }
  // The first sheet of the open workbook.
  Sheet& Worksheet() { return sheet_; }
  // The writers write no formats, so there are none to clear.
  void ClearFormats() {}
  void SaveAs(const std::string& path, int fileFormat);
  void Quit() { sheet_ = Sheet(); }

  // What the last saved workbook could not hold.
  const WorkbookLoss& loss() const { return loss_; }

 private:
  Sheet sheet_;
  WorkbookLoss loss_;
};

}  // namespace postrix::workbook
