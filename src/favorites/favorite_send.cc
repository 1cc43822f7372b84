// The send pipeline of one favourite: from its report address to a
// delivered message, or to a report file in an export run.
#include <chrono>
#include <cmath>
#include <string_view>
#include <thread>

#include "config/settings.h"
#include "favorites/user_favorite.h"
#include "mail/email.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "run/module_state.h"
#include "run/run_failures.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

constexpr std::string_view kNoRecords = "No Matching Records";
constexpr std::string_view kNoRecordsWarning = "Warning: No Matching Records.";
// A page that loads the web application's charting library draws its charts
// in the reader's browser, so it travels as a stand-alone page.
constexpr std::string_view kChartScripts[] = {
    "src=\"https://charts.quarvex.com/qxcharts.js\"",
    "src=\"http://charts.quarvex.com/qxcharts.js\"",
};
constexpr std::string_view kAccessWarning =
    "Postrix - Path/File access error. Please ensure user has write/modify permissions to the "
    "postrix directory";

bool loadsChartScript(const std::string& body) {
  for (std::string_view script : kChartScripts)
    if (body.find(script) != std::string::npos) return true;
  return false;
}

std::string replaceFirst(std::string text, std::string_view from, std::string_view to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class SendPipeline {
 public:
  SendPipeline(UserFavorite& favorite, Settings& settings, Utilities& utilities)
      : f_(favorite), s_(settings), u_(utilities) {
    email_.setUtilities(utilities);
    email_.setSettings(settings);
    email_.setDashboard(favorite.isDashboard());
  }

  void run();

 private:
  bool exportRun() const { return !s_.filelocation().empty(); }
  void addressMessage();
  bool fetchBody();
  void decorateBody();
  bool attachByFormat();
  bool attached(bool written);
  bool attachDashboardPdf();
  bool attachReportPdf();
  std::string pdfKind() const { return format_.substr(format_.size() - 1); }
  bool sendableDashboardFormat();
  void notSent(const std::string& status);
  void attachExtraFile();
  void noMatchingRecords(bool writeEmailLog);
  void deliver();
  void pause() const;
  // The extra description when there is one, else text.
  std::string descriptionOr(std::string_view text) const;

  UserFavorite& f_;
  Settings& s_;
  Utilities& u_;
  Email email_;
  std::string format_, address_, form_, body_;
};

void SendPipeline::run() {
  format_ = f_.reportFormat();
  if (!exportRun()) addressMessage();
  if (!sendableDashboardFormat()) return;
  address_ = u_.buildReportURL(f_.reportUrl(), f_.reportid(), f_.mappingID(), f_.reportFormat(),
                               f_.isDashboard(), f_.companyID(), f_.dashboardFilter());
  form_ = Utilities::buildReportQS(f_.reportUrl());
  if (!f_.isDashboard())
    form_ = Utilities::changeQSVariable(form_, "r_title", Utilities::URLEncode(f_.reportTitle()));
  if (!fetchBody()) return;
  decorateBody();
  if (!attachByFormat()) return;
  attachExtraFile();
  if (!s_.forceSend() && body_.find(kNoRecords) != std::string::npos) {
    noMatchingRecords(false);
    return;
  }
  if (fileAccessError) {
    writeEventLogWarning(kAccessWarning);
    u_.Debugger(std::string(kAccessWarning) + ". Report " + std::to_string(f_.reportid()) +
                " is not sent.");
    runFailures().failed({"Report " + std::to_string(f_.reportid()), f_.reportTitle(),
                          f_.reportEmails(), std::string(kAccessWarning), "", 0});
    return;
  }
  deliver();
}

void SendPipeline::addressMessage() {
  email_.initEmail(f_.reportid());
  Date shown = s_.getDate().addDays(-s_.delta());
  email_.setSubject(f_.reportTitle() + ": " + shortDate(shown));
  email_.addAddress(f_.reportEmails(), std::to_string(f_.reportid()));
}

// False when the favourite must not be sent.
bool SendPipeline::fetchBody() {
  if (f_.isDashboard() && format_ != "html") return true;  // not fetched: sent from its address
  body_ = u_.getReportBody(address_, form_, f_.isDashboard());
  if (!s_.forceSend() && body_.find(kNoRecords) != std::string::npos) {
    noMatchingRecords(true);
    return false;
  }
  return !email_.checkNull(body_);
}

// Right after the fetch (writeEmailLog), a page that could not be fetched is
// recorded as the failure it was, already in the run log; otherwise the
// page has no records.
void SendPipeline::noMatchingRecords(bool writeEmailLog) {
  std::string failure = writeEmailLog ? u_.lastFetchFailure() : std::string();
  if (failure.empty()) u_.Debugger(kNoRecordsWarning);
  if (writeEmailLog)
    u_.WriteEmailLog(f_.reportid(), failure.empty() ? "No Matching Records." : failure,
                     Variant(f_.reportEmails()), f_.companyID());
  std::string status = failure.empty() ? std::string(kNoRecordsWarning) : failure;
  if (!failure.empty())
    runFailures().failed(
        {(f_.isDashboard() ? "Dashboard " : "Report ") + std::to_string(f_.reportid()),
         f_.reportTitle(), f_.reportEmails(), failure, "", 0});
  if (s_.laststatus() && !f_.isDashboard())
    u_.getSystemConn().Execute("update UserReports set laststatus='" + sqlQuoted(status) +
                               "' where report_ID =" + std::to_string(f_.reportid()));
}

void SendPipeline::decorateBody() {
  bool html = toLower(format_) == "html";
  const std::string& extra = f_.extra_desc();
  if (!extra.empty() && html)
    body_ = replaceAll(body_, "<body>", "<body><font size=3>" + extra + "<br><br>");
  else if (!f_.reportExtraDesc().empty() && html)
    body_ =
        replaceFirst(body_, "<body>", "<body><font size=3>" + f_.reportExtraDesc() + "<br><br>");
  if (!f_.report_header().empty())
    body_ = replaceAll(body_, "<body>", "<body><table>" + f_.report_header() + "</table>");
  if (!f_.rep_header().empty())
    body_ = replaceAll(body_, "<body>", "<body><table>" + f_.rep_header() + "</table>");
  if (!f_.rep_footer().empty())
    body_ = replaceAll(body_, "</body>", "<table>" + f_.rep_footer() + "</table></body>");
  if (!f_.alertID().empty()) {
    body_ = replaceAll(body_, "%%alertid%%", f_.alertID());
    if (!extra.empty()) f_.setExtraDesc(replaceAll(extra, "%%alertid%%", f_.alertID()));
  }
}

std::string SendPipeline::descriptionOr(std::string_view text) const {
  return f_.extra_desc().empty() ? std::string(text) : f_.extra_desc();
}

void SendPipeline::notSent(const std::string& status) {
  if (exportRun())
    u_.Debugger(status);
  else
    email_.recordNotSent(f_.reportid(), Variant(f_.reportEmails()), f_.companyID(), status);
}

// A dashboard is fetched only as html, or made into a PDF from its
// address; in any other format (csv included) it would go out with an empty
// body or file.
bool SendPipeline::sendableDashboardFormat() {
  if (!f_.isDashboard() || format_ == "html" || startsWith(format_, "pdf")) return true;
  notSent("ERROR: Dashboard " + std::to_string(f_.reportid()) + " is in '" + format_ +
          "' format, which Postrix cannot send; it is not sent.");
  return false;
}

// False when the report file is missing: the message would promise an
// attachment it does not have. An access failure (75) is left to the
// fileAccessError handling, which stops every later report too; an export
// run has logged the failure and sends nothing anyway.
bool SendPipeline::attached(bool written) {
  if (written || fileAccessError || exportRun()) return true;
  notSent(email_.fileError() + ". Report " + std::to_string(f_.reportid()) + " is not sent.");
  return false;
}

// False when the favourite must not be sent.
bool SendPipeline::attachByFormat() {
  if (format_ == "csv") {
    if (!attached(email_.generateAndAttachCSV(body_, f_.reportTitle()))) return false;
    body_ = descriptionOr("Please see the attached CSV file.");
    return true;
  }
  if (Utilities::getQSVariable(form_, "action") == "Visualize" && format_ == "html") {
    std::string name = s_.GetReportName(f_.reportTitle(), true);
    if (!attached(email_.generateAndAttachAsHTML(body_, s_.XLS_TEMP_HTML_FILE(name)))) return false;
    body_ = descriptionOr("Please see the attached file.");
    return true;
  }
  if (s_.allowExcel() && format_ == "excel") {
    std::string title = f_.reportTitle();
    if (!attached(email_.generateAndAttachAsExcel(body_, title))) return false;
    body_ = descriptionOr("Please see the attached spreadsheet.");
    return true;
  }
  bool pdf = startsWith(format_, "pdf");
  if (pdf) return f_.isDashboard() ? attachDashboardPdf() : attachReportPdf();
  bool hasCharts = loadsChartScript(body_);
  // An exported page is read without its message, so its charts go inline.
  if (email_.checkImg(body_, f_.isDashboard(), hasCharts || exportRun())) return false;
  if (f_.isDashboard() && hasCharts) {
    if (!attached(
            email_.generateAndAttachAsHTML(body_, std::string(Settings::DASHBOARD_HTML_FILE))))
      return false;
    body_ = descriptionOr("Please see the attached file " +
                          std::string(Settings::DASHBOARD_HTML_FILE) + ".");
  }
  return true;
}

// A dashboard sent as a PDF has no body of its own: without the PDF there
// is nothing to send.
bool SendPipeline::attachDashboardPdf() {
  std::string kind = pdfKind(), title = f_.reportTitle(), credentials = s_.wkhtmltopdfauth();
  if (!email_.generateAndAttachDashboardASPDF(address_, form_, kind, title, credentials)) {
    if (fileAccessError) return true;  // reported, and the report stopped, with the others
    notSent(email_.fileError() + ". Dashboard " + std::to_string(f_.reportid()) + " is not sent.");
    return false;
  }
  if (!f_.extra_desc().empty())
    body_ = f_.extra_desc();
  else
    body_ = f_.reportExtraDesc().empty() ? "Please see the attached PDF." : f_.reportExtraDesc();
  return true;
}

// The converter reads the page from a file, where addresses relative to the
// web application lead nowhere: the file's charts go in as data. The
// byte-order mark tells the converter the file is UTF-8; without it, it
// reads Latin-1. Without a PDF the page goes out as the body, its charts as
// parts of the message as for any HTML report: many mail readers show no
// data images.
bool SendPipeline::attachReportPdf() {
  std::string kind = pdfKind(), title = f_.reportTitle(), credentials = s_.wkhtmltopdfauth();
  std::string name = s_.GetReportName(title, true);
  std::string path = s_.filedestination() + "/" + s_.TEMP_HTML_FILE(name);
  {
    std::string page = body_;
    if (email_.checkImg(page, false, true)) return false;
    files::writeFile(path, "\xEF\xBB\xBF" + page + "\r\n");
  }
  bool made = email_.generateAndAttachDashboardASPDF(path, form_, kind, title, credentials);
  if (s_.deletefileatt() && files::fileExists(path)) files::deleteFile(path);
  if (made) {
    body_ = descriptionOr("Please see the attached PDF.");
    return true;
  }
  u_.Debugger("WARNING: Report " + std::to_string(f_.reportid()) + " has no PDF; " +
              (exportRun() ? "only its HTML file is exported." : "its page is sent as the body."));
  return !email_.checkImg(body_, false, loadsChartScript(body_) || exportRun());
}

void SendPipeline::attachExtraFile() {
  const std::string& name = s_.attachfile();
  if (name.empty()) return;
  if (files::fileExists(name)) {
    email_.AttachExternalFile();
    u_.Debugger("Attaching file '" + name + "' to outgoing email.");
  } else {
    u_.Debugger("Cannot attach '" + name + "' as it does not exist or cannot be accessed.");
  }
}

void SendPipeline::deliver() {
  if (exportRun()) {
    std::string name = s_.GetReportName(f_.reportTitle(), true);
    email_.generateAndAttachAsHTML(body_, s_.TEMP_HTML_FILE(name));
  } else {
    email_.setBody(std::move(body_));
    email_.send(f_.reportid(), Variant(f_.reportEmails()), f_.companyID());
  }
  pause();
}

void SendPipeline::pause() const {
  if (sleepSeconds.empty()) return;
  double ms = std::round(Variant(sleepSeconds).toDouble() * 1000);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(ms)));
}

}  // namespace

void UserFavorite::send(Settings& settings, Utilities& utilities) {
  try {
    SendPipeline(*this, settings, utilities).run();
  } catch (const Failure& failure) {
    if (failure.number() == err::kPathFileAccess) fileAccessError = true;
    // The run goes on with the next favourite; the line says which one stopped and why.
    utilities.Debugger("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                       " while sending report " + reportId_.toText() +
                       "; going on with the next one.");
  } catch (const std::exception& failure) {
    utilities.Debugger("ERROR: " + std::string(failure.what()) + " while sending report " +
                       reportId_.toText() + "; going on with the next one.");
  }
}

}  // namespace postrix
