// Settings: the one configuration object of a run.
//
// Values arrive in three layers, each overriding the one before: the
// defaults set at creation, the one-row System table of the system database
// (LoadSystemDefaults), then the command line (ParseCmdLineOptions). After
// parsing the object is read-only, except for the interval being run, which
// the entry point advances with setIntervalStartId.
//
// Settings does not own the run's Utilities; it uses it to write the run log
// and to reach the system database. Everything runs on one thread.
#pragma once

#include <cstdint>      // 16-bit settings
#include <string>       // text settings
#include <string_view>  // inputs
#include <vector>       // suppress strings, tokens

#include "util/date_time.h"  // getDate
#include "util/variant.h"    // loosely typed inputs

namespace postrix {

class Clock;
class Utilities;

class Settings {
 public:
  // Takes the defaults and the current date; reads nothing else.
  Settings(const Clock& clock, std::string programFolder);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  void setUtilities(Utilities& utilities) { utilities_ = &utilities; }

  // Named constants.
  static constexpr std::string_view PRODUCT_NAME = "Quarvex";
  static constexpr std::string_view UNAVAILABLE_WEB_SERVER_ERROR =
      "Error when connecting to web-server - is it running?";
  static constexpr std::string_view DEFAULT_DSN_SYSTEM = "qx_system33";
  static constexpr std::string_view DEFAULT_CHARSET = "ISO-8859-1";
  static constexpr std::string_view LOG_FILE = "postrix.log";
  static constexpr std::string_view DASHBOARD_HTML_FILE = "Dashboard.html";
  // The web application assumed when the System table and -url give none.
  static constexpr std::string_view DEFAULT_WEB_URL = "http://localhost/";

  // ---- Command line (option_parser.cc) ----
  // Writes the run log header, applies -dsn, loads the System table and
  // applies every other option. Returns the stop flag: True when the run
  // must end without sending (-configure, a rejected value, or a word that
  // is no option, refused before the database is read). The one-off
  // maintenance commands end the program by throwing ProgramEnd.
  bool ParseCmdLineOptions(std::string_view commandLine);
  // True when the stop flag was raised because a value was rejected.
  bool commandLineRejected() const { return commandLineRejected_; }
  // What the run log says about the rejected command line, one line per
  // rejection; empty when nothing was rejected.
  const std::string& rejection() const { return rejection_; }
  // The value starting at token index (0-based here), joining the tokens of
  // a value written in double quotes.
  static std::string readQuotedParams(const std::vector<std::string>& tokens, size_t index);
  // Whether a list holds only digits, commas, blanks and colons.
  static bool checkReportIDList(std::string_view list);
  static std::string sanitizeUrlOrvanta(std::string_view url);

  // ---- System table (system_loader.cc) ----
  void LoadSystemDefaults();
  static bool setYesNoField(const Variant& value);
  // Whether a value is a usable port number, 1 to 65535.
  static bool isPortNumber(const Variant& value);
  std::string getSystemDSN() const;
  std::string getDataDir() const;

  // ---- Output files (output_files.cc) ----
  static bool IsValidFileName(std::string& name);
  std::string filename();
  const std::string& filelocation() const { return filelocation_; }
  // The output folder (-location, else Reports/ with -archive, else the
  // program's folder), created with every missing level above it; fails
  // with 75 when the account may not create it.
  std::string filedestination() const;
  std::string filedate() const;
  std::string filetime() const;
  std::string GetReportName(std::string_view name, bool logIt) const;
  std::string TEMP_HTML_FILE(std::string& name);
  std::string XLS_TEMP_HTML_FILE(std::string& name);
  std::string XLS_TEMP_FILE(std::string& name);
  std::string PDF_TEMP_FILE(std::string& name);
  std::string CSV_TEMP_FILE(std::string& name);
  std::string IMG_TEMP_FILE();
  std::string PDF_TEMP_FILE_WITH_PATH(std::string_view title);
  void printSettingsToLog() const;

