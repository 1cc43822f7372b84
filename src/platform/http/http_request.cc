#include "platform/http/http_request.h"

#include <curl/curl.h>
#include <iconv.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "util/failure.h"
#include "util/text.h"

namespace postrix::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The longest wait for socket activity. libcurl on its own wakes an idle
// transfer only once a second, too coarse for time-outs of a few hundred ms.
constexpr long kPollMs = 50;

// Only the first part of a page is searched for a <meta> charset, as browsers do.
constexpr size_t kMetaScanBytes = 4096;

Failure invalidCall() { return {err::kInvalidCall, "Invalid procedure call or argument"}; }

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The send and receive time-outs. libcurl only knows a limit for the whole
// transfer or a minimum speed, while a long report may take as long as it keeps
// sending. The clock runs from the moment a request goes out on an established
// connection; getting there is bounded by the connect time-out instead.
struct ProgressWatch {
  CURL* easy = nullptr;
  long sendMs = 0;
  long receiveMs = 0;
  bool connecting = true;
  bool timedOut = false;
  curl_off_t up = -1;
  curl_off_t down = -1;
  long headerBytes = -1;
  Clock::time_point lastProgress;

  void start(CURL* handle, long send, long receive) {
    *this = ProgressWatch{};
    easy = handle;
    sendMs = send;
    receiveMs = receive;
  }

  void requestGoesOut() {
    connecting = false;
    up = down = -1;
    headerBytes = -1;
    lastProgress = Clock::now();
  }

  // Non-zero aborts the transfer.
  int check(curl_off_t ulTotal, curl_off_t ulNow, curl_off_t dlNow) {
    if (connecting) return 0;
    // Headers are not in the download count, yet they are the first sign of an answer.
    long headers = 0;
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    Clock::time_point now = Clock::now();
    if (ulNow != up || dlNow != down || headers != headerBytes) {
      up = ulNow;
      down = dlNow;
      headerBytes = headers;
      lastProgress = now;
      return 0;
    }
    bool sending = ulTotal > 0 && ulNow < ulTotal;
    long limit = sending ? sendMs : receiveMs;
    if (limit > 0 && now - lastProgress >= std::chrono::milliseconds(limit)) {
      timedOut = true;
      return 1;
    }
    return 0;
  }
};

int onProgress(void* watch, curl_off_t, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
  return static_cast<ProgressWatch*>(watch)->check(ulTotal, ulNow, dlNow);
}

// Called once a connection is ready for a request, after any TLS handshake;
// every redirect passes through here again.
int onRequestReady(void* watch, char*, char*, int, int) {
  static_cast<ProgressWatch*>(watch)->requestGoesOut();
  return CURL_PREREQFUNC_OK;
}

// A redirect to another host resolves and connects anew: that is connect time.
int onResolveStart(void*, void*, void* watch) {
  static_cast<ProgressWatch*>(watch)->connecting = true;
  return 0;
}

