// HttpRequest: one synchronous HTTP request, shaped like the XML HTTP request
// object the system was designed around.
//
// setTimeouts, open, setRequestHeader, send, then status, responseText and
// responseBody. send blocks until the whole answer is in, or a time-out or
// the size limit (setMaxAnswerBytes) ends it:
//   - resolve and connect: the name lookup and the connection together must
//     finish within resolve + connect milliseconds;
//   - send: the request body must make progress at least every send ms;
//   - receive: from the end of the request, the answer must make progress at
//     least every receive ms (a slow report that keeps sending never times out).
// Redirects are followed as that object did: at most 10, over http and https
// only; 301, 302 and 303 turn a POST into a GET, 307 and 308 repeat it.
// https is verified against the system's certificate store.
//
// Every failure of open or send (refused, unresolvable, timed out, TLS, an
// answer over the size limit) is a Failure with one of the numbers below,
// other transport failures -2147467259; its description says what happened.
// One thread uses a request.
//
// Memory: an answer that is valid UTF-8 is kept once, as both its bytes and
// its text; room is taken from a declared Content-Length up front, and an
// answer of unknown length grows by half at a time rather than doubling.
#pragma once

#include <cstdint>      // sizes
#include <memory>       // the transfer state
#include <string>       // bodies, headers
#include <string_view>  // inputs

namespace postrix::http {

// The failure numbers of send, those the request object of the design gave.
inline constexpr long kTimedOut = -2147012894;
inline constexpr long kCannotConnect = -2147012867;  // refused or unreachable
inline constexpr long kNameNotResolved = -2147012889;
inline constexpr long kAnswerTooLarge = -2147012712;  // over setMaxAnswerBytes

class HttpRequest {
 public:
  HttpRequest();
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Forgets the last request and its answer, so that the object serves as a
  // new one would; open connections are kept for the next request.
  void reset();
  // Time-outs in milliseconds; the defaults are 30000, 30000, 30000, 900000.
  void setTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs);
  // The largest answer send reads, in bytes after any content encoding is
  // undone (so a small compressed answer cannot inflate past it); 0, the
  // default, for no limit. A larger answer fails send with kAnswerTooLarge
  // as soon as it shows: at once when its declared length is larger, else
  // when the bytes read pass the limit. Kept across reset.
  void setMaxAnswerBytes(std::int64_t bytes);
  // Starts a new request; only synchronous requests (async false) exist.
  // Fails with 5 (invalid call) for an asynchronous one or an empty address.
  void open(std::string_view method, std::string_view url, bool async = false);
  void setRequestHeader(std::string_view name, std::string_view value);
  // Sends the request with body (empty for none) and reads the answer.
  void send(std::string_view body = {});

  // The HTTP status of the last answer (after redirects); 0 before one.
  long status() const;
  // The answer as UTF-8 text, decoded from the charset the answer declares:
  // the Content-Type header's charset, else a <meta> charset in the page,
  // else UTF-8. Bytes that are not valid in that charset become U+FFFD.
  const std::string& responseText() const;
  // The answer's bytes as received.
  const std::string& responseBody() const;
  // The charset responseText was decoded from, lower-cased ("utf-8" by default).
  const std::string& responseCharset() const;
  // Hands over responseText without copying it; afterwards responseText and
  // responseBody are empty until the next answer (status and charset stay).
  std::string takeResponseText();

 private:
  struct Transfer;
  std::unique_ptr<Transfer> transfer_;
};

// The charset an answer declares, lower-cased: the Content-Type header's
// charset parameter, else the first <meta> charset within the page's first
// 4096 bytes, else "" (none declared).
std::string declaredCharset(std::string_view contentType, std::string_view body);

// bytes decoded from charset into UTF-8; an unknown charset is read as UTF-8.
// Invalid input becomes U+FFFD.
std::string decodeToUtf8(std::string_view bytes, std::string_view charset);

}  // namespace postrix::http
