// ReportSelection: the working state of one selectReports call.
//
// Selection runs in two sections: the favourite rows (saved favourites,
// immediate reports, alerts or an export), then the dashboards. Which error
// regime is active changes as it goes, exactly as the run log's readers
// expect it:
//   - the selection trap (on from the -connectionstring step, and from the
//     data source step of each alert): any failure ends selection, and the
//     queue built so far is sent;
//   - skip-and-continue (each company lookup, and the dashboards section up
//     to its first company lookup): a failing step is skipped;
//   - none: a failing row is logged with its id and skipped, and the next
//     row is read, so one bad row never stops the others.
// Private to the run subsystem.
#pragma once

#include <functional>   // lookup log lines
#include <memory>       // the queue
#include <optional>     // pending failures
#include <set>          // resumed claims
#include <string>       // SQL texts
#include <string_view>  // inputs

#include "favorites/user_favorite.h"
#include "platform/db/recordset.h"
#include "run/report_queue.h"
#include "run/sent_record.h"
#include "util/failure.h"

namespace postrix {

class Settings;
class Utilities;
namespace db {
class Connection;
}

// The clause of one id list option: a list with ":" is a range "low:high"
// (when the option has a range form), any other list goes into IN (...).
std::string idListClause(const std::string& list, std::string_view range, std::string_view in);

class ReportSelection {
 public:
  ReportSelection(Settings& settings, Utilities& utilities);
  std::shared_ptr<ReportQueue> run();

  // The text a dashboard's first report id is read from in each dialect.
  static std::string firstReportIdExpression(bool isSQLServer);

 private:
  using Favorite = std::shared_ptr<UserFavorite>;

  // Favourite rows (favorite_selection.cc).
  void selectFavorites();
  std::string baseQuery() const;
  std::string mappingFilter();
  std::string idFilters() const;
  void handleRow(const db::Recordset& row);
  void exportRow(const db::Recordset& row);
  void immediateRow(const db::Recordset& row);
  void unscheduledRow(const db::Recordset& row);
  void scheduledRow(const db::Recordset& row);
  Favorite initFavorite(const db::Recordset& row) const;
  void rowFailed(const db::Recordset& row, const Failure& failure) const;
  void trapped(const Failure& failure) const;

  // Per-company copies (company_copies.cc). Returns whether the favourite is
  // sent per company: true as soon as the lookup opens, rows or not.
  using CopyLine = std::function<std::string(const UserFavorite& copy)>;
  bool queueCompanyCopies(const UserFavorite& favorite, int type, const CopyLine& line);

  // Immediate reports claimed by a run that died before sending them
  // (immediate_claims.cc): queued again, once.
  void resumeClaims();
  void claimImmediate(std::int32_t reportId);
  SentRecord& sentRecord();

  // Alerts (alert_expansion.cc).
  void expandAlert(const db::Recordset& row);

  // Dashboards (dashboard_selection.cc).
  void selectDashboards();
  std::string dashboardMappingFilter();
  void handleDashboard(const db::Recordset& row);
  void dashboardFailed(const db::Recordset& row, const Failure& failure) const;

  bool dueNow(const UserFavorite& favorite) const;
  void log(std::string_view message) const;
  db::Connection& systemConnection() const;

  Settings& s_;
  Utilities& u_;
  std::shared_ptr<ReportQueue> queue_ = std::make_shared<ReportQueue>();
  std::string mappingFilterList_;
  bool trapOn_ = false;
  std::unique_ptr<SentRecord> sentRecord_;
  std::set<std::int32_t> resumed_;
  // Dashboards: skip-and-continue until the first due dashboard's company lookup.
  bool skipping_ = false;
};

}  // namespace postrix