curl_socket_t onOpenSocket(void* watch, curlsocktype, curl_sockaddr* address) {
  static_cast<ProgressWatch*>(watch)->connecting = true;
  // Close-on-exec, so programs started while a report loads do not inherit it.
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Where the answer's bytes go, and how far they may grow.
struct AnswerSink {
  CURL* easy = nullptr;
  std::string* body = nullptr;
  std::int64_t maxBytes = 0;  // 0: no limit
  bool reserved = false;
  bool tooLarge = false;
  bool outOfMemory = false;

  void start(CURL* handle, std::string* into, std::int64_t limit) {
    *this = AnswerSink{};
    easy = handle;
    body = into;
    maxBytes = limit;
  }

  // Room for n more bytes. A declared length is taken once, up front (for a
  // compressed answer it is only a floor); past it the buffer grows by half,
  // so a copy never needs more than 2.5 times what is held. Nothing beyond
  // the limit is ever reserved.
  void makeRoom(size_t n) {
    size_t needed = body->size() + n;
    if (!reserved) {
      reserved = true;
      curl_off_t declared = -1;
      curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
      if (declared > 0) growTo(std::max(needed, capped(static_cast<size_t>(declared))));
    }
    if (needed > body->capacity())
      growTo(std::max(needed, capped(body->capacity() + body->capacity() / 2)));
  }

  // std::string::reserve would round a growth of less than double up to
  // double; a fresh string takes exactly what it is asked for.
  void growTo(size_t bytes) {
    std::string bigger;
    bigger.reserve(bytes);
    bigger.append(*body);
    body->swap(bigger);
  }

  size_t capped(size_t bytes) const {
    return maxBytes > 0 ? std::min(bytes, static_cast<size_t>(maxBytes)) : bytes;
  }

  // The bytes taken; anything short of n makes libcurl end the transfer.
  size_t take(const char* data, size_t n) {
    if (maxBytes > 0 && body->size() + n > static_cast<size_t>(maxBytes)) {
      tooLarge = true;
      return 0;
    }
    try {
      makeRoom(n);
      body->append(data, n);
      return n;
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      return 0;
    }
  }
};

size_t onBody(char* data, size_t size, size_t count, void* sink) {
  return static_cast<AnswerSink*>(sink)->take(data, size * count);
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// The value of the first "charset=" in lower-cased text: the parameter of a
// Content-Type header or of a <meta> tag, quoted or not.
std::string charsetIn(std::string_view lower) {
  for (size_t at = lower.find("charset"); at != std::string_view::npos;
       at = lower.find("charset", at + 1)) {
    if (at > 0 && isNameChar(lower[at - 1])) continue;
    size_t i = at + 7;
    while (i < lower.size() && isSpace(lower[i])) ++i;
    if (i >= lower.size() || lower[i] != '=') continue;
    ++i;
    while (i < lower.size() && (isSpace(lower[i]) || lower[i] == '"' || lower[i] == '\'')) ++i;
    size_t end = i;
    while (end < lower.size() && !isSpace(lower[end]) &&
           std::string_view("\"';,>/").find(lower[end]) == std::string_view::npos) {
      ++end;
    }
    if (end > i) return std::string(lower.substr(i, end - i));
  }
  return {};
}

std::string metaCharset(std::string_view body) {
  std::string page = toLower(body.substr(0, kMetaScanBytes));
  for (size_t at = page.find("<meta"); at != std::string::npos; at = page.find("<meta", at + 5)) {
    size_t end = page.find('>', at);
    std::string charset = charsetIn(std::string_view(page).substr(at, end - at));
    if (!charset.empty()) return charset;
  }
  return {};
}

// The start of the first maximal invalid UTF-8 subsequence at or after from
// (the way browsers count them), npos when there is none; end is set to
// where that subsequence ends.
size_t nextInvalidUtf8(std::string_view in, size_t from, size_t& end) {
  size_t n = in.size(), i = from;
  while (i < n) {
    auto c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      // Report pages are mostly ASCII: skip it eight bytes at a time.
      for (++i; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, in.data() + i, 8);
        if (word & 0x8080808080808080ULL) break;
      }
      continue;
    }
    size_t trail = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the first trail byte
    if (c >= 0xC2 && c <= 0xDF) {
      trail = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      trail = 2;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      trail = 3;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
    }
    size_t j = i + 1;
    bool complete = trail > 0;
    for (size_t k = 0; k < trail; ++k, ++j) {
      if (j >= n) {
        complete = false;
        break;
      }
      auto t = static_cast<unsigned char>(in[j]);
      if (t < (k == 0 ? low : 0x80) || t > (k == 0 ? high : 0xBF)) {
        complete = false;
        break;
      }
    }
    if (!complete) {
      end = j;
      return i;
    }
    i = j;
  }
  return std::string_view::npos;
}

// Copies bytes, replacing each maximal invalid UTF-8 subsequence by U+FFFD.
std::string validUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t copied = 0, end = 0;
  for (size_t at = nextInvalidUtf8(in, 0, end); at != std::string_view::npos;
       at = nextInvalidUtf8(in, end, end)) {
    out.append(in.substr(copied, at - copied));
    out.append(kReplacement);
    copied = end;
  }
  out.append(in.substr(copied));
  return out;
}

std::string convert(iconv_t cd, std::string_view in) {
  std::string out(in.size() + in.size() / 2 + 16, '\0');
  size_t used = 0;
  auto room = [&](size_t bytes) {
    if (out.size() - used < bytes) out.resize(out.size() * 2 + bytes);
  };
  char* src = const_cast<char*>(in.data());  // iconv does not write to its input
  size_t srcLeft = in.size();
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    int error = errno;
    used = static_cast<size_t>(dst - out.data());
    if (result != static_cast<size_t>(-1)) continue;
    if (error == E2BIG) {
      room(out.size());
      continue;
    }
    room(kReplacement.size());
    out.replace(used, kReplacement.size(), kReplacement);
    used += kReplacement.size();
    if (error != EILSEQ) break;  // a sequence cut off at the end
    ++src;
    --srcLeft;
  }
  for (;;) {  // the shift back to the initial state of a stateful charset
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    size_t result = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    int error = errno;
    used = static_cast<size_t>(dst - out.data());
    if (result != static_cast<size_t>(-1) || error != E2BIG) break;
    room(out.size());
  }
  out.resize(used);
  return out;
}

}  // namespace

