// Utilities: the one helper object of a run.
//
// It writes the run log (Debugger), owns the one connection to the system
// database (opened on first use, kept to the end of the run), probes tables
// and fields, writes the send log (Email_Log), computes interval ids and
// converts schedules. It holds a reference to the run's Settings, which it
// does not own. Everything runs on one thread.
#pragma once

#include <cstdint>      // ids
#include <memory>       // the system connection
#include <string>       // texts
#include <string_view>  // inputs

#include "platform/db/connection.h"      // system connection, probes
#include "platform/http/http_request.h"  // report requests
#include "run/run_log.h"                 // unwritten entries
#include "util/date_time.h"              // Date
#include "util/variant.h"                // loosely typed arguments

namespace postrix {

class Clock;
class DataComponent;
class Failure;
class Settings;

// The text of a number put into SQL without quotes; anything that is not a
// number fails with 13, so no text can reach a statement unquoted.
std::string sqlNumber(const Variant& value);

class Utilities {
 public:
  Utilities(const Clock& clock, std::string programFolder);
  Utilities(const Utilities&) = delete;
  Utilities& operator=(const Utilities&) = delete;
  ~Utilities();

  void setSettings(Settings& settings) { settings_ = &settings; }

  // ---- Run log ----
  // Appends one entry, "M/D/YYYY h:mm:ss AM [message]", to postrix.log in
  // the program's folder, unless -nolog was given. A write that fails loses
  // the entry and never fails the caller; a file access failure also sets
  // the run's fileAccessError flag. Control characters in the message are
  // written escaped (\r, \n, \0, \xHH), so an entry is always one line.
  // An entry that starts with ERROR or WARNING also goes to standard error
  // and the system log, -nolog or not.
  void Debugger(std::string_view message) const;
  // The same for a designed text that holds a line break of its own: it is
  // written as it is, followed by the value, escaped.
  void Debugger(std::string_view designed, std::string_view value) const;
  // Whether an entry of this run could not go into the run log (it went to
  // the system log instead).
  bool runLogFailed() const { return runLogFailed_; }

  // ---- System database ----
  // The open system connection, opened on the first call from
  // Settings::getSystemDSN. When it cannot be opened the error is logged and
  // the program ends (ProgramEnd with status 1).
  db::Connection& getSystemConn();
  // The connection string getSystemConn opens for a data source text.
  static std::string systemConnectionString(std::string_view dataSourceText);
  // Whether a table of that name (trimmed, any letter case) exists.
  bool checkTableExists(std::string_view tableName, db::Connection& connection) const;
  // Whether the recordset has a field of exactly that name (case-sensitive).
  static bool CheckFieldExists(const db::Recordset& recordset, std::string_view fieldName);
  // The ADO type code of a field of a query or table, probed with a query
  // that returns no rows. Database errors pass to the caller.
  Variant ReturnDataType(std::string_view fieldName, std::string_view sqlOrTable,
                         db::Recordset& recordset, db::Connection& connection,
                         std::string_view dataSourceText) const;
  // The same through the data component: its failure is logged as
  // "Error connecting to " + the data source text and gives an empty result.
  Variant ReturnDataType(std::string_view fieldName, std::string_view sqlOrTable,
                         db::Recordset& recordset, DataComponent& component,
                         std::string_view dataSourceText) const;
  static std::string CorrectSyntax(const Variant& value, bool quote);
  std::string GetDateFormat(bool isSQLServer) const;
  // Records one message's send result, with its recipient text, in
  // Email_Log when -emaillog is on. Texts go into the statement with their
  // control characters escaped and their apostrophes doubled.
  void WriteEmailLog(const Variant& reportId, const Variant& status, const Variant& address,
                     const Variant& companyId);

