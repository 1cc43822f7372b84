#include "run/dry_run.h"

#include <set>
#include <string>
#include <utility>

#include "config/settings.h"
#include "favorites/schedule.h"
#include "platform/db/connection.h"
#include "run/postrix_module.h"
#include "run/report_selection.h"
#include "run/select_reports.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

using QueuedIds = std::set<std::pair<bool, std::int32_t>>;  // (is dashboard, id)

QueuedIds queuedIds(const ReportQueue& queue) {
  QueuedIds ids;
  for (std::int32_t i = 0; i < queue.numReports(); ++i) {
    auto favorite = queue.getReport(i);
    ids.emplace(favorite->isDashboard(), favorite->reportid());
  }
  return ids;
}

std::string textOrEmpty(const Variant& value) { return value.isNull() ? "" : value.toText(); }

std::string orNone(const std::string& text) { return text.empty() ? "none" : text; }

// Why a favourite or dashboard row that selection did not queue was left out.
// Favourites sent whatever their schedule (-ignoreschedule) have no company lookup.
std::string reasonLeftOut(const db::Recordset& row, int companyType, std::int32_t id,
                          const Settings& s, Utilities& u) {
  bool companyLookup = companyType == 2 || !s.IgnoreSchedule();
  std::string flag = textOrEmpty(row.Fields("sendreport"));
  if (!equalsNoCase(flag, "on")) return "sendreport is '" + flag + "', not 'on'";
  if (!s.IgnoreSchedule()) {
    std::string schedule = textOrEmpty(row.Fields("schedule_details"));
    try {
      switch (scheduleVerdict(schedule, s.getDate(), s.isMultipleSchedules(),
                              s.thisIntervalStartId(), s.IgnoreMultitime())) {
        case ScheduleVerdict::kNotDueToday:
          return "its schedule '" + schedule + "' is not due on " + shortDate(s.getDate());
        case ScheduleVerdict::kNotThisInterval:
          return "its schedule '" + schedule + "' has no send time in interval " +
                 std::to_string(s.thisIntervalStartId());
        case ScheduleVerdict::kDue:
          break;
      }
    } catch (const Failure& failure) {
      return "its schedule '" + schedule + "' cannot be read (" + failure.description() + ")";
    }
  }
  if (!companyLookup) return "it is left out by the run's other options";
  try {
    db::Recordset companies = u.getSystemConn().Execute(
        "SELECT company_id FROM CompanyReports WHERE [type]=" + std::to_string(companyType) +
        " AND report_id=" + std::to_string(id));
    if (companies.eof())
      return "CompanyReports has no type-" + std::to_string(companyType) + " row for it";
  } catch (const Failure&) {
    // No company table: the favourite would have been sent by itself.
  }
  return "it is left out by the run's other options";
}

}  // namespace

void DryRun::cycle(Settings& settings, Utilities& utilities) {
  std::shared_ptr<ReportQueue> queue = selectReports(settings, utilities);
  printQueue(settings, *queue);
  bool scheduled = !settings.emailNow() && !settings.isAlerts() && settings.filelocation().empty();
  if (!scheduled) return;
  try {
    if (!settings.param_id_list().empty()) explainFavorites(settings, utilities, *queue);
    if (!settings.param_dashboard_id_list().empty()) explainDashboards(settings, utilities, *queue);
  } catch (const Failure& failure) {
    out_ << "The favourites left out cannot be listed: " << failure.number() << " "
         << failure.description() << "\n";
  }
}

void DryRun::printQueue(const Settings& settings, const ReportQueue& queue) {
  for (std::int32_t i = 0; i < queue.numReports(); ++i) {
    const UserFavorite& f = *queue.getReport(i);
    out_ << (f.isDashboard() ? "dashboard " : "report ") << f.reportid() << " \"" << f.reportTitle()
         << "\" to " << orNone(firstNonEmpty(settings.oEmail(), f.reportEmails())) << " format "
         << orNone(f.reportFormat()) << " company "
         << (f.companyID() < 0 ? "none" : std::to_string(f.companyID())) << " alert "
         << orNone(f.alertID()) << "\n";
  }
  total_ += queue.numReports();
}

void DryRun::explainFavorites(Settings& settings, Utilities& utilities, const ReportQueue& queue) {
  QueuedIds queued = queuedIds(queue);
  db::Recordset rows = utilities.getSystemConn().Execute(
      "SELECT * FROM userreports WHERE 1=1 " +
      idListClause(settings.param_id_list(), " AND report_id BETWEEN ", " AND report_id IN ("));
  for (; !rows.eof(); rows.MoveNext()) {
    std::int32_t id = rows.Fields("report_id").toInt32();
    if (queued.count({false, id})) continue;
    out_ << "report " << id << " left out: " << reasonLeftOut(rows, 1, id, settings, utilities)
         << "\n";
  }
}

void DryRun::explainDashboards(Settings& settings, Utilities& utilities, const ReportQueue& queue) {
  QueuedIds queued = queuedIds(queue);
  db::Recordset rows =
      utilities.getSystemConn().Execute("SELECT * FROM Dashboards WHERE dashboard_id IN (" +
                                        settings.param_dashboard_id_list() + ")");
  for (; !rows.eof(); rows.MoveNext()) {
    std::int32_t id = rows.Fields("dashboard_id").toInt32();
    if (queued.count({true, id})) continue;
    out_ << "dashboard " << id << " left out: " << reasonLeftOut(rows, 2, id, settings, utilities)
         << "\n";
  }
}

void DryRun::finish() {
  out_ << total_ << (total_ == 1 ? " favourite" : " favourites")
       << " would be sent; nothing was sent and nothing was changed.\n";
}

}  // namespace postrix
