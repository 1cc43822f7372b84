#include "config/settings.h"

#include <cassert>

#include "platform/clock.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {

Settings::Settings(const Clock& clock, std::string programFolder)
    : clock_(clock), programFolder_(std::move(programFolder)), getDate_(clock.now().datePart()) {}

Utilities& Settings::utilities() const {
  assert(utilities_ && "setUtilities must be called before the Settings are used");
  return *utilities_;
}

void Settings::log(std::string_view message) const { utilities().Debugger(message); }

void Settings::log(std::string_view designed, std::string_view value) const {
  utilities().Debugger(designed, value);
}

std::string Settings::senderName() const { return replaceAll(senderName_, "\"", ""); }

std::string Settings::getSuppresString(int index) const {
  if (index < 0 || index >= static_cast<int>(suppressStrings_.size())) return "";
  return suppressStrings_[static_cast<size_t>(index)];
}

}  // namespace postrix
