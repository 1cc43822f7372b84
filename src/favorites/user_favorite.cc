#include "favorites/user_favorite.h"

#include "config/settings.h"
#include "favorites/schedule.h"
#include "platform/db/recordset.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// Optional descriptive columns are often left unset; an empty text is what
// the mail builder expects for them, so NULL must not fail the favourite.
std::string textOrEmpty(const Variant& value) { return value.isNull() ? "" : value.toText(); }

}  // namespace

void UserFavorite::Init(const db::Recordset& row, const Settings& settings) {
  dashboardFilter_.clear();
  reportId_ = Variant(row.Fields("report_id").toInt32());
  reportTitle_ = row.Fields("reporttitle").toText();
  mappingId_ = Variant(row.Fields("mapping_id").toInt32());
  reportFormat_ = settings.emailFormat().empty() ? Variant(row.Fields("format").toText())
                                                 : Variant(settings.emailFormat());
  scheduleDetails_ = textOrEmpty(row.Fields("schedule_details"));
  // Not every source table carries these columns, and ADO would find a
  // differently cased name, so the probe is exact before the lookup is not.
  if (Utilities::CheckFieldExists(row, "extra_desc"))
    extraDesc_ = textOrEmpty(row.Fields("extra_desc"));
  if (Utilities::CheckFieldExists(row, "report_header"))
    reportHeader_ = textOrEmpty(row.Fields("report_header"));
  reportEmails_ = Variant(row.Fields("email").toText());
  reportUrl_ = Variant(row.Fields("reporturl").toText());
  if (settings.isAlerts()) {
    alertHeader_ = row.Fields("header").toText();
    alertFooter_ = row.Fields("footer").toText();
  } else {
    alertHeader_.clear();
    alertFooter_.clear();
  }
  companyId_ = -1;
  alertId_.clear();
  if (Utilities::CheckFieldExists(row, "company_id")) {
    // An unassigned company is stored as NULL or 0; both mean "no company".
    const Variant& company = row.Fields("company_id");
    if (!company.isNull() && company.toDouble() > 0) companyId_ = company.toInt32();
  }
}

void UserFavorite::InitCopy(const UserFavorite& other) {
  reportId_ = other.reportId_;
  reportTitle_ = other.reportTitle_;
  mappingId_ = other.mappingId_;
  reportFormat_ = other.reportFormat_;
  reportUrl_ = other.reportUrl_;
  companyId_ = other.companyId_;
  isDashboard_ = other.isDashboard_;
  alertId_ = other.alertId_;
  extraDesc_ = other.extraDesc_;
  reportHeader_ = other.reportHeader_;
  alertHeader_ = other.alertHeader_;
  alertFooter_ = other.alertFooter_;
}

bool UserFavorite::shouldBeQueued(Date runDate, bool multipleSchedules, std::int16_t intervalId,
                                  bool ignoreTimes) const {
  return scheduleVerdict(scheduleDetails_, runDate, multipleSchedules, intervalId, ignoreTimes) ==
         ScheduleVerdict::kDue;
}

std::int32_t UserFavorite::reportid() const { return reportId_.toInt32(); }
std::int32_t UserFavorite::mappingID() const { return mappingId_.toInt32(); }

}  // namespace postrix
