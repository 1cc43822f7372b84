#include "platform/workbook/easyxls_document.h"

#include "platform/workbook/html_tables.h"
#include "platform/workbook/xlsx_file.h"
#include "util/failure.h"

namespace postrix::workbook {

bool EasyXlsDocument::easy_LoadHTMLFile_2(const std::string& htmlPath) {
  try {
    sheet_ = sheetFromHtmlFile(htmlPath);
    error_.clear();
    return true;
  } catch (const Failure& failure) {
    error_ = failure.description();
    return false;
  }
}

void EasyXlsDocument::easy_WriteXLSFile(const std::string& path) {
  try {
    loss_ = writeXls(sheet_, path);
  } catch (const Failure& failure) {
    error_ = failure.description();
  }
}

void EasyXlsDocument::easy_WriteXLSXFile(const std::string& path) {
  try {
    loss_ = writeXlsx(sheet_, path);
  } catch (const Failure& failure) {
    error_ = failure.description();
  }
}

}  // namespace postrix::workbook
