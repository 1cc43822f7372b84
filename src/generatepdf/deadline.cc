#include "deadline.h"

#include <algorithm>

namespace generatepdf {

volatile std::sig_atomic_t stopSignal = 0;

Stopped::Stopped(int signal)
    : Failure("stopped by signal " + std::to_string(signal)), signal(signal) {}

Deadline::Deadline(int seconds)
    : seconds_(seconds), end_(std::chrono::steady_clock::now() + std::chrono::seconds(seconds)) {}

void Deadline::check(const std::string& doing) const {
  if (stopSignal) throw Stopped(stopSignal);
  if (std::chrono::steady_clock::now() >= end_) throw timedOut(doing);
}

Poco::Timespan Deadline::remaining(const std::string& doing) const {
  check(doing);
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      end_ - std::chrono::steady_clock::now());
  return Poco::Timespan(std::max<Poco::Timespan::TimeDiff>(left.count(), 1000));
}

Failure Deadline::timedOut(const std::string& doing) const {
  return Failure("timed out after " + std::to_string(seconds_) + " s " + doing);
}

}  // namespace generatepdf