  // ---- Properties ----
  bool generatePDF() const { return generatePDF_; }
  bool SendFailed() const { return SendFailed_; }
  bool SaveMessage() const { return SaveMessage_; }
  bool SendMessage() const { return SendMessage_; }
  const std::string& wkarg() const { return wkarg_; }
  const std::string& excelFormat() const { return excelFormat_; }
  bool useeasyxls() const { return useeasyxls_; }
  bool dashboardonly() const { return dashboardonly_; }
  bool reportsonly() const { return reportsonly_; }
  const std::string& connection_param() const { return connection_param_; }
  const std::string& attachfile() const { return attachfile_; }
  bool laststatus() const { return laststatus_; }
  bool emailcount() const { return emailcount_; }
  bool lastemailed() const { return lastemailed_; }
  bool emaillog() const { return emaillog_; }
  bool IgnoreMultitime() const { return IgnoreMultitime_; }
  bool IgnoreSchedule() const { return IgnoreSchedule_; }
  bool iscmdLineInterval() const { return iscmdLineInterval_; }
  bool isDebug() const { return isDebug_; }
  bool isAlerts() const { return isAlerts_; }
  Date getDate() const { return getDate_; }
  const std::string& param_id_list() const { return param_id_list_; }
  const std::string& exclude_id_list() const { return exclude_id_list_; }
  const std::string& param_dashboard_id_list() const { return param_dashboard_id_list_; }
  const std::string& repparam_id_list() const { return repparam_id_list_; }
  const std::string& mapparam_list() const { return mapparam_list_; }
  bool isMultipleSchedules() const { return isMultipleSchedules_; }
  bool isCDO() const { return isCDO_; }
  // The sender's display name, every double quote removed.
  std::string senderName() const;
  const std::string& emailFormat() const { return emailFormat_; }
  bool isSQLServer() const { return isSQLServer_; }
  const std::string& emailSource() const { return emailSource_; }
  std::int16_t smtpAuth() const { return smtpAuth_; }
  const std::string& smtpServer() const { return smtpServer_; }
  // A port is a number from 0 to 65535, wider than the 16-bit integers of
  // the other numeric settings.
  std::int32_t smtpPort() const { return smtpPort_; }
  std::int16_t smtpTimeout() const { return smtpTimeout_; }
  std::int16_t reportTimeout() const { return reportTimeout_; }
  const std::string& smtpUser() const { return smtpUser_; }
  const std::string& email_password() const { return email_password_; }
  bool useSSL() const { return useSSL_; }
  bool UseStartTLS() const { return UseStartTLS_; }
  const std::string& charset() const { return charset_; }
  std::int16_t delta() const { return delta_; }
  const std::string& oEmail() const { return oEmail_; }
  const std::string& bccemail() const { return bccemail_; }
  const std::string& urlOrvanta() const { return urlOrvanta_; }
  bool debugReport() const { return debugReport_; }
  std::int16_t thisIntervalStartId() const { return thisIntervalStartId_; }
  void setIntervalStartId(std::int16_t id) { thisIntervalStartId_ = id; }
  bool forceSend() const { return forceSend_; }
  bool isMailerDebug() const { return isMailerDebug_; }
  std::int16_t num_suppress_strings() const {
    return static_cast<std::int16_t>(suppressStrings_.size());
  }
  // The (index + 1)-th -suppress value; "" for any index out of range.
  std::string getSuppresString(int index) const;
  bool skipUnicode() const { return skipUnicode_; }
  bool skipallformatting() const { return skipallformatting_; }
  bool embedImg() const { return true; }
  bool preserveHeader() const { return true; }
  bool clear_xls_formatting() const { return clear_xls_formatting_; }
  bool allowExcel() const { return allowExcel_; }
  bool imageincluded() const { return imageincluded_; }
  bool emailNow() const { return emailNow_; }
  bool reportname() const { return reportname_; }
  bool incdate() const { return incdate_; }
  bool inctime() const { return inctime_; }
  bool deletefileatt() const { return deletefileatt_; }
  const std::string& attachement_file_format() const { return attachement_file_format_; }
  const std::string& app_pool_name() const { return app_pool_name_; }
  const std::string& wkhtmltopdfauth() const { return wkhtmltopdfauth_; }
  // -dryrun: show what this run would send, and send and change nothing.
  bool dryrun() const { return dryrun_; }
  // -insecuretls: accept any certificate of the mail server.
  bool insecureTls() const { return insecureTls_; }
  // -maxpagesize N (megabytes): the largest report page, and the largest it
  // may inflate to, that is read; a larger one fails its report.
  std::int64_t maxPageBytes() const { return maxPageBytes_; }
  static constexpr std::int64_t DEFAULT_MAX_PAGE_BYTES = 200LL * 1024 * 1024;
  // -heloname NAME: the name said in EHLO; empty means the host's full name.
  const std::string& heloName() const { return heloName_; }

