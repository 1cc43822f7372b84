// Starting other programs.
#pragma once

#include <string>  // program, arguments, errors
#include <vector>  // arguments

namespace postrix {

// Starts program with args in a session of its own and does not wait for it:
// it outlives the caller, and no zombie is left behind. A program file that
// is not executable is run by /bin/sh. Returns false, with the reason in
// error, when it cannot be started.
bool startDetached(const std::string& program, const std::vector<std::string>& args,
                   std::string& error);

// How a program run to its end, or to its time limit, went.
struct RunOutcome {
  bool started = false;   // false: error says why
  bool timedOut = false;  // it passed the limit and its whole process group was ended
  int exitStatus = -1;    // its exit status when it ended by itself; 128 + n for signal n
  std::string error;
  std::string errorTail;  // the last 2 KB it wrote to its standard error
};

// Runs program (looked up on PATH when it has no "/") with args in a process
// group of its own, its standard output to /dev/null, and waits for it, up to
// limitSeconds when that is above 0. A program that passes the limit is
// ended with its whole group (SIGTERM, then SIGKILL a second later), so that
// no helper it started stays behind to hold up later runs.
RunOutcome runWithTimeLimit(const std::string& program, const std::vector<std::string>& args,
                            double limitSeconds);

}  // namespace postrix
