// One run at a time per installation.
//
// A run that sends anything (the ordinary run, -emailnow, -alerts, exports,
// -sendfailed, -sendmessage) holds an exclusive lock on postrix.lock in the
// program folder from here to its end. A second run waits for it, up to
// -lockwait minutes, and then gives up, saying who holds it.
#pragma once

#include <memory>  // the lock

#include "platform/file_lock.h"

namespace postrix {

class Settings;
class Utilities;

class RunLock {
 public:
  // Takes the lock, waiting when another run holds it. False when the wait
  // ran out or the lock file cannot be used; the run log says why.
  bool take(const Settings& settings, Utilities& utilities);
  // Whether another run held the lock when this one asked for it.
  bool waited() const { return waited_; }
  // Whether take failed because the lock file itself cannot be used (the
  // program folder cannot be written), not because another run held it.
  bool unusable() const { return unusable_; }

 private:
  std::unique_ptr<FileLock> lock_;
  bool waited_ = false, unusable_ = false;
};

}  // namespace postrix
