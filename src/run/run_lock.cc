#include "run/run_lock.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "config/settings.h"
#include "platform/clock.h"
#include "util/date_time.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(200);

std::string minutesText(double minutes) {
  std::string text = std::to_string(minutes);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

bool RunLock::take(const Settings& settings, Utilities& utilities) {
  try {
    lock_ = std::make_unique<FileLock>(utilities.programFolder() + "/postrix.lock");
    const double minutes = settings.lockWaitMinutes();
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(minutes * 60000));
    while (!lock_->tryLock()) {
      // What the holder wrote is another process's text: never raw in the log.
      std::string holder = escapedControls(lock_->holder());
      if (holder.empty()) holder = "a run that has not said who it is yet";
      if (std::chrono::steady_clock::now() >= deadline) {
        std::string line = "ERROR: Another run (" + holder + ") still holds '" + lock_->path() +
                           "' after " + minutesText(minutes) +
                           " minutes (-lockwait); this run ends without sending.";
        utilities.Debugger(line);
        return false;
      }
      if (!waited_)
        utilities.Debugger("Another run (" + holder + ") holds '" + lock_->path() +
                           "'; waiting up to " + minutesText(minutes) + " minutes for it to end.");
      waited_ = true;
      std::this_thread::sleep_for(kPoll);
    }
  } catch (const Failure& failure) {
    unusable_ = true;
    utilities.Debugger("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                       "; this run ends without sending.");
    return false;
  }
  lock_->describeHolder("process " + std::to_string(getpid()) + ", started " +
                        sqlDateTime(utilities.clock().now()));
  if (waited_) utilities.Debugger("The other run has ended; this run goes on.");
  return true;
}

}  // namespace postrix
