#include "run/run_cycle.h"

#include <memory>

#include "favorites/user_favorite.h"
#include "run/report_queue.h"
#include "run/select_reports.h"
#include "util/utilities.h"

namespace postrix {

void runCycle(Settings& settings, Utilities& utilities) {
  std::shared_ptr<ReportQueue> queue = selectReports(settings, utilities);
  // Every queued favourite is sent, however many: a count narrowed to 16
  // bits would fail before the first one and lose the whole cycle.
  const std::int32_t count = queue->numReports();
  for (std::int32_t i = 0; i < count; ++i) {
    std::shared_ptr<UserFavorite> favorite = queue->getReport(i);
    if (favorite) favorite->send(settings, utilities);
  }
  utilities.Debugger("Finished.");
}

}  // namespace postrix
