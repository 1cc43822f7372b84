// Immediate reports that a run claimed and then never sent, because it died.
#include <string>

#include "config/settings.h"
#include "platform/db/connection.h"
#include "platform/event_log.h"
#include "run/report_selection.h"
#include "util/utilities.h"

namespace postrix {

SentRecord& ReportSelection::sentRecord() {
  if (!sentRecord_)
    sentRecord_ = std::make_unique<SentRecord>(u_.programFolder() + "/postrix_runs.db");
  return *sentRecord_;
}

// Runs hold the lock, so a claim still open now was made by a run that
// ended before its send was over. Its rows are queued again; a claim whose
// row is gone from emailReports is let go.
void ReportSelection::resumeClaims() {
  std::vector<std::int32_t> ids;
  try {
    ids = sentRecord().openClaims();
  } catch (const Failure& failure) {
    log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
        " while reading the immediate reports earlier runs claimed.");
    return;
  }
  if (ids.empty()) return;
  std::string list;
  for (std::int32_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
  db::Recordset rows =
      systemConnection().Execute("SELECT * FROM emailReports WHERE report_ID IN (" + list + ")");
  std::set<std::int32_t> found;
  for (; !rows.eof(); rows.MoveNext()) {
    std::int32_t id = static_cast<std::int32_t>(rows.Fields("report_id").toDouble());
    log("Immediate report " + std::to_string(id) +
        " was claimed by an earlier run that ended before sending it; it is sent now.");
    immediateRow(rows);
    found.insert(id);
    resumed_.insert(id);
  }
  try {
    for (std::int32_t id : ids)
      if (!found.count(id)) sentRecord().release(id);
  } catch (const Failure& failure) {
    log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
        " while letting go of a claim whose immediate report is gone.");
  }
}

// A claim that cannot be written still lets the report go: this run sends
// it; only a crash before that would lose it, and the line says so.
void ReportSelection::claimImmediate(std::int32_t reportId) {
  try {
    sentRecord().claim(reportId);
  } catch (const Failure& failure) {
    std::string line = "ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                       " while claiming immediate report " + std::to_string(reportId) +
                       ": should this run end before sending it, it is not sent.";
    log(line);
    writeEventLogWarning(line);
  }
}

}  // namespace postrix
