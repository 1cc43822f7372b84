// The second section of selection: the due dashboards, queued after every
// favourite so that they are sent last.
#include "config/settings.h"
#include "platform/db/connection.h"
#include "run/postrix_module.h"
#include "run/report_selection.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// Skip-and-continue: a failing step is skipped and its failure kept, the
// last one winning, for whoever looks afterwards.
class SkipRegime {
 public:
  template <class Step>
  void step(Step&& run) {
    try {
      run();
    } catch (const Failure& failure) {
      pending_ = failure;
    }
  }
  const std::optional<Failure>& pending() const { return pending_; }

 private:
  std::optional<Failure> pending_;
};

// Optional and descriptive columns: NULL reads as "".
std::string textOrEmpty(const Variant& value) { return value.isNull() ? "" : value.toText(); }

}  // namespace

std::string ReportSelection::firstReportIdExpression(bool isSQLServer) {
  if (isSQLServer)
    return "CASE WHEN charindex(':',report_ids, 1)>0 THEN "
           "LEFT(report_ids, charindex(':',report_ids, 1)-1) WHEN charindex(',',report_ids, 1)>0 "
           "THEN LEFT(report_ids, charindex(',',report_ids, 1)-1) Else report_ids END";
  return "iif(instr(1,report_ids,':'),Left([report_ids],InStr(1,[report_ids],':')-1),"
         "iif(instr(1,report_ids, ','), Left([report_ids],InStr(1,[report_ids],',')-1), "
         "report_ids))";
}

void ReportSelection::selectDashboards() {
  if (s_.emailNow() || s_.reportsonly()) {
    if (s_.reportsonly()) log("Sending reports only.");
    return;
  }
  bool favouritesOnly = !s_.param_id_list().empty() || !s_.repparam_id_list().empty();
  if (favouritesOnly && s_.param_dashboard_id_list().empty()) return;

  SkipRegime regime;
  std::string sql = "SELECT * FROM Dashboards WHERE sendreport='on' ";
  if (!s_.connection_param().empty() && !mappingFilterList_.empty())
    regime.step([&] { sql += dashboardMappingFilter(); });
  if (!s_.param_dashboard_id_list().empty())
    sql += " AND dashboard_id IN (" + s_.param_dashboard_id_list() + ")";
  db::Recordset rows;
  regime.step([&] { rows = systemConnection().Execute(sql); });
  if (const auto& failure = regime.pending()) {
    if (failure->number() != err::kOverflow && failure->number() != err::kUnknownColumn)
      log("ERROR: " + std::to_string(failure->number()) + " " + failure->description() +
          " While executing '" + sql + "'");
    return;
  }
  skipping_ = true;
  for (; !rows.eof(); rows.MoveNext()) {
    try {
      handleDashboard(rows);
    } catch (const Failure& failure) {
      dashboardFailed(rows, failure);
    }
  }
}

// Dashboards whose first report id is a favourite of the matching data sources.
std::string ReportSelection::dashboardMappingFilter() {
  db::Recordset reports = systemConnection().Execute(
      "SELECT report_id FROM UserReports WHERE mapping_id IN (" + mappingFilterList_ + ")");
  std::string list;
  for (; !reports.eof(); reports.MoveNext())
    list += "'" + sqlQuoted(reports.Fields("report_id").toText()) + "',";
  if (list.empty()) return "";
  list.pop_back();
  return " AND " + firstReportIdExpression(s_.isSQLServer()) + " IN (" + list + ")";
}

void ReportSelection::handleDashboard(const db::Recordset& row) {
  auto dashboard = std::make_shared<UserFavorite>();
  dashboard->setScheduleDetails(textOrEmpty(row.Fields("schedule_details")));
  bool due = dueNow(*dashboard) || s_.IgnoreSchedule();
  if (!due) return;
  // Until the first due dashboard's company lookup a failing step is skipped
  // and the dashboard still goes; after it, the dashboard is skipped instead.
  auto step = [&](auto&& run) {
    if (!skipping_) return run();
    try {
      run();
    } catch (const Failure&) {
    }
  };
  step([&] { dashboard->setReportID(row.Fields("dashboard_id").toInt32()); });
  step([&] { dashboard->setReportTitle(row.Fields("dashboard_title").toText()); });
  if (Utilities::CheckFieldExists(row, "extra_desc"))
    step([&] { dashboard->setReportExtraDesc(textOrEmpty(row.Fields("extra_desc"))); });
  if (Utilities::CheckFieldExists(row, "default_filter"))
    step([&] { dashboard->setDashboardFilter(textOrEmpty(row.Fields("default_filter"))); });
  step([&] {
    dashboard->setReportFormat(s_.filelocation().empty() ? Variant(row.Fields("format").toText())
                                                         : Variant("pdfl"));
  });
  step([&] { dashboard->setReportEmails(row.Fields("email").toText()); });
  dashboard->setIsDashboard(true);
  dashboard->setReportURL(Variant(""));

  bool perCompany = queueCompanyCopies(*dashboard, 2, [](const UserFavorite& copy) {
    return "Will send Dashboad " + std::to_string(copy.reportid()) + " for company " +
           std::to_string(copy.companyID()) + " to: " + copy.reportEmails();
  });
  skipping_ = false;
  if (perCompany) return;
  queue_->addReport(dashboard);
  log("Will send dashboard " + std::to_string(dashboard->reportid()) +
      " to: " + firstNonEmpty(s_.oEmail(), dashboard->reportEmails()));
}

void ReportSelection::dashboardFailed(const db::Recordset& row, const Failure& failure) const {
  std::string id = "?";
  try {
    id = row.Fields("dashboard_id").toText();
  } catch (const Failure&) {
    // The id itself is unreadable: the line still names the failure.
  }
  log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
      " while selecting dashboard " + id + "; going on with the next one.");
}

}  // namespace postrix