std::string declaredCharset(std::string_view contentType, std::string_view body) {
  std::string lower = toLower(contentType);
  size_t parameters = lower.find(';');
  if (parameters != std::string::npos) {
    std::string charset = charsetIn(std::string_view(lower).substr(parameters));
    if (!charset.empty()) return charset;
  }
  return metaCharset(body);
}

namespace {

// The converter from charset to UTF-8, or none (-1) when the charset is read
// as UTF-8: UTF-8 itself, and any name that is not known.
iconv_t converterFrom(std::string_view charset) {
  const auto none = reinterpret_cast<iconv_t>(-1);
  std::string name = toLower(charset);
  // glibc reads suffixes such as //IGNORE after a name; a page must not choose them.
  bool plain = !name.empty();
  for (char c : name) plain = plain && (isNameChar(c) || c == '.' || c == ':');
  if (!plain || name == "utf-8" || name == "utf8") return none;
  // Pages labelled Latin-1 or ASCII are Windows-1252 in practice (a euro sign
  // or curly quotes at 0x80 to 0x9F), and browsers read them so.
  if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "us-ascii" ||
      name == "ascii")
    name = "windows-1252";
  return iconv_open("UTF-8", name.c_str());
}

}  // namespace

std::string decodeToUtf8(std::string_view bytes, std::string_view charset) {
  iconv_t cd = converterFrom(charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return validUtf8(bytes);
  std::string out = convert(cd, bytes);
  iconv_close(cd);
  return out;
}

struct HttpRequest::Transfer {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  long resolveMs = 30000;
  long connectMs = 30000;
  long sendMs = 30000;
  long receiveMs = 900000;
  std::int64_t maxAnswerBytes = 0;

  bool opened = false;
  std::string method;
  std::string url;
  curl_slist* headers = nullptr;

  long status = 0;
  std::string body;
  // The decoded text when it differs from body; an answer in valid UTF-8 is
  // its own text and is kept once.
  std::string text;
  bool textIsBody = false;
  std::string charset = "utf-8";

  ProgressWatch watch;
  AnswerSink sink;
  char error[CURL_ERROR_SIZE] = {};

  ~Transfer() {
    curl_slist_free_all(headers);
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
  }

  // Frees the answer's memory too: a cached request must not hold on to
  // the last large page for the rest of the run.
  void clearAnswer() {
    status = 0;
    std::string().swap(body);
    std::string().swap(text);
    textIsBody = false;
    charset = "utf-8";
  }

  const std::string& answerText() const { return textIsBody ? body : text; }

  void addHeader(const std::string& line) {
    curl_slist* list = curl_slist_append(headers, line.c_str());
    if (!list) throw std::bad_alloc();
    headers = list;
  }

  void configure(std::string_view sendBody);
  CURLcode perform();
  void decodeAnswer(const char* contentType);
  Failure failureOf(CURLcode code) const;
  Failure tooLarge() const {
    return {kAnswerTooLarge,
            "The answer is larger than " + std::to_string(maxAnswerBytes) + " bytes"};
  }
  static Failure outOfMemory() { return {7, "Out of memory"}; }
};

void HttpRequest::Transfer::configure(std::string_view sendBody) {
  curl_easy_reset(easy);
  error[0] = '\0';
  watch.start(easy, sendMs, receiveMs);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // libcurl's default already turns a POST into a GET on 301, 302 and 303.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  long connectTimeout = resolveMs > 0 && connectMs > 0 ? resolveMs + connectMs : 0;
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
  // A report may keep the connection silent for many minutes; keep-alive probes
  // stop firewalls in between from dropping it.
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "Postrix/" POSTRIX_VERSION);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onRequestReady);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &watch);
  curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, onResolveStart);
  curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, &watch);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &watch);
  sink.start(easy, &body, maxAnswerBytes);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  // Refuses a declared length over the limit before any of it is read.
  if (maxAnswerBytes > 0)
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxAnswerBytes));

  if (method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    return;
  }
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    return;
  }
  // A custom method would survive the redirects that turn a POST into a GET.
  if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  if (method == "POST" || !sendBody.empty()) {
    // The caller's bytes last until send returns, past any 307 that sends them again.
    // Never a null pointer: libcurl would then read the body from stdin.
    const char* bytes = sendBody.empty() ? "" : sendBody.data();
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(sendBody.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bytes);
  }
}

CURLcode HttpRequest::Transfer::perform() {
  CURLMcode added = curl_multi_add_handle(multi, easy);
  if (added != CURLM_OK) throw Failure(err::kCannotOpen, curl_multi_strerror(added));
  int running = 1;
  CURLMcode state = CURLM_OK;
  for (;;) {
    state = curl_multi_perform(multi, &running);
    if (state != CURLM_OK || running == 0) break;
    state = curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    if (state != CURLM_OK) break;
  }
  CURLcode result = CURLE_FAILED_INIT;
  bool done = false;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
      result = message->data.result;
      done = true;
    }
  }
  curl_multi_remove_handle(multi, easy);
  if (!done) throw Failure(err::kCannotOpen, curl_multi_strerror(state));
  return result;
}

