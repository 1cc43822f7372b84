// Per-company copies of a due favourite or dashboard.
#include "platform/db/connection.h"
#include "run/report_selection.h"
#include "util/utilities.h"

namespace postrix {

// The lookup runs skip-and-continue: a failing lookup never drops the
// favourite, which is then queued by itself. Once the lookup opens, the
// favourite is sent per company only, even when it has no row: an
// installation with per-company recipients sends nothing to anyone else.
bool ReportSelection::queueCompanyCopies(const UserFavorite& favorite, int type,
                                         const CopyLine& line) {
  std::string sql =
      "SELECT company_id, email FROM CompanyReports WHERE [type]=" + std::to_string(type) +
      " AND report_id=" + std::to_string(favorite.reportid());
  db::Recordset companies;
  try {
    companies = systemConnection().Execute(sql);
  } catch (const Failure& failure) {
    if (failure.number() != err::kTableNotFound)
      log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
          " while executing '" + sql + "'");
    return false;
  }
  if (companies.eof())
    log(std::string(favorite.isDashboard() ? "Dashboard " : "Report ") +
        std::to_string(favorite.reportid()) + " is due but CompanyReports has no type-" +
        std::to_string(type) + " row for it, so it is not sent.");
  for (; !companies.eof(); companies.MoveNext()) {
    try {
      auto copy = std::make_shared<UserFavorite>();
      copy->InitCopy(favorite);
      copy->setCompanyID(companies.Fields("company_id").toInt32());
      copy->setReportEmails(companies.Fields("email").toText());
      queue_->addReport(copy);
      log(line(*copy));
    } catch (const Failure& failure) {
      // Skipped like any failing step of the lookup; the other companies still get theirs.
      log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
          " while executing '" + sql + "'");
    }
  }
  return true;
}

}  // namespace postrix
