// The run's module state: two values shared across subsystems for the life
// of the process. Everything runs on one thread.
#pragma once

#include <string>  // sleepSeconds

namespace postrix {

class Settings;
class Utilities;

// The -sleep value: seconds to pause after each favourite; empty for none.
extern std::string sleepSeconds;
// Set when a file could not be written for lack of access (error 75); the
// send pipeline then reports the access problem instead of sending. Never reset.
extern bool fileAccessError;

// The run's objects, while Main holds them; null before and after.
Settings* getSettings();
Utilities* getUtilities();
void setRunObjects(Settings* settings, Utilities* utilities);

}  // namespace postrix
