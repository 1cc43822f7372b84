// The time limit of one conversion, and the early stop a signal asks for.
// Every wait in the converter goes through a Deadline, so none can outlast the
// limit or keep a stopped converter from cleaning up.
#pragma once

#include <Poco/Timespan.h>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>

namespace generatepdf {

// A conversion that cannot go on; what() is the reason, for the line on stderr.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// SIGTERM or SIGINT arrived: unwinds so the cleanup runs, then main() re-raises it.
struct Stopped : Failure {
  explicit Stopped(int signal);
  int signal;
};

// Written by the signal handler main() installs; 0 until a signal comes.
extern volatile std::sig_atomic_t stopSignal;

class Deadline {
 public:
  explicit Deadline(int seconds);

  // Throws Stopped after a signal, timedOut(doing) once the limit has passed.
  void check(const std::string& doing) const;
  // The time left, at least a millisecond; throws as check() does.
  Poco::Timespan remaining(const std::string& doing) const;
  // "timed out after N s <doing>"
  Failure timedOut(const std::string& doing) const;

 private:
  int seconds_;
  std::chrono::steady_clock::time_point end_;
};

}  // namespace generatepdf
