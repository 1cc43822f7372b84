// Where exported and attached files go, and what they are called.
#include <string>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

bool isReplacedByUnderscore(char c) {
  static constexpr std::string_view kUnsafe = "\\/:*?\"<>|[]. ";
  return kUnsafe.find(c) != std::string_view::npos;
}

std::string twoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

bool Settings::IsValidFileName(std::string& name) {
  if (trimBlanks(name).empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (isReplacedByUnderscore(c))
      name = replaceAll(name, std::string(1, c), "_");
    else if (c >= 1 && c <= 31)
      name = replaceAll(name, std::string(1, c), " ");
    // A control character becomes a blank, which turns into "_" only when
    // a blank is met at a later position: every occurrence changes at once.
  }
  while (name.find("__") != std::string::npos) name = replaceAll(name, "__", "_");
  return true;
}

std::string Settings::filename() {
  if (filename_.empty()) return "";
  IsValidFileName(filename_);
  return filename_;
}

std::string Settings::filedestination() const {
  if (!filelocation_.empty()) {
    files::createFolders(filelocation_);
    return filelocation_;
  }
  std::string folder = archive_ ? programFolder_ + "/Reports" : programFolder_;
  files::createFolders(folder);
  return folder;
}

std::string Settings::filedate() const {
  Date now = clock_.now();
  return twoDigits(now.year() % 100) + twoDigits(now.month()) + twoDigits(now.day());
}

std::string Settings::filetime() const {
  Date now = clock_.now();
  return twoDigits(now.hour()) + twoDigits(now.minute()) + twoDigits(now.second());
}

std::string Settings::GetReportName(std::string_view name, bool logIt) const {
  if (!reportname_) return "";
  if (logIt) log("Renaming report to: " + std::string(name));
  return std::string(name);
}

std::string Settings::reportFileName(std::string& name, std::string_view extension) {
  std::string base;
  if (IsValidFileName(name))
    base = name;
  else if (std::string given = filename(); !given.empty())
    base = given;
  else
    base = emailNow_   ? "scheduled_report_now"
           : isAlerts_ ? "scheduled_report_alert"
                       : "scheduled_report";
  return withDateAndTime(base) + std::string(extension);
}

std::string Settings::withDateAndTime(std::string base) const {
  if (incdate_) base += "_" + filedate();
  if (inctime_) base += "_" + filetime();
  return base;
}

std::string Settings::TEMP_HTML_FILE(std::string& name) { return reportFileName(name, ".html"); }
std::string Settings::XLS_TEMP_HTML_FILE(std::string& name) {
  return reportFileName(name, ".html");
}
std::string Settings::XLS_TEMP_FILE(std::string& name) { return reportFileName(name, ""); }
std::string Settings::PDF_TEMP_FILE(std::string& name) { return reportFileName(name, ".pdf"); }
std::string Settings::CSV_TEMP_FILE(std::string& name) { return reportFileName(name, ".csv"); }

std::string Settings::IMG_TEMP_FILE() {
  std::string base = filename();
  if (base.empty()) base = emailNow_ ? "qx_chart_now" : isAlerts_ ? "qx_chart_alert" : "qx_chart";
  return withDateAndTime(base) + ".jpg";
}

std::string Settings::PDF_TEMP_FILE_WITH_PATH(std::string_view title) {
  std::string name = GetReportName(title, false);
  return filedestination() + "/" + PDF_TEMP_FILE(name);
}

void Settings::printSettingsToLog() const {
  std::string line = "Server: " + smtpServer_ + ". Port: " + std::to_string(smtpPort_);
  line += ". Timeout: " + std::to_string(smtpTimeout_);
  log(line);
}

}  // namespace postrix