  // -lockwait MINUTES: how long a run waits for another run of the
  // installation to end before it gives up.
  double lockWaitMinutes() const { return lockWaitMinutes_; }
  // -dbwait SECONDS: how long a busy system database is waited for.
  double dbWaitSeconds() const { return dbWaitSeconds_; }
  // -pdftimeout SECONDS: how long a PDF converter may run before it is ended.
  double pdfTimeoutSeconds() const { return pdfTimeoutSeconds_; }
  // -failstatus: a run in which a report or saved message failed ends with
  // exit_status::kSomeFailed instead of 0.
  bool failStatus() const { return failStatus_; }
  // -plainauthok: no warning for a login over a connection without TLS.
  bool plainAuthOk() const { return plainAuthOk_; }
  // -oauthfile PATH: the file of the OAuth 2.0 secrets used with -auth 6;
  // empty means the default place (see the man page).
  const std::string& oauthFile() const { return oauthFile_; }
  // -problemdigest: a run that had failures mails one digest of them to
  // emailproblemreports at its end.
  bool problemDigest() const { return problemDigest_; }
  const std::string& emailProblemReports() const { return emailProblemReports_; }
  // -sendagain: send what this period's record says was sent already.
  bool sendAgain() const { return sendAgain_; }
  // Whether -date was given.
  bool iscmdLineDate() const { return iscmdLineDate_; }

  // Whether the System table carries the multiple-times marker.
  bool hasMultipleTimesMarker() const { return multipleTimesMarker_; }
  const std::string& programFolder() const { return programFolder_; }

 private:
  friend class OptionParser;
  friend class SystemLoader;

  Utilities& utilities() const;
  void log(std::string_view message) const;
  void log(std::string_view designed, std::string_view value) const;
  std::string reportFileName(std::string& name, std::string_view extension);
  std::string withDateAndTime(std::string base) const;

  const Clock& clock_;
  std::string programFolder_;
  Utilities* utilities_ = nullptr;

  bool generatePDF_ = false, SendFailed_ = false, SaveMessage_ = false, SendMessage_ = false;
  std::string wkarg_, excelFormat_ = ".xlsx";
  bool useeasyxls_ = false, dashboardonly_ = false, reportsonly_ = false;
  std::string connection_param_, attachfile_;
  bool laststatus_ = false, emailcount_ = false, lastemailed_ = false, emaillog_ = false;
  bool IgnoreMultitime_ = false, IgnoreSchedule_ = false, iscmdLineInterval_ = false;
  bool isDebug_ = true, isAlerts_ = false;
  Date getDate_;
  std::string param_id_list_, exclude_id_list_, param_dashboard_id_list_, repparam_id_list_,
      mapparam_list_;
  bool isMultipleSchedules_ = false, isCDO_ = false;
  std::string senderName_{PRODUCT_NAME}, filename_, emailFormat_;
  bool isSQLServer_ = false;
  std::string filelocation_, emailSource_;
  std::int16_t smtpAuth_ = 0;
  std::string smtpServer_;
  std::int32_t smtpPort_ = 25;
  std::int16_t smtpTimeout_ = 30, reportTimeout_ = 0;
  std::string smtpUser_, email_password_;
  bool useSSL_ = false, UseStartTLS_ = false;
  std::string charset_{DEFAULT_CHARSET};
  std::int16_t delta_ = 0;
  std::string oEmail_, bccemail_, urlOrvanta_;
  bool debugReport_ = false;
  std::int16_t thisIntervalStartId_ = 0;
  bool forceSend_ = false, isMailerDebug_ = false;
  std::vector<std::string> suppressStrings_;
  bool skipUnicode_ = false, skipallformatting_ = false, clear_xls_formatting_ = false;
  bool allowExcel_ = false, imageincluded_ = false, emailNow_ = false, reportname_ = false;
  bool incdate_ = false, inctime_ = false, deletefileatt_ = false, dryrun_ = false;
  bool insecureTls_ = false;
  std::int64_t maxPageBytes_ = DEFAULT_MAX_PAGE_BYTES;
  std::string heloName_;
  double lockWaitMinutes_ = 30, dbWaitSeconds_ = 60, pdfTimeoutSeconds_ = 300;
  bool sendAgain_ = false, iscmdLineDate_ = false;
  bool failStatus_ = false, plainAuthOk_ = false, problemDigest_ = false;
  std::string oauthFile_, emailProblemReports_;
  std::string attachement_file_format_, app_pool_name_ = "QX_APP_POOL_V33", wkhtmltopdfauth_;

  // Private state.
  std::string systemDSN_{DEFAULT_DSN_SYSTEM};
  bool multipleTimesMarker_ = false;
  bool archive_ = false;
  bool upgradeRequested_ = false;
  bool commandLineRejected_ = false;
  std::string rejection_;
};

}  // namespace postrix
