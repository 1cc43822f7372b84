// Clock: where the run reads the time of day. The system reads the clock
// through this seam only, so tests can run a day in a moment.
#pragma once

#include "util/date_time.h"  // Date

namespace postrix {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time, to the second.
  virtual Date now() const = 0;
};

// The machine's clock, in local time.
class SystemClock : public Clock {
 public:
  Date now() const override;
};

}  // namespace postrix
