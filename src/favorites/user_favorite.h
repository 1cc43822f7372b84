// UserFavorite: one report or dashboard that may be mailed in this run.
//
// Selection fills one from a row of UserReports, emailReports or an alert
// definition (Init), or field by field from a Dashboards row (the setters),
// asks whether it is due (shouldBeQueued) and queues it; per-company and
// per-recipient copies start as InitCopy of the favourite they copy. The
// object is plain data; the queue shares it with whoever still holds it.
#pragma once

#include <cstdint>      // ids
#include <string>       // texts
#include <string_view>  // setters

#include "util/date_time.h"  // run date
#include "util/variant.h"    // loosely typed fields

namespace postrix {

class Settings;
class Utilities;
namespace db {
class Recordset;
}

class UserFavorite {
 public:
  // Fills the favourite from the current row, read by column name, and the
  // run's settings: the -format override wins over the row's format; alert
  // header and footer are read only in an alert run; extra_desc,
  // report_header and company_id only when the row has them (exact names).
  // A null or non-numeric report_id or mapping_id, or a null text column
  // that must be read, fails (94 or 13); Init traps nothing.
  void Init(const db::Recordset& row, const Settings& settings);
  // Takes over the fields a per-company or per-recipient copy shares with
  // other: ids, title, format, URL, company, dashboard flag, alert id, extra
  // description, report header, alert header and footer. Recipients,
  // schedule, report extra description and dashboard filter stay as they are.
  void InitCopy(const UserFavorite& other);

  // Whether the schedule makes the favourite due on runDate (Settings::getDate)
  // in the interval; see schedule.h.
  bool shouldBeQueued(Date runDate, bool multipleSchedules, std::int16_t intervalId,
                      bool ignoreTimes) const;

  // Carries the favourite to its recipients, or to a report file in an
  // export run (-location): fetches the page, decides whether it is worth
  // sending, embeds its charts, attaches by format and sends. Every outcome
  // goes to the run log, Email_Log and the status columns; a failure ends
  // this favourite only and is logged. Pauses for -sleep after sending.
  void send(Settings& settings, Utilities& utilities);

  // The integer getters convert the stored value (an empty one reads 0).
  std::int32_t reportid() const;
  std::int32_t mappingID() const;
  std::int32_t companyID() const { return companyId_; }
  std::string reportUrl() const { return reportUrl_.toText(); }
  std::string reportFormat() const { return reportFormat_.toText(); }
  std::string reportEmails() const { return reportEmails_.toText(); }
  const std::string& reportTitle() const { return reportTitle_; }
  const std::string& extra_desc() const { return extraDesc_; }
  const std::string& report_header() const { return reportHeader_; }
  const std::string& rep_header() const { return alertHeader_; }
  const std::string& rep_footer() const { return alertFooter_; }
  const std::string& alertID() const { return alertId_; }
  bool isDashboard() const { return isDashboard_; }
  // Read by the send pipeline and the URL builder.
  const std::string& reportExtraDesc() const { return reportExtraDesc_; }
  const std::string& dashboardFilter() const { return dashboardFilter_; }
  const std::string& scheduleDetails() const { return scheduleDetails_; }

  void setReportURL(const Variant& url) { reportUrl_ = url; }
  void setReportFormat(const Variant& format) { reportFormat_ = format; }
  void setReportID(const Variant& id) { reportId_ = id; }
  void setMappingID(const Variant& id) { mappingId_ = id; }
  void setAlertID(std::string_view id) { alertId_ = id; }
  void setReportTitle(std::string_view title) { reportTitle_ = title; }
  void setDashboardFilter(std::string_view filter) { dashboardFilter_ = filter; }
  void setExtraDesc(std::string_view text) { extraDesc_ = text; }
  void setReportExtraDesc(std::string_view text) { reportExtraDesc_ = text; }
  void setScheduleDetails(std::string_view schedule) { scheduleDetails_ = schedule; }
  void setReportEmails(std::string_view emails) { reportEmails_ = Variant(emails); }
  void setCompanyID(std::int32_t id) { companyId_ = id; }
  void setIsDashboard(bool isDashboard) { isDashboard_ = isDashboard; }

 private:
  Variant reportId_, mappingId_, reportUrl_, reportFormat_, reportEmails_;
  std::int32_t companyId_ = -1;
  std::string scheduleDetails_, alertHeader_, alertFooter_, extraDesc_, reportHeader_;
  std::string reportTitle_, reportExtraDesc_, dashboardFilter_, alertId_;
  bool isDashboard_ = false;
};

}  // namespace postrix
