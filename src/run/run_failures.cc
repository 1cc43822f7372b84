#include "run/run_failures.h"

#include <algorithm>

namespace postrix {

bool RunFailures::isServerFailure(int errorCode) {
  switch (errorCode) {
    case 3:    // unknown host
    case 4:    // no connection
    case 8:    // other connection error
    case 12:   // TLS failure
    case 111:  // authentication not offered
    case 112:  // unsupported method
    case 113:  // other authentication error
    case 114:  // wrong user or password
    case 117:  // no access token could be had
      return true;
    default:
      return false;
  }
}

bool RunFailures::mailServerUnusable() const {
  return sent_ == 0 && !failures_.empty() &&
         std::all_of(failures_.begin(), failures_.end(),
                     [](const FailedDelivery& f) { return isServerFailure(f.errorCode); });
}

void RunFailures::clear() {
  sent_ = 0;
  failures_.clear();
}

RunFailures& runFailures() {
  static RunFailures failures;
  return failures;
}

}  // namespace postrix
