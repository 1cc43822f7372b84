// The entry point of a run and its small helpers.
//
// Main creates the run's Settings and Utilities, hands them the command line,
// and chooses the run mode: resend the saved failed messages (-sendfailed),
// send saved messages an operator picks (-sendmessage), or the ordinary run
// of one cycle, or one cycle per half hour with multiple send times. What a
// mode does with each message or cycle is given by RunModes, so the entry
// point stays the same whatever this build can send. Everything runs on one
// thread.
#pragma once

#include <functional>   // the run modes
#include <string>       // paths, command line
#include <string_view>  // inputs
#include <vector>       // chosen files

#include "util/variant.h"  // firstNonEmpty

namespace postrix {

class Clock;
class Settings;
class Utilities;

// What the run modes do. An empty member means this build cannot do it:
// Main then says so in the run log and ends normally.
struct RunModes {
  // One selection-and-send cycle.
  std::function<void(Settings&, Utilities&)> runCycle;
  // Sends one saved message file, by its full path.
  std::function<void(Settings&, Utilities&, const std::string& path)> sendEmailMessage;
  // Lets the operator pick saved messages, starting in the failed folder:
  // one full path; or the folder followed by bare names; or nothing.
  std::function<std::vector<std::string>(Settings&, Utilities&)> chooseMessageFiles;
};

// The modes of this build (run_modes.cc): the selection-and-send cycle,
// resending saved messages, and picking them in a terminal form.
RunModes defaultRunModes();

// Runs the program on one command line (the arguments after the program
// name, as one text). Returns the process exit status (exit_status in
// util/failure.h): 0 done; 1 the system database could not be opened or
// used; 2 the command line was rejected; 3 the run lock was not had in
// time; 4 no terminal for -configure; 5 the program folder cannot be
// written; 6 with -failstatus, something of the run failed; 7 messages
// were tried and the mail server took none of them.
int Main(std::string_view commandLine, const RunModes& modes, const Clock& clock,
         const std::string& programFolder);

// The path with a "/" appended unless it already ends with one.
std::string withTrailingBackslash(std::string_view folder);
// The first value as text when it is not "", otherwise the second as text.
std::string firstNonEmpty(const Variant& first, const Variant& second);

}  // namespace postrix
