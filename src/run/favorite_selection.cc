// The first section of selection: the favourite rows.
#include <filesystem>

#include "config/settings.h"
#include "run/postrix_module.h"
#include "run/report_selection.h"
#include "run/select_reports.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

struct IdFilter {
  const std::string& list;
  std::string_view range;
  std::string_view in;
};

std::string idClause(const IdFilter& filter) {
  return idListClause(filter.list, filter.range, filter.in);
}

}  // namespace

std::string idListClause(const std::string& list, std::string_view range, std::string_view in) {
  if (list.find(':') != std::string::npos && !range.empty())
    return std::string(range) + replaceAll(list, ":", " AND ");
  return std::string(in) + list + ")";
}

std::shared_ptr<ReportQueue> selectReports(Settings& settings, Utilities& utilities) {
  return ReportSelection(settings, utilities).run();
}

ReportSelection::ReportSelection(Settings& settings, Utilities& utilities)
    : s_(settings), u_(utilities) {}

std::shared_ptr<ReportQueue> ReportSelection::run() {
  try {
    selectFavorites();
  } catch (const Failure& failure) {
    if (!trapOn_) throw;
    trapped(failure);
    return queue_;
  }
  selectDashboards();
  return queue_;
}

void ReportSelection::trapped(const Failure& failure) const {
  if (failure.number() == err::kCannotOpen || failure.number() == err::kSyntaxError)
    log("Error encountered. " + failure.description() + ". Please check the DSN.");
}

void ReportSelection::selectFavorites() {
  std::string sql = baseQuery();
  if (!s_.connection_param().empty()) {
    trapOn_ = true;
    sql += mappingFilter();
  }
  sql += idFilters();
  db::Recordset rows;
  try {
    rows = systemConnection().Execute(sql);
  } catch (const Failure& failure) {
    if (trapOn_) throw;
    // Without the trap the dashboards are still worth selecting.
    log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
        " while executing '" + sql + "'");
    return;
  }
  if (s_.dashboardonly()) {
    log("Sending only dashboards");
    return;
  }
  if (!s_.param_dashboard_id_list().empty() && s_.param_id_list().empty()) return;
  if (s_.emailNow() && !s_.dryrun()) resumeClaims();
  if (rows.eof()) {
    if (queue_->numReports() == 0)
      log(s_.emailNow() ? "No reports to be sent."
                        : "Warning: rsUserReports = EOF; No favourite reports to send.");
    return;
  }
  for (; !rows.eof(); rows.MoveNext()) {
    try {
      handleRow(rows);
    } catch (const Failure& failure) {
      if (trapOn_) throw;
      rowFailed(rows, failure);
    }
  }
}

std::string ReportSelection::baseQuery() const {
  if (s_.emailNow()) return "SELECT * FROM emailReports WHERE emailsent=0";
  if (s_.isAlerts())
    return "SELECT userreports.*,mr.type,mr.toreplace,mr.dsn,mr.header,mr.footer, "
           "mr.datasource FROM userreports  inner join mass_reports_to_email as mr on "
           "mr.report_id=userreports.report_id  where mr.frequency=99";
  if (!s_.filelocation().empty()) return "SELECT * FROM userreports WHERE 1=1 ";
  return "SELECT * FROM userreports WHERE sendreport='on' ";
}

// The mapping ids whose data source text contains the -connectionstring
// text, kept for the dashboards; "" when none matches.
std::string ReportSelection::mappingFilter() {
  std::string sql =
      s_.isSQLServer()
          ? "select mapping_id, CASE WHEN useDSN='Yes' THEN 'dsn=' + rtrim(ltrim(dsn)) + ';uid=' "
            "+ ltrim(rtrim(database_username)) + ';pwd=' + ltrim(rtrim(database_password)) + "
            "';' ELSE ltrim(rtrim(database_string)) END as myDSN From mappings"
          : "select mapping_id, iif(useDSN='yes', 'dsn=' & trim(dsn) & ';uid=' & "
            "trim(database_username) & ';pwd=' & trim(database_password) & ';', "
            "trim(database_string)) as myDSN from mappings";
  db::Recordset mappings = systemConnection().Execute(sql);
  for (; !mappings.eof(); mappings.MoveNext()) {
    const Variant& dsn = mappings.Fields("myDSN");
    if (dsn.isNull() || !containsNoCase(dsn.toText(), s_.connection_param())) continue;
    // The ids go into SQL unquoted: only numbers may.
    const Variant& id = mappings.Fields("mapping_id");
    if (id.isEmpty() || !id.isNumeric())
      log("Mapping id '" + (id.isNull() ? std::string("Null") : id.toText()) +
          "' is not a number and is left out of the -connectionstring filter.");
    else
      mappingFilterList_ += sqlNumber(id) + ",";
  }
  mappings.Close();
  if (mappingFilterList_.empty()) return "";
  mappingFilterList_.pop_back();
  return " AND mapping_id IN (" + mappingFilterList_ + ")";
}

