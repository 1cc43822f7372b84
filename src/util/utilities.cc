#include "util/utilities.h"

#include <algorithm>
#include <cassert>
#include <iostream>

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "run/module_state.h"
#include "run/run_log.h"
#include "util/text.h"

namespace postrix {

Utilities::Utilities(const Clock& clock, std::string programFolder)
    : clock_(clock), programFolder_(std::move(programFolder)) {}

Utilities::~Utilities() = default;

Settings& Utilities::settings() const {
  assert(settings_ && "setSettings must be called before the Utilities are used");
  return *settings_;
}

void Utilities::Debugger(std::string_view message) const {
  reportOutside(escapedControls(message));
  if (!settings().isDebug()) return;
  RunLog log(programFolder_ + "/" + std::string(Settings::LOG_FILE));
  unwritten(log, log.append(message, clock_.now()), escapedControls(message));
}

void Utilities::Debugger(std::string_view designed, std::string_view value) const {
  reportOutside(escapedControls(std::string(designed)) + escapedControls(value));
  if (!settings().isDebug()) return;
  RunLog log(programFolder_ + "/" + std::string(Settings::LOG_FILE));
  unwritten(log, log.append(designed, value, clock_.now()),
            escapedControls(std::string(designed)) + escapedControls(value));
}

// An entry the run log could not take goes to the system log instead, after
// one line there that says why, so that nothing of the run is lost unseen.
void Utilities::unwritten(const RunLog& log, RunLog::Outcome outcome,
                          const std::string& entry) const {
  if (outcome == RunLog::Outcome::kWritten) return;
  if (outcome == RunLog::Outcome::kAccessDenied) fileAccessError = true;
  if (!runLogFailed_)
    writeEventLogWarning("The run log '" + log.path() + "' cannot be written (" + log.lastError() +
                         "); this run's entries follow here.");
  runLogFailed_ = true;
  writeEventLogWarning(entry);
}

// Errors and warnings also go where a scheduler and its administrator look:
// standard error (cron mails it, the journal keeps it) and the system log,
// even with -nolog. The rest of the run stays in the run log.
void Utilities::reportOutside(const std::string& entry) const {
  std::string_view text = entry;
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  bool error = startsWith(text, "ERROR"), warning = startsWith(text, "WARNING");
  if (!error && !warning) return;
  if (!screenInUse_) std::cerr << "postrix: " << entry << "\n";
  if (error)
    writeEventLogError(entry);
  else
    writeEventLogWarning(entry);
}

int Utilities::getIntervalId(Date time) {
  // Whole seconds of the day, so that a value a hair below a half hour does
  // not fall into the previous interval through rounding.
  return time.hour() * 2 + (time.minute() >= 30 ? 1 : 0);
}

}  // namespace postrix