Failure HttpRequest::Transfer::failureOf(CURLcode code) const {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return {kTimedOut, "The operation timed out"};
    case CURLE_ABORTED_BY_CALLBACK:
      if (watch.timedOut) return {kTimedOut, "The operation timed out"};
      break;
    case CURLE_COULDNT_CONNECT:
      return {kCannotConnect, "A connection with the server could not be established"};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {kNameNotResolved, "The server name or address could not be resolved"};
    case CURLE_FILESIZE_EXCEEDED:
      return tooLarge();
    case CURLE_WRITE_ERROR:
      if (sink.tooLarge) return tooLarge();
      if (sink.outOfMemory) return outOfMemory();
      break;
    default:
      break;
  }
  return {err::kCannotOpen, error[0] ? std::string(error) : curl_easy_strerror(code)};
}

HttpRequest::HttpRequest() : transfer_(std::make_unique<Transfer>()) {
  initCurlOnce();
  transfer_->multi = curl_multi_init();
  transfer_->easy = curl_easy_init();
  if (!transfer_->multi || !transfer_->easy) {
    throw Failure(err::kCannotOpen, "The HTTP library could not be started");
  }
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::reset() {
  Transfer& t = *transfer_;
  t.opened = false;
  t.clearAnswer();
  curl_slist_free_all(t.headers);
  t.headers = nullptr;
  t.method.clear();
  t.url.clear();
}

void HttpRequest::setTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs) {
  transfer_->resolveMs = resolveMs;
  transfer_->connectMs = connectMs;
  transfer_->sendMs = sendMs;
  transfer_->receiveMs = receiveMs;
}

void HttpRequest::open(std::string_view method, std::string_view url, bool async) {
  Transfer& t = *transfer_;
  t.opened = false;
  t.clearAnswer();
  curl_slist_free_all(t.headers);
  t.headers = nullptr;
  if (async || url.empty() || method.empty()) throw invalidCall();
  t.method = toUpper(method);
  t.url = url;
  // Waiting for "100 Continue" costs a round trip, or a second with servers
  // that never send it.
  t.addHeader("Expect:");
  t.opened = true;
}

void HttpRequest::setRequestHeader(std::string_view name, std::string_view value) {
  if (!transfer_->opened || name.empty()) throw invalidCall();
  // "Name:" would tell libcurl to leave the header out; "Name;" sends it empty.
  std::string line(name);
  line += value.empty() ? ";" : ": " + std::string(value);
  transfer_->addHeader(line);
}

void HttpRequest::send(std::string_view body) {
  Transfer& t = *transfer_;
  if (!t.opened) throw invalidCall();
  t.clearAnswer();
  t.configure(body);
  CURLcode result = t.perform();
  if (result != CURLE_OK) {
    t.clearAnswer();
    throw t.failureOf(result);
  }
  curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.status);
  const char* contentType = nullptr;
  curl_easy_getinfo(t.easy, CURLINFO_CONTENT_TYPE, &contentType);
  try {
    t.decodeAnswer(contentType);
  } catch (const std::bad_alloc&) {
    t.clearAnswer();
    throw Transfer::outOfMemory();
  }
}

void HttpRequest::Transfer::decodeAnswer(const char* contentType) {
  std::string declared = declaredCharset(contentType ? contentType : "", body);
  charset = declared.empty() ? "utf-8" : declared;
  iconv_t cd = converterFrom(charset);
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    text = convert(cd, body);
    iconv_close(cd);
    return;
  }
  size_t end = 0;
  textIsBody = nextInvalidUtf8(body, 0, end) == std::string_view::npos;
  if (!textIsBody) text = validUtf8(body);
}

long HttpRequest::status() const { return transfer_->status; }
const std::string& HttpRequest::responseText() const { return transfer_->answerText(); }
const std::string& HttpRequest::responseBody() const { return transfer_->body; }
const std::string& HttpRequest::responseCharset() const { return transfer_->charset; }

std::string HttpRequest::takeResponseText() {
  Transfer& t = *transfer_;
  std::string text = std::move(t.textIsBody ? t.body : t.text);
  std::string().swap(t.body);
  std::string().swap(t.text);
  t.textIsBody = false;
  return text;
}

void HttpRequest::setMaxAnswerBytes(std::int64_t bytes) { transfer_->maxAnswerBytes = bytes; }

}  // namespace postrix::http