std::string ReportSelection::idFilters() const {
  bool alerts = s_.isAlerts();
  std::string sql;
  if (!s_.param_id_list().empty())
    sql += idClause({s_.param_id_list(), alerts ? " AND mr.id BETWEEN " : " AND report_id BETWEEN ",
                     alerts ? " AND mr.id IN (" : " AND report_id IN ("});
  if (!s_.repparam_id_list().empty())
    sql += idClause({s_.repparam_id_list(),
                     alerts ? " AND userreports.report_id BETWEEN " : " AND report_id BETWEEN ",
                     alerts ? " AND userreports.report_id IN (" : " AND report_id IN ("});
  if (!s_.exclude_id_list().empty())
    sql += idClause(
        {s_.exclude_id_list(),
         alerts ? " AND userreports.report_id NOT BETWEEN " : " AND report_id NOT BETWEEN ",
         alerts ? " AND userreports.report_id NOT IN (" : " AND report_id NOT IN ("});
  if (!s_.mapparam_list().empty())
    sql += idClause({s_.mapparam_list(), "", " AND mapping_id IN ("});
  return sql;
}

void ReportSelection::handleRow(const db::Recordset& row) {
  if (!s_.filelocation().empty())
    exportRow(row);
  else if (s_.emailNow())
    immediateRow(row);
  else if (s_.isAlerts())
    expandAlert(row);
  else if (s_.IgnoreSchedule())
    unscheduledRow(row);
  else
    scheduledRow(row);
}

ReportSelection::Favorite ReportSelection::initFavorite(const db::Recordset& row) const {
  auto favorite = std::make_shared<UserFavorite>();
  favorite->Init(row, s_);
  return favorite;
}

void ReportSelection::exportRow(const db::Recordset& row) {
  const std::string& location = s_.filelocation();
  std::error_code ec;
  if (!std::filesystem::exists(location, ec))
    log("Location '" + location + "' does not exist. File will be exported to '" +
        s_.filedestination() + "' instead.");
  Favorite favorite = initFavorite(row);
  queue_->addReport(favorite);
  std::string target = std::filesystem::exists(location, ec) ? location : s_.filedestination();
  std::string message =
      "Report " + std::to_string(favorite->reportid()) + " will be exported to '" + target + "'";
  if (!s_.emailFormat().empty()) message += " in '" + s_.emailFormat() + "' format";
  log(message + ".");
}

// The row is marked sent as it is queued, so a later run never sends it
// twice; the claim made first lets the next -emailnow run send it if this
// one dies before it does.
void ReportSelection::immediateRow(const db::Recordset& row) {
  Favorite favorite = initFavorite(row);
  // A claimed row still unmarked is the same request, resumed already.
  if (resumed_.count(favorite->reportid())) return;
  queue_->addReport(favorite);
  std::string id = std::to_string(favorite->reportid());
  log("Sending immeditate report " + id + " to: " + favorite->reportEmails());
  if (s_.dryrun()) return;
  claimImmediate(favorite->reportid());
  systemConnection().Execute("update emailReports set emailSent=1 where report_ID = " + id);
  log("Immediate report " + id + " is marked sent (emailReports.emailSent=1).");
}

void ReportSelection::unscheduledRow(const db::Recordset& row) {
  Favorite favorite = initFavorite(row);
  queue_->addReport(favorite);
  log("Will send report " + std::to_string(favorite->reportid()) +
      " to: " + favorite->reportEmails());
}

void ReportSelection::scheduledRow(const db::Recordset& row) {
  Favorite favorite = initFavorite(row);
  if (!dueNow(*favorite)) return;
  std::string recipients = firstNonEmpty(s_.oEmail(), favorite->reportEmails());
  bool perCompany = queueCompanyCopies(*favorite, 1, [&](const UserFavorite& copy) {
    return "Will send report " + std::to_string(copy.reportid()) + " for company " +
           std::to_string(copy.companyID()) + " to: " + recipients;
  });
  trapOn_ = false;
  if (perCompany) return;
  queue_->addReport(favorite);
  log("Will send report " + std::to_string(favorite->reportid()) + " to: " + recipients);
}

void ReportSelection::rowFailed(const db::Recordset& row, const Failure& failure) const {
  std::string id = "?";
  try {
    id = row.Fields("report_id").toText();
  } catch (const Failure&) {
    // The id itself is unreadable: the line still names the failure.
  }
  log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
      " while selecting report " + id + "; going on with the next one.");
}

bool ReportSelection::dueNow(const UserFavorite& favorite) const {
  return favorite.shouldBeQueued(s_.getDate(), s_.isMultipleSchedules(), s_.thisIntervalStartId(),
                                 s_.IgnoreMultitime());
}

void ReportSelection::log(std::string_view message) const { u_.Debugger(message); }

db::Connection& ReportSelection::systemConnection() const { return u_.getSystemConn(); }

}  // namespace postrix
