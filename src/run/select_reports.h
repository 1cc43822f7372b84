// selectReports: what one cycle sends.
//
// Reads the report tables of the system database and queues, in this order,
// every favourite row that is due (or every immediate report, alert
// recipient or exported favourite, as the run's options say), the
// per-company copies, and then the due dashboards. Every decision is written
// to the run log. A run with -emailnow marks each immediate report sent as
// it is queued (unless -dryrun), so nothing is sent twice.
#pragma once

#include <memory>  // the queue

#include "run/report_queue.h"

namespace postrix {

class Settings;
class Utilities;

std::shared_ptr<ReportQueue> selectReports(Settings& settings, Utilities& utilities);

}  // namespace postrix
