// What did not go out in this run, kept for the run's end: the exit status
// and the failure digest are made from it.
//
// Every send outcome is counted here once, where it is recorded (Email's
// outcome writes, a saved message resent, a report given up before its
// message was made). Everything runs on one thread.
#pragma once

#include <cstddef>  // counts
#include <string>   // texts
#include <vector>   // the failures

namespace postrix {

struct FailedDelivery {
  std::string item;         // "Report 12", "Saved message /var/.../Failed/12_x.eml"
  std::string subject;      // of the message, when one was made
  std::string recipients;   // as the favourite lists them
  std::string status;       // the status recorded for it
  std::string serverReply;  // the mail server's last reply, verbatim; may be ""
  // The mail component's failure code (smtp_client.h), 0 when the message
  // never reached it.
  int errorCode = 0;
};

class RunFailures {
 public:
  void sent() { ++sent_; }
  void failed(FailedDelivery failure) { failures_.push_back(std::move(failure)); }

  std::size_t sentCount() const { return sent_; }
  const std::vector<FailedDelivery>& failures() const { return failures_; }
  // Whether messages were tried, none went out, and each failed because the
  // mail server could not be used (not reached, TLS failed, login or token
  // refused): the run as a whole failed, not some of its reports.
  bool mailServerUnusable() const;

  // A failure code that means the server could not be used at all.
  static bool isServerFailure(int errorCode);

  void clear();

 private:
  std::size_t sent_ = 0;
  std::vector<FailedDelivery> failures_;
};

// The run's record; Main clears it when a run starts.
RunFailures& runFailures();

}  // namespace postrix
