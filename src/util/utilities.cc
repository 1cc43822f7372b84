#include "util/utilities.h"

#include <cassert>

#include "config/settings.h"
#include "platform/clock.h"
#include "run/module_state.h"
#include "run/run_log.h"

namespace postrix {

Utilities::Utilities(const Clock& clock, std::string programFolder)
    : clock_(clock), programFolder_(std::move(programFolder)) {}

Utilities::~Utilities() = default;

Settings& Utilities::settings() const {
  assert(settings_ && "setSettings must be called before the Utilities are used");
  return *settings_;
}

void Utilities::Debugger(std::string_view message) const {
  if (!settings().isDebug()) return;
  RunLog log(programFolder_ + "/" + std::string(Settings::LOG_FILE));
  if (log.append(message, clock_.now()) == RunLog::Outcome::kAccessDenied) fileAccessError = true;
}

void Utilities::Debugger(std::string_view designed, std::string_view value) const {
  if (!settings().isDebug()) return;
  RunLog log(programFolder_ + "/" + std::string(Settings::LOG_FILE));
  if (log.append(designed, value, clock_.now()) == RunLog::Outcome::kAccessDenied)
    fileAccessError = true;
}

int Utilities::getIntervalId(Date time) {
  // Whole seconds of the day, so that a value a hair below a half hour does
  // not fall into the previous interval through rounding.
  return time.hour() * 2 + (time.minute() >= 30 ? 1 : 0);
}

void Utilities::loadForm() {
  Debugger("Loading configuration interface.");
  Debugger("The mail settings form is not available in this build of Postrix.");
}

}  // namespace postrix
