// The failure digest: at the end of a sending run with -problemdigest, one
// plain-text message to the System table's emailproblemreports address
// that lists what the run did not send, so that whoever looks after the
// installation hears of it without reading the run log.
//
// One digest per run, whatever the number of failures; none when nothing
// failed. The digest is not a report: its outcome goes to the run log only.
// It is not retried, not saved into "Failed", and not counted in the run's
// failures, so it never changes the exit status. It goes straight to the
// problem address: -oemail and -bcc redirect and copy report messages,
// not this one.
//
// Everything in it that came from the database or a mail server is shown
// escaped (control characters, bidirectional overrides), with every URL
// defanged, each value cut to a bounded length and the list cut after
// kMaxListed failures or kMaxBodyBytes. Everything runs on one thread.
#pragma once

#include <cstddef>      // bounds
#include <string>       // texts
#include <string_view>  // values shown

#include "util/date_time.h"  // the run's start

namespace postrix {

class RunFailures;
class Settings;
class Utilities;

// What the digest says about the run besides its failures.
struct DigestRun {
  Date started;
  std::string programFolder;
  std::string hostName;
};

struct DigestText {
  std::string subject;
  std::string body;  // plain text, LF line ends
};

// Bounds of what one digest holds.
inline constexpr std::size_t kMaxListed = 200;            // failures listed one by one
inline constexpr std::size_t kMaxValueChars = 500;        // characters of one value shown
inline constexpr std::size_t kMaxBodyBytes = 256 * 1024;  // the list stops past this size

// The digest's subject and body for the run's failures (failure_digest_text.cc).
// failures must hold at least one failure.
DigestText composeFailureDigest(const RunFailures& failures, const DigestRun& run);

// A value from outside as the digest shows it: controls escaped, URLs
// defanged, cut to kMaxValueChars characters with a note of its length.
std::string shownValue(std::string_view value);

// At the end of a sending run: when -problemdigest is on and failures holds
// at least one failure, mails the digest to emailproblemreports through the
// run's mail server and logs the outcome. An empty or unusable address is a
// WARNING and nothing is sent; a digest that cannot be sent is one ERROR
// line. Never throws, and leaves failures as it found them.
void sendFailureDigest(const Settings& s, const Utilities& u, const RunFailures& failures,
                       Date started);

}  // namespace postrix
