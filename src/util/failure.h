// Failure: the one error type of Postrix.
//
// A failure carries the error number and description that the system's
// messages and decisions depend on (the numbers of the original Windows
// components: 94 for a NULL read as text, -2147217865 for a missing table,
// ...). Failures are thrown inside the system and caught only where a trap is
// placed; every library exception is translated into one at the platform layer.
#pragma once

#include <stdexcept>  // std::runtime_error
#include <string>     // description text

namespace postrix {

// The error numbers the system tests for.
namespace err {
inline constexpr long kInvalidCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kNoCurrentRecord = 3021;
inline constexpr long kPathFileAccess = 75;
inline constexpr long kDeviceIO = 57;
inline constexpr long kDatabaseLocked = 3050;  // "Could not lock file."
inline constexpr long kObjectNotSet = 91;
inline constexpr long kInvalidUseOfNull = 94;
inline constexpr long kFieldNotFound = 3265;
inline constexpr long kObjectClosed = 3704;
inline constexpr long kCannotOpen = -2147467259;     // 0x80004005
inline constexpr long kSyntaxError = -2147217900;    // 0x80040E14
inline constexpr long kUnknownColumn = -2147217904;  // 0x80040E10
inline constexpr long kTableNotFound = -2147217865;  // 0x80040E37
}  // namespace err

class Failure : public std::runtime_error {
 public:
  Failure(long number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  long number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

  // The failures of the run-time library, with the descriptions it gives them.
  static Failure overflow() { return {err::kOverflow, "Overflow"}; }
  static Failure typeMismatch() { return {err::kTypeMismatch, "Type mismatch"}; }
  static Failure invalidUseOfNull() { return {err::kInvalidUseOfNull, "Invalid use of Null"}; }
  static Failure pathFileAccess() { return {err::kPathFileAccess, "Path/File access error"}; }
  static Failure objectNotSet() {
    return {err::kObjectNotSet, "Object variable or With block variable not set"};
  }
  static Failure fieldNotFound() {
    return {err::kFieldNotFound,
            "Item cannot be found in the collection corresponding to the requested name or "
            "ordinal."};
  }

 private:
  long number_;
  std::string description_;
};

// Thrown where the design ends the program at once (a system database that
// cannot be opened, a one-off maintenance command that has done its work).
// Only the entry point catches it; the status becomes the process exit status.
struct ProgramEnd {
  int status;
};

// Exit statuses of the process.
namespace exit_status {
inline constexpr int kOk = 0;
inline constexpr int kNoSystemDatabase = 1;
inline constexpr int kRejectedCommandLine = 2;
// Another run of the installation kept the run lock past -lockwait.
inline constexpr int kLockNotHad = 3;
// -configure was started without a terminal to show its form on.
inline constexpr int kNoTerminal = 4;
// The program folder (run log, Sent, Failed, the lock) cannot be written.
inline constexpr int kCannotStart = 5;
// With -failstatus: a report or saved message of the run failed.
inline constexpr int kSomeFailed = 6;
// Messages were tried and none went out: the mail server could not be
// reached, refused the login, or no access token could be had for it.
inline constexpr int kMailServerUnusable = 7;
}  // namespace exit_status

}  // namespace postrix
