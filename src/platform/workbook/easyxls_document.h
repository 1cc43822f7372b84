// The EasyXLS.ExcelDocument shape: a report page loaded from its HTML file,
// then written as an Excel 97-2003 (.xls) or Office Open XML (.xlsx)
// workbook. Like the component it stands for, it throws nothing: what went
// wrong is in easy_getError.
#pragma once

#include <string>

#include "platform/workbook/sheet.h"
#include "platform/workbook/xls_file.h"

namespace postrix::workbook {

class EasyXlsDocument {
 public:
  bool easy_LoadHTMLFile_2(const std::string& htmlPath);
  void easy_WriteXLSFile(const std::string& path);
  void easy_WriteXLSXFile(const std::string& path);
  // "" when there was no error.
  const std::string& easy_getError() const { return error_; }
  void Dispose() { sheet_ = Sheet(); }

  // What the last written workbook could not hold.
  const WorkbookLoss& loss() const { return loss_; }

 private:
  Sheet sheet_;
  std::string error_;
  WorkbookLoss loss_;
};

}  // namespace postrix::workbook
