#include "platform/workbook/xlsx_file.h"

#include <xlsxwriter.h>

#include <string>

#include "util/failure.h"

namespace postrix::workbook {
namespace {

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

Failure failureOf(lxw_error error, const std::string& path) {
  long number = error == LXW_ERROR_CREATING_XLSX_FILE || error == LXW_ERROR_CREATING_TMPFILE
                    ? err::kPathFileAccess
                    : err::kDeviceIO;
  return {number, std::string(lxw_strerror(error)) + " ('" + path + "')"};
}

}  // namespace

std::string cellText(const std::string& text, bool& cut) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && ++characters > kMaxCellText) {
      cut = true;
      return text.substr(0, i);
    }
  }
  return text;
}

WorkbookLoss writeXlsx(const Sheet& sheet, const std::string& path) {
  std::string temporaries = folderOf(path);
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = temporaries.data();
  options.use_zip64 = LXW_TRUE;
  lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
  if (!workbook) throw failureOf(LXW_ERROR_MEMORY_MALLOC_FAILED, path);
  lxw_worksheet* worksheet = workbook_add_worksheet(workbook, "Sheet1");
  WorkbookLoss loss;
  loss.cellsLeftOut = sheet.cellsLeftOut();
  lxw_error error = worksheet ? LXW_NO_ERROR : LXW_ERROR_MEMORY_MALLOC_FAILED;
  for (size_t r = 0; error == LXW_NO_ERROR && r < sheet.rows().size(); ++r) {
    for (const Cell& cell : sheet.rows()[r]) {
      auto row = static_cast<lxw_row_t>(r);
      auto column = static_cast<lxw_col_t>(cell.column);
      if (cell.number) {
        error = worksheet_write_number(worksheet, row, column, *cell.number, nullptr);
      } else {
        bool wasCut = false;
        std::string text = cellText(cell.text, wasCut);
        loss.textsCut += wasCut;
        error = worksheet_write_string(worksheet, row, column, text.c_str(), nullptr);
      }
      if (error != LXW_NO_ERROR) break;
    }
  }
  lxw_error closing = workbook_close(workbook);  // also frees it
  if (error == LXW_NO_ERROR) error = closing;
  if (error != LXW_NO_ERROR) throw failureOf(error, path);
  return loss;
}

}  // namespace postrix::workbook