  // ---- Report addresses (report_url.cc) ----
  // The address a favourite's page is posted to: an external report URL
  // (one starting "ftp", "http", "sftp" or "file") up to its "?"; otherwise
  // the dashboard or report page of the web application with its keys.
  std::string buildReportURL(std::string_view reportUrl, std::int32_t reportId,
                             std::int32_t mappingId, std::string_view reportFormat,
                             bool isDashboard, std::int32_t companyId,
                             std::string_view dashboardFilter) const;
  // The form data posted with it: what follows the first "?", or the whole URL.
  static std::string buildReportQS(std::string_view reportUrl);
  // Text made safe for a query string: NULs removed, blanks trimmed from both
  // ends, a blank becomes "+", letters and digits stay, every other byte of
  // the UTF-8 text becomes "%XX" (upper-case hex).
  static std::string URLEncode(std::string_view text);
  // Every value of name in the query string, joined with ","; "" when none.
  // A leading and a trailing "&" are dropped from queryString itself.
  static std::string getQSVariable(std::string& queryString, std::string_view name);
  // The query string with the first value of name replaced by newValue
  // (already encoded), or with name=newValue appended when it has none.
  static std::string changeQSVariable(std::string_view queryString, std::string_view name,
                                      std::string_view newValue);

  // ---- Report bodies (report_body.cc) ----
  // The cached request object, made with the run's time-outs and the
  // -maxpagesize limit when none is cached; with forceNew it is first wiped
  // to serve as a new one. When none can be made that is logged, and null
  // is returned.
  http::HttpRequest* getInetObj(bool forceNew);
  // Posts the form data to the address and returns the page, or the
  // no-records marker when the page must not be mailed (an error page, a
  // status other than 200, a failed request, a page over -maxpagesize)
  // unless -fsend forces it. Why is kept in lastFetchFailure.
  std::string getReportBody(std::string_view address, std::string_view formData, bool isDashboard);
  // Why the last getReportBody's page was not the report, as the status to
  // record for it: the run log line of the failure, such as "ERROR: Server
  // return code 404. Not sending the email."; "" when the page was read
  // whole with status 200 and no error box, which includes a genuine page
  // without records. With -fsend it is kept all the same.
  const std::string& lastFetchFailure() const { return lastFetchFailure_; }
  // The request time-outs in milliseconds: 30000, 30000, 30000 and 900000
  // (15 minutes) in every run; tests shorten them.
  void setRequestTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs);

  // ---- Mail text (format_text.cc) ----
  // A report body made safe for mail: every character above code 200 as a
  // numeric reference (unless -nounicode), the -suppress texts removed, the
  // euro sign escaped, and CR LF after each </td>, </TD>, </tr> and </TR>.
  std::string formatText(const std::string& text) const;

  // ---- Intervals and schedules ----
  // The half hour of the day (0 to 47) that contains the time.
  static int getIntervalId(Date time);
  // Marks the System table for multiple send times (adds 100 to smtpauth).
  void enableMultiTimes();
  // Rewrites every single-time schedule of UserReports and Dashboards into
  // the multiple-times format, sending at the half hour of time.
  void convertPostrixSchedules(Date time);
  static std::string encodeScheduleDetails(std::string_view schedule,
                                           std::string_view intervalList);
  // value + bitValue * 2^position; fails with 6 (overflow) past the range
  // of a double.
  static double addBitValue(double value, double position, double bitValue);

  // ---- Mail settings form (ui/load_form.cc) ----
  // Shows the mail settings form, filled from the run's settings, and
  // returns when the operator closes it. Without a terminal it logs and
  // prints why and ends the program (ProgramEnd, status 4): a form nobody
  // can see would wait for ever.
  void loadForm();

  const Clock& clock() const { return clock_; }
  const std::string& programFolder() const { return programFolder_; }

 private:
  Settings& settings() const;
  void restartApplicationPool();
  void configureRequest(http::HttpRequest& request) const;
  std::string fetchFailureLine(const Failure& failure, std::string_view address) const;

  const Clock& clock_;
  void unwritten(const RunLog& log, RunLog::Outcome outcome, const std::string& entry) const;
  void reportOutside(const std::string& entry) const;
  std::string programFolder_;
  mutable bool runLogFailed_ = false;
  // While a terminal form is on the screen, errors go to the system log only.
  bool screenInUse_ = false;
  Settings* settings_ = nullptr;
  std::unique_ptr<db::Connection> systemConnection_;
  std::unique_ptr<http::HttpRequest> request_;
  long requestTimeouts_[4] = {30000, 30000, 30000, 900000};
  std::string lastFetchFailure_;
};

}  // namespace postrix
