// Fetching report pages from the web application.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "platform/process.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

constexpr std::string_view kNoRecords = "No Matching Records";

// Characters, not bytes: the text is UTF-8.
size_t characterCount(std::string_view text) {
  // Every byte but a continuation byte (10xxxxxx) starts a character; they
  // are counted eight at a time.
  size_t continuations = 0, i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    continuations += std::popcount(word & ~(word << 1) & 0x8080808080808080ULL);
  }
  for (; i < text.size(); ++i)
    continuations += (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  return text.size() - continuations;
}

// Elapsed seconds as a short decimal number: "0.047", "2".
std::string secondsText(std::chrono::steady_clock::duration elapsed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::chrono::duration<double>(elapsed).count());
  std::string s(text);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

void Utilities::setRequestTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs) {
  requestTimeouts_[0] = resolveMs;
  requestTimeouts_[1] = connectMs;
  requestTimeouts_[2] = sendMs;
  requestTimeouts_[3] = receiveMs;
}

http::HttpRequest* Utilities::getInetObj(bool forceNew) {
  // A fresh request object for every report, as designed; the one cached is
  // wiped rather than rebuilt, which keeps its connections and saves the
  // HTTP library's set-up per report.
  if (forceNew && request_) {
    request_->reset();
    configureRequest(*request_);
    return request_.get();
  }
  if (!request_) {
    try {
      auto request = std::make_unique<http::HttpRequest>();
      configureRequest(*request);
      request_ = std::move(request);
    } catch (const Failure&) {
      Debugger(
          "ERROR Trying to Create a reference to either Microsoft XML Parser or Microsoft "
          "Internet Controls.");
    }
  }
  return request_.get();
}

void Utilities::configureRequest(http::HttpRequest& request) const {
  request.setTimeouts(requestTimeouts_[0], requestTimeouts_[1], requestTimeouts_[2],
                      requestTimeouts_[3]);
  // An endless page, or a small compressed one that inflates without end,
  // would otherwise take all the memory there is.
  request.setMaxAnswerBytes(settings().maxPageBytes());
}

std::string Utilities::getReportBody(std::string_view address, std::string_view formData,
                                     bool isDashboard) {
  const Settings& s = settings();
  bool restarted = false;
  for (;;) {
    auto start = std::chrono::steady_clock::now();
    lastFetchFailure_.clear();
    http::HttpRequest* request = getInetObj(true);
    if (s.debugReport()) {
      Debugger("Posting url: " + std::string(address));
      Debugger("Post data: " + std::string(formData));
    }
    std::string body;
    try {
      if (!request) throw Failure::objectNotSet();
      request->open("POST", address, false);
      request->setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
      request->send(formData);
      body = request->takeResponseText();
      if (!isDashboard && body.find("class=\"errorMessage\"") != std::string::npos) {
        lastFetchFailure_ =
            "ERROR: Discovered tag containing errorMessage class. Not sending the email.";
        Debugger(lastFetchFailure_);
        if (!s.forceSend()) body = kNoRecords;
      }
      if (request->status() != 200) {
        lastFetchFailure_ = "ERROR: Server return code " + std::to_string(request->status()) +
                            ". Not sending the email.";
        Debugger(lastFetchFailure_);
        if (!s.forceSend()) body = kNoRecords;
      }
      Debugger("Returned " + std::to_string(characterCount(body)) + " characters. Took " +
               secondsText(std::chrono::steady_clock::now() - start) + " seconds.");
      if (s.debugReport()) {
        Debugger("Status Code: " + std::to_string(request->status()));
        Debugger("Report Body: \r\n", body);
      }
      return body;
    } catch (const Failure& failure) {
      lastFetchFailure_ = fetchFailureLine(failure, address);
      Debugger(lastFetchFailure_);
      // The designed line says too little to find the cause by.
      Debugger("The request to '" + std::string(address) +
               "' failed: " + std::to_string(failure.number()) + " " + failure.description() + ".");
      // A page over the limit comes from a server that answers; asking it
      // again would only read the same page again.
      bool retry =
          s.reportTimeout() != 0 && !restarted && failure.number() != http::kAnswerTooLarge;
      if (retry) {
        restarted = true;
        restartApplicationPool();
        continue;
      }
      return s.forceSend() ? body : std::string(kNoRecords);
    }
  }
}

namespace {

// The host part of an http(s) address: between "//" and the port, path or query.
std::string hostOf(std::string_view address) {
  size_t start = address.find("//");
  start = start == std::string_view::npos ? 0 : start + 2;
  size_t at = address.find('@', start), end = address.find_first_of(":/?#", start);
  if (at != std::string_view::npos && (end == std::string_view::npos || at < end)) {
    start = at + 1;
    end = address.find_first_of(":/?#", start);
  }
  return std::string(address.substr(start, end == std::string_view::npos ? end : end - start));
}

}  // namespace

// The run log line, and the status recorded, for a request that failed:
// the designed time-out line only for a time-out.
std::string Utilities::fetchFailureLine(const Failure& failure, std::string_view address) const {
  switch (failure.number()) {
    case http::kTimedOut:
      return "ERROR: Connection to the server timed out.";
    case http::kCannotConnect:
      return "ERROR: Could not connect to the server.";
    case http::kNameNotResolved:
      // Which name: the line goes to standard error alone, without the address.
      return "ERROR: The server name '" + escapedControls(hostOf(address)) +
             "' could not be resolved.";
    case http::kAnswerTooLarge:
      return "ERROR: The report page is larger than " +
             std::to_string(settings().maxPageBytes() / (1024 * 1024)) +
             " MB (-maxpagesize). Not sending the email.";
    default:
      return "ERROR: The request to the server failed.";
  }
}

// A failed request often means the web application hangs; its pool is
// restarted once per report by the installation's script, which is not
// waited for. Without the script the request is still tried once more.
void Utilities::restartApplicationPool() {
  std::string script = programFolder_ + "/restartapppool.sh";
  std::string error;
  if (!startDetached(script, {settings().app_pool_name()}, error)) {
    Debugger("ERROR: The application pool could not be restarted: " + error + ".");
    return;
  }
  Debugger("Restart application pool and try again.");
}

}  // namespace postrix
