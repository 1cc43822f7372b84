#include "run/module_state.h"

namespace postrix {

std::string sleepSeconds;
bool fileAccessError = false;

namespace {
Settings* runSettings = nullptr;
Utilities* runUtilities = nullptr;
}  // namespace

Settings* getSettings() { return runSettings; }
Utilities* getUtilities() { return runUtilities; }

void setRunObjects(Settings* settings, Utilities* utilities) {
  runSettings = settings;
  runUtilities = utilities;
}

}  // namespace postrix
