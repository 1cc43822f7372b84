// Excel attachments: the report page as a workbook, by either converter shape.
#include "config/settings.h"
#include "mail/email.h"
#include "platform/file_system.h"
#include "platform/workbook/easyxls_document.h"
#include "platform/workbook/excel_application.h"
#include "run/module_state.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

std::string numbered(const Failure& failure) {
  return std::to_string(failure.number()) + " " + failure.description();
}

// The page as its HTML file; what fails is logged and the conversion goes on.
void writeHtmlFile(const std::string& path, const std::string& body, Utilities& u) {
  try {
    files::deleteFile(path);
  } catch (const Failure& failure) {
    u.Debugger("Error deleting file: " + numbered(failure));
  }
  try {
    files::writeFile(path, body + "\r\n");
  } catch (const Failure& failure) {
    u.Debugger("Error writing to html file: " + numbered(failure));
  }
}

}  // namespace

bool Email::generateAndAttachAsExcel(std::string& body, std::string& reportTitle) {
  fileError_.clear();
  std::string htmlPath, outPath;
  try {
    body = replaceAll(body, "&ensp", "&nbsp");
    std::string name = settings_->GetReportName(reportTitle, false);
    std::string folder = settings_->filedestination() + "/";
    htmlPath = folder + settings_->TEMP_HTML_FILE(name);
    outPath =
        folder + (settings_->attachement_file_format() == "csv" ? settings_->CSV_TEMP_FILE(name)
                                                                : settings_->XLS_TEMP_FILE(name));
  } catch (const Failure& failure) {
    fileFailed(failure, "preparing the output folder");
    return false;
  }
  writeHtmlFile(htmlPath, body, *utilities_);
  if (settings_->useeasyxls())
    convertWithEasyXls(htmlPath, outPath);
  else
    convertWithExcel(htmlPath, outPath);
  if (!files::fileExists(outPath)) {
    fileError_ = "ERROR: The workbook '" + outPath + "' was not created";
    log(fileError_);
    return false;
  }
  try {
    if (settings_->filelocation().empty()) {
      attachFile(outPath);
      log("File attached");
    }
    if (settings_->deletefileatt()) {
      files::deleteFile(outPath);
      files::deleteFile(outPath.substr(0, outPath.rfind('.')) + ".html");
    }
  } catch (const Failure& failure) {
    fileFailed(failure, "attaching '" + outPath + "'");
    return false;
  }
  return true;
}

void Email::convertWithEasyXls(const std::string& htmlPath, std::string& outPath) {
  log("Using EasyXLS");
  outPath += settings_->excelFormat();
  workbook::EasyXlsDocument document;
  if (!document.easy_LoadHTMLFile_2(htmlPath))
    log("File not created: Problem using EasyXls");
  else if (settings_->excelFormat() == ".xls")
    document.easy_WriteXLSFile(outPath);
  else
    document.easy_WriteXLSXFile(outPath);
  if (!document.easy_getError().empty()) log("EasyXls Error: " + document.easy_getError());
  logLoss(outPath, document.loss());
  document.Dispose();
}

void Email::convertWithExcel(const std::string& htmlPath, std::string& outPath) {
  workbook::ExcelApplication excel;
  try {
    log("Using Excel");
    excel.WorkbooksOpen(htmlPath);
    log("Detected Excel.Application version: " + std::to_string(excel.Version()));
    if (!settings_->imageincluded()) excel.Worksheet().removeBlankTopRows(100);
    if (settings_->clear_xls_formatting()) {
      log("Clearing formating from excel");
      excel.ClearFormats();
    }
    bool csv = settings_->attachement_file_format() == "csv";
    if (csv) {
      excel.SaveAs(outPath, workbook::ExcelApplication::kCsv);
    } else {
      bool openXml = excel.Version() >= 12;
      outPath += openXml ? ".xlsx" : ".xls";
      files::deleteFile(outPath);
      excel.SaveAs(outPath, openXml ? workbook::ExcelApplication::kOpenXml
                                    : workbook::ExcelApplication::kExcel97);
    }
    logLoss(outPath, excel.loss());
  } catch (const Failure& failure) {
    log("Error with excel.application: " + numbered(failure));
  }
  excel.Quit();
}

// A table larger than the format holds is written up to its limits; this
// line says what is missing from the workbook.
void Email::logLoss(const std::string& path, const workbook::WorkbookLoss& loss) const {
  if (!loss.any()) return;
  log("WARNING: '" + path +
      "' holds only part of the report table, as the format holds no "
      "more: " +
      std::to_string(loss.rowsLeftOut) + " rows and " + std::to_string(loss.cellsLeftOut) +
      " cells left out, " + std::to_string(loss.textsCut) + " texts cut short.");
}

}  // namespace postrix
