#include "run/run_cycle.h"

#include <memory>

#include "config/settings.h"
#include "favorites/user_favorite.h"
#include "platform/event_log.h"
#include "run/report_queue.h"
#include "run/select_reports.h"
#include "run/sent_record.h"
#include "util/date_time.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// A scheduled run sends each report once in its period; a run by hand
// (chosen ids, a date or interval of its own, no schedule, an export) is
// neither held back nor recorded. Immediate reports have claims instead.
bool keepsPeriodRecord(const Settings& s) {
  return s.param_id_list().empty() && s.param_dashboard_id_list().empty() &&
         s.repparam_id_list().empty() && !s.iscmdLineDate() && !s.iscmdLineInterval() &&
         !s.IgnoreSchedule() && s.filelocation().empty() && !s.emailNow();
}

// The half hour of the cycle with several send times a day; otherwise the
// day, on which a due favourite is sent by whichever run comes first.
std::string periodOf(const Settings& s) {
  std::string day = sqlDate(s.getDate());
  if (!s.isMultipleSchedules()) return day;
  return day + " interval " + std::to_string(s.thisIntervalStartId());
}

std::string reportKey(const UserFavorite& f) {
  std::string key = std::string(f.isDashboard() ? "dashboard " : "report ") +
                    std::to_string(f.reportid()) + " company " + std::to_string(f.companyID());
  if (!f.alertID().empty()) key += " alert " + f.alertID() + " to " + f.reportEmails();
  return key;
}

class CycleRecord {
 public:
  CycleRecord(Settings& s, Utilities& u)
      : s_(s),
        u_(u),
        kept_(keepsPeriodRecord(s)),
        period_(periodOf(s)),
        record_(u.programFolder() + "/postrix_runs.db") {}

  // False when an earlier run of the period sent it (logged).
  bool shouldSend(const UserFavorite& f) {
    if (!kept_ || s_.sendAgain()) return true;
    try {
      if (!record_.wasSent(period_, reportKey(f))) return true;
    } catch (const Failure& failure) {
      // Better twice than never: without the record the report goes.
      failed(failure, "reading");
      return true;
    }
    u_.Debugger(std::string(f.isDashboard() ? "Dashboard " : "Report ") +
                std::to_string(f.reportid()) + " (company " + std::to_string(f.companyID()) +
                ") was sent in this period (" + period_ +
                ") by an earlier run; it is not sent again (-sendagain sends it anyway).");
    return false;
  }

  void sent(const UserFavorite& f) {
    try {
      if (kept_) record_.recordSent(period_, reportKey(f));
      if (s_.emailNow()) record_.release(f.reportid());
    } catch (const Failure& failure) {
      failed(failure, "recording");
    }
  }

 private:
  void failed(const Failure& failure, const char* doing) {
    std::string line = "ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                       " while " + doing +
                       " what this period sent: a later run may send a report again.";
    u_.Debugger(line);
    writeEventLogWarning(line);
  }

  Settings& s_;
  Utilities& u_;
  bool kept_;
  std::string period_;
  SentRecord record_;
};

}  // namespace

void runCycle(Settings& settings, Utilities& utilities) {
  std::shared_ptr<ReportQueue> queue = selectReports(settings, utilities);
  CycleRecord record(settings, utilities);
  // Every queued favourite is sent, however many: a count narrowed to 16
  // bits would fail before the first one and lose the whole cycle.
  const std::int32_t count = queue->numReports();
  for (std::int32_t i = 0; i < count; ++i) {
    std::shared_ptr<UserFavorite> favorite = queue->getReport(i);
    if (!favorite || !record.shouldSend(*favorite)) continue;
    favorite->send(settings, utilities);
    record.sent(*favorite);
  }
  utilities.Debugger("Finished.");
}

}  // namespace postrix
