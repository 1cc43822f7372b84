#include "platform/smtp/smtp_client.h"

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/DNS.h>
#include <Poco/Net/HostEntry.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "platform/smtp/host_name.h"
#include "platform/smtp/sasl.h"
#include "platform/smtp/wire_writer.h"
#include "util/text.h"

namespace postrix::smtp {

namespace {

using Clock = std::chrono::steady_clock;

// Servers answer in lines of at most 512 bytes; this only stops a broken one
// from filling memory.
constexpr size_t kMaxReplyBytes = 64 * 1024;
constexpr size_t kSendChunk = 64 * 1024;
// The slowest pace a DATA phase may keep before it counts as stalled for good.
constexpr size_t kDataBytesPerSecond = 64 * 1024;
// What a server's XOAUTH2 refusal may add to the error description.
constexpr size_t kMaxReasonBytes = 200;
// QUIT is a courtesy; a server slow to say goodbye does not hold us up.
constexpr int kQuitSeconds = 5;

std::string describe(int code) {
  std::string text = errorText(code);
  return text.empty() ? "Unknown connection error" : text;
}

// How a session step failed. A fatal failure leaves the connection unusable;
// otherwise the server is still listening and deserves a QUIT.
struct Abort {
  explicit Abort(int failure, bool broken = true, std::string tlsReason = {})
      : code(failure), fatal(broken), sslError(std::move(tlsReason)) {}
  int code;
  bool fatal;
  std::string sslError;
  std::string description;  // instead of the code's usual text, when set
};

Abort refusal(int code) { return Abort{code, false}; }

struct Reply {
  int code = 0;
  std::vector<std::string> lines;
  std::string text;  // the lines joined by CRLF

  bool positive() const { return code >= 200 && code < 300; }
  // What follows the code on the first line, e.g. a SASL challenge.
  std::string argument() const {
    return lines.empty() || lines.front().size() < 4 ? "" : lines.front().substr(4);
  }
};

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

// A line break or NUL inside a command argument would end the command early
// and let the rest of the text be read as a command of its own.
bool holdsLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

constexpr const char* kLineBreakInArgument =
    "A command argument holds a line break or NUL character and is not sent";

// The address alone: "Name <a@b>" becomes "a@b". Empty when nothing usable.
std::string bareAddress(std::string_view address) {
  size_t open = address.rfind('<');
  if (open != std::string_view::npos) {
    size_t close = address.find('>', open);
    if (close != std::string_view::npos) address = address.substr(open + 1, close - open - 1);
  }
  return trim(address);
}

// Writing to a connection the server has closed raises SIGPIPE, which would
// end the whole program. Neither Poco nor OpenSSL asks the kernel not to, so
// the signal is held back on this thread while a session talks, and swallowed
// if it came.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t pipe = pipeSet();
    pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
    wasBlocked_ = sigismember(&previous_, SIGPIPE) == 1;
  }
  ~SigpipeBlock() {
    if (wasBlocked_) return;
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipe = pipeSet();
      timespec now{};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  static sigset_t pipeSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
  }
  sigset_t previous_;
  bool wasBlocked_ = false;
};

// The reason OpenSSL gave for refusing the last certificate on this thread.
// OpenSSL's own message only says "certificate verify failed".
thread_local std::string tlsVerifyFailure;

int noteVerifyFailure(int ok, X509_STORE_CTX* store) {
  if (!ok) tlsVerifyFailure = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
  return ok;
}

// One context per connection: the host name to check is part of it. Our own
// verify callback replaces the one Poco installs, which would hand refused
// certificates to SSLManager's handler, by default a console prompt.
Poco::Net::Context::Ptr tlsContext(const std::string& host, bool insecure) {
  static std::once_flag once;
  std::call_once(once, [] { Poco::Net::initializeSSL(); });

  using Poco::Net::Context;
  Context::Params params;
  params.verificationMode = insecure ? Context::VERIFY_NONE : Context::VERIFY_RELAXED;
  params.loadDefaultCAs = !insecure;
  Context::Ptr context = new Context(Context::TLS_CLIENT_USE, params);
  // OpenSSL checks the name below; Poco's second check would skip loopback names.
  context->enableExtendedCertificateVerification(false);
  SSL_CTX* raw = context->sslContext();
  if (insecure) {
    SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, nullptr);
    return context;
  }
  SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, noteVerifyFailure);
  X509_VERIFY_PARAM* check = SSL_CTX_get0_param(raw);
  Poco::Net::IPAddress ip;
  // The canonical form: OpenSSL does not read every spelling the resolver accepts.
  bool named = Poco::Net::IPAddress::tryParse(host, ip)
                   ? X509_VERIFY_PARAM_set1_ip_asc(check, ip.toString().c_str()) == 1
                   : X509_VERIFY_PARAM_set1_host(check, host.c_str(), host.size()) == 1;
  // Without a name to check, any trusted certificate would do.
  if (!named) throw Poco::Net::SSLContextException("cannot check certificates for " + host);
  return context;
}

}  // namespace

std::string errorText(int code) {
  switch (code) {
    case 3:
      return "No machine under this name";
    case 4:
      return "No such IP or SMTP service is not available. Check that the port is open";
    case 5:
      return "Timeout occurred";
    case 6:
      return "Connection aborted by the server";
    case 8:
      return "Unknown connection error";
    case 12:
      return "SSL error";
    case 111:
      return "Authentication is not supported";
    case 112:
      return "Unsupported authentication method";
    case 113:
      return "Unknown authentication error";
    case 114:
      return "Wrong password or username";
    case 115:
      return "Local machine name not resolved";
    case 116:
      return "Unknown SMTP error";
    case 117:
      return "No access token could be had for the mail server";
    case 121:
      return "At least one sender and recipient must be specified";
    case 122:
      return "The sender specified is not allowed by this mail server";
    case 123:
      return "One or more recipients were rejected by the mail server";
    default:
      return "";
  }
}

struct SmtpClient::Session {
  Session(SmtpClient& client, const SmtpOptions& settings) : owner(client), options(settings) {}

  SmtpClient& owner;
  SmtpOptions options;
  Poco::Net::StreamSocket socket;
  bool open = false;
  bool tls = false;
  std::string inbox;  // received, not yet read as lines
  std::set<std::string> extensions;
  std::set<std::string> authMechanisms;
  bool announced = false;  // onConnected was raised

  void log(const std::string& line) {
    if (owner.onProtocolLine) owner.onProtocolLine(line);
  }

  // The TCP connection, to the first address of the host that takes it.
  void connectTcp() {
    if (options.host.empty()) throw Abort{3};
    if (options.port < 1 || options.port > 65535) throw Abort{4};
    std::vector<Poco::Net::IPAddress> addresses;
    try {
      Poco::Net::IPAddress ip;
      if (Poco::Net::IPAddress::tryParse(options.host, ip)) {
        addresses.push_back(ip);
      } else {
        addresses = Poco::Net::DNS::hostByName(options.host).addresses();
      }
    } catch (const Poco::Exception&) {
      throw Abort{3};
    }
    if (addresses.empty()) throw Abort{3};
    // IPv4 first: a mail relay on a dual-stack name rarely listens on both.
    std::stable_partition(addresses.begin(), addresses.end(), [](const Poco::Net::IPAddress& a) {
      return a.family() == Poco::Net::AddressFamily::IPv4;
    });

    Abort last{4};
    for (const Poco::Net::IPAddress& address : addresses) {
      try {
        Poco::Net::StreamSocket candidate;
        candidate.connect(
            Poco::Net::SocketAddress(address, static_cast<Poco::UInt16>(options.port)),
            Poco::Timespan(timeoutSeconds(), 0));
        // Every wait is ours, with poll: Poco's blocking TLS socket waits
        // its time-out twice and ignores deadlines.
        candidate.setBlocking(false);
        candidate.setNoDelay(true);
        socket = candidate;
        open = true;
        if (options.heloName.empty()) options.heloName = ownName();
        return;
      } catch (const Poco::TimeoutException&) {
        last = Abort{5};
      } catch (const Poco::Net::NetException&) {
        // Refused, unreachable, reset: nobody is taking SMTP there.
        last = Abort{4};
      } catch (const Poco::Exception&) {
        last = Abort{8};
      }
    }
    throw last;
  }

  // The full domain name of this host or, when it has none, the address
  // literal of our end of the connection, which any server can check.
  std::string ownName() {
    std::string name = hostDomainName();
    if (name.empty()) name = addressLiteral(socket.impl()->sockfd());
    return name.empty() ? "localhost" : name;
  }

  // Upgrades the connection; afterwards nothing from before the handshake is trusted.
  void startTls() {
    tlsVerifyFailure.clear();
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
    try {
      Poco::Net::Context::Ptr context = tlsContext(options.host, options.insecureTls);
      // On a non-blocking socket attach only prepares the handshake, which
      // then runs here under our deadline and surfaces a refused certificate
      // now rather than at the first command.
      Poco::Net::SecureStreamSocket secure =
          Poco::Net::SecureStreamSocket::attach(socket, options.host, context);
      for (;;) {
        int done = secure.completeHandshake();
        if (done > 0) break;
        if (done == 0)
          throw Abort{12, true, "the server closed the connection during the handshake"};
        await(secure, tlsWait(done), deadline);
      }
      socket = secure;
      tls = true;
      inbox.clear();
    } catch (const Abort&) {
      throw;
    } catch (const Poco::Exception& e) {
      std::string reason = e.displayText();
      if (!tlsVerifyFailure.empty()) reason += " (" + tlsVerifyFailure + ")";
      throw Abort{12, true, reason};
    }
  }

  int timeoutSeconds() const { return std::max(options.timeoutSeconds, 1); }

  // Waits until the socket can go on after a call that could not finish.
  // Plain poll: Poco's makes and closes an epoll set on every call, which
  // costs more than the wait itself when the server answers at once.
  static void await(Poco::Net::StreamSocket& on, int mode, Clock::time_point deadline) {
    pollfd watched{};
    watched.fd = on.impl()->sockfd();
    if (mode & Poco::Net::Socket::SELECT_READ) watched.events |= POLLIN;
    if (mode & Poco::Net::Socket::SELECT_WRITE) watched.events |= POLLOUT;
    for (;;) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) throw Abort{5};
      int ready = ::poll(&watched, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
      // An error or hang-up counts as ready: the next call reports it.
      if (ready > 0) return;
      if (ready < 0 && errno != EINTR) throw Abort{5};
    }
  }

  // Which way TLS is waiting, from what its call returned.
  static int tlsWait(int result) {
    return result == Poco::Net::SecureStreamSocket::ERR_SSL_WANT_WRITE
               ? Poco::Net::Socket::SELECT_WRITE
               : Poco::Net::Socket::SELECT_READ;
  }

  // Turns a Poco failure on an established connection into ours.
  [[noreturn]] static void exchangeFailed(const Poco::Exception& e) {
    if (dynamic_cast<const Poco::TimeoutException*>(&e)) throw Abort{5};
    // A TLS connection closed without goodbye shows up as an SSL error.
    if (dynamic_cast<const Poco::IOException*>(&e)) throw Abort{6};
    throw Abort{8};
  }

  // Writes all of bytes. The time-out runs from the last progress, so a large
  // message may take as long as it keeps moving, but never past overall.
  void sendRaw(std::string_view bytes, Clock::time_point overall = Clock::time_point::max()) {
    try {
      auto stall = [&] {
        return std::min(overall, Clock::now() + std::chrono::seconds(timeoutSeconds()));
      };
      Clock::time_point deadline = stall();
      while (!bytes.empty()) {
        int chunk = static_cast<int>(std::min(bytes.size(), kSendChunk));
        int sent = tls ? socket.sendBytes(bytes.data(), chunk) : sendPlain(bytes.data(), chunk);
        if (sent < 0) {
          // A plain socket only ever waits to write; TLS may need to read first.
          await(socket, tls ? tlsWait(sent) : Poco::Net::Socket::SELECT_WRITE, deadline);
          continue;
        }
        if (sent == 0) throw Abort{6};
        bytes.remove_prefix(static_cast<size_t>(sent));
        deadline = stall();
      }
    } catch (const Poco::Exception& e) {
      exchangeFailed(e);
    }
  }

  // One send on the plain socket: what went out, or -1 when the socket
  // buffer is full. Not Poco's sendBytes, which takes a full buffer on a
  // non-blocking socket for a broken connection.
  int sendPlain(const char* data, int length) {
    for (;;) {
      ssize_t sent =
          ::send(socket.impl()->sockfd(), data, static_cast<size_t>(length), MSG_NOSIGNAL);
      if (sent >= 0) return static_cast<int>(sent);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
      if (errno == EPIPE || errno == ECONNRESET) throw Abort{6};
      throw Abort{8};
    }
  }

  void command(const std::string& line, const std::string& shown = {}) {
    if (holdsLineBreak(line)) {
      Abort refused{121, false};
      refused.description = kLineBreakInArgument;
      throw refused;
    }
    log("C: " + (shown.empty() ? line : shown));
    sendRaw(line + "\r\n");
  }

  void receiveMore(Clock::time_point deadline) {
    try {
      for (;;) {
        // Bytes TLS has already decrypted do not show on the socket.
        if (socket.available() <= 0) await(socket, Poco::Net::Socket::SELECT_READ, deadline);
        char buffer[4096];
        int received = socket.receiveBytes(buffer, sizeof buffer);
        if (received == 0) throw Abort{6};
        if (received > 0) {
          inbox.append(buffer, static_cast<size_t>(received));
          return;
        }
        // Only part of a TLS record, or TLS's own traffic such as a session ticket.
        if (tls && tlsWait(received) == Poco::Net::Socket::SELECT_WRITE) {
          await(socket, Poco::Net::Socket::SELECT_WRITE, deadline);
        }
      }
    } catch (const Poco::Exception& e) {
      exchangeFailed(e);
    }
  }

  std::string readLine(Clock::time_point deadline) {
    size_t end;
    while ((end = inbox.find('\n')) == std::string::npos) {
      if (inbox.size() > kMaxReplyBytes) throw Abort{116};
      receiveMore(deadline);
    }
    std::string line = inbox.substr(0, end);
    inbox.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // One reply, however many lines. record=false keeps it out of serverResponse.
  Reply reply(int limitSeconds, bool record = true) {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::max(limitSeconds, 1));
    Reply reply;
    size_t bytes = 0;
    for (;;) {
      std::string line = readLine(deadline);
      log("S: " + line);
      bytes += line.size() + 2;
      bool wellFormed = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                        std::isdigit(static_cast<unsigned char>(line[1])) &&
                        std::isdigit(static_cast<unsigned char>(line[2])) &&
                        (line.size() == 3 || line[3] == ' ' || line[3] == '-');
      if (!reply.text.empty()) reply.text += "\r\n";
      reply.text += line;
      reply.lines.push_back(line);
      if (record) owner.serverResponse_ = reply.text;
      // Past a line we cannot read, the dialogue is out of step for good.
      if (!wellFormed || bytes > kMaxReplyBytes) throw Abort{116};
      reply.code = std::stoi(line.substr(0, 3));
      if (line.size() == 3 || line[3] == ' ') return reply;
    }
  }

  Reply exchange(const std::string& line, const std::string& shown = {}) {
    command(line, shown);
    return reply(options.timeoutSeconds);
  }

  // EHLO, or HELO for servers that refuse it; the EHLO reply tells what the server offers.
  void hello() {
    extensions.clear();
    authMechanisms.clear();
    Reply greeting = exchange("EHLO " + options.heloName);
    if (greeting.code != 250) {
      greeting = exchange("HELO " + options.heloName);
      if (greeting.code != 250) throw refusal(116);
      return;
    }
    for (size_t i = 1; i < greeting.lines.size(); ++i) {
      std::string line =
          upper(greeting.lines[i].substr(std::min<size_t>(4, greeting.lines[i].size())));
      size_t space = line.find_first_of(" =");
      std::string keyword = line.substr(0, space);
      extensions.insert(keyword);
      // Some servers still announce "AUTH=LOGIN" the way early drafts had it.
      if (keyword == "AUTH" && space != std::string::npos) {
        size_t at = space;
        while ((at = line.find_first_not_of(" =", at)) != std::string::npos) {
          size_t stop = line.find(' ', at);
          authMechanisms.insert(line.substr(at, stop - at));
          at = stop;
        }
      }
    }
  }

  void upgrade() {
    if (!extensions.count("STARTTLS")) throw Abort{12, false, "the server offers no STARTTLS"};
    Reply ready = exchange("STARTTLS");
    if (ready.code != 220) throw Abort{12, false, "the server refused STARTTLS"};
    startTls();
    hello();
  }

  [[noreturn]] static void authFailed(const Reply& reply) {
    throw refusal(reply.code == 535 ? 114 : 113);
  }

  void finishAuth(const Reply& reply) {
    if (reply.code != 235) authFailed(reply);
  }

  // Gives up a SASL exchange the server is waiting on.
  void cancelAuth() {
    exchange("*");
    throw refusal(113);
  }

  std::string chooseMechanism() const {
    switch (options.authMethod) {
      case auth::kPlain:
        return "PLAIN";
      case auth::kLogin:
        return "LOGIN";
      case auth::kCramMd5:
        return "CRAM-MD5";
      case auth::kNtlm:
        return "NTLM";
      case auth::kXOAuth2:
        return "XOAUTH2";
      case auth::kBasic:
        if (authMechanisms.count("LOGIN")) return "LOGIN";
        if (authMechanisms.count("PLAIN")) return "PLAIN";
        return "LOGIN";  // not offered: the checks below say so
      default:
        throw refusal(112);
    }
  }

  void authenticate() {
    if (options.authMethod == auth::kNone) return;
    std::string mechanism = chooseMechanism();
    if (authMechanisms.empty()) throw refusal(111);
    if (!authMechanisms.count(mechanism)) throw refusal(112);

    const std::string& user = options.user;
    const std::string& password = options.password;
    if (mechanism == "PLAIN") {
      finishAuth(exchange("AUTH PLAIN " + sasl::plain(user, password), "AUTH PLAIN ****"));
      return;
    }
    if (mechanism == "XOAUTH2") return xoauth2(user, password);
    Reply step = exchange("AUTH " + mechanism);
    if (step.code != 334) authFailed(step);
    if (mechanism == "LOGIN") {
      step = exchange(sasl::base64(user), "****");
      if (step.code == 334) step = exchange(sasl::base64(password), "****");
      finishAuth(step);
    } else if (mechanism == "CRAM-MD5") {
      std::optional<std::string> answer = sasl::cramMd5(user, password, step.argument());
      if (!answer) cancelAuth();
      finishAuth(exchange(*answer, "****"));
    } else {
      step = exchange(sasl::ntlmNegotiate(user), "****");
      if (step.code != 334) authFailed(step);
      std::optional<std::string> answer = sasl::ntlmAuthenticate(user, password, step.argument());
      if (!answer) cancelAuth();
      finishAuth(exchange(*answer, "****"));
    }
  }

  // XOAUTH2 says user and token in one line. A server that refuses the token
  // first answers 334 with its reason (base64 JSON) and waits; only an empty
  // line gets the final reply, 535 or the like.
  void xoauth2(const std::string& user, const std::string& token) {
    if (user.find('\x01') != std::string::npos || token.find('\x01') != std::string::npos) {
      Abort refused = refusal(113);
      refused.description =
          "The user name or the access token holds a character XOAUTH2 cannot carry";
      throw refused;
    }
    Reply step = exchange("AUTH XOAUTH2 " + sasl::xoauth2(user, token), "AUTH XOAUTH2 ****");
    std::string reason;
    if (step.code == 334) {
      reason = xoauth2Reason(step.argument());
      step = exchange("");
    }
    if (step.code == 235) return;
    Abort refused = refusal(step.code == 535 ? 114 : 113);
    if (!reason.empty()) refused.description = describe(refused.code) + " (" + reason + ")";
    throw refused;
  }

  // The server's reason, decoded, cut and stripped of anything unprintable:
  // it ends up in the run log and the database.
  static std::string xoauth2Reason(const std::string& challenge) {
    std::optional<std::string> decoded = sasl::fromBase64(challenge);
    std::string reason = decoded ? *decoded : challenge;
    if (reason.size() > kMaxReasonBytes) reason.resize(kMaxReasonBytes);
    for (char& c : reason)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return trim(reason);
  }

  // Says goodbye if the server can still hear it and closes; never fails.
  void close(bool polite) {
    if (!open) return;
    if (polite) {
      try {
        command("QUIT");
        reply(std::min(options.timeoutSeconds, kQuitSeconds), false);
      } catch (const Abort&) {
      }
    }
    try {
      socket.close();
    } catch (const Poco::Exception&) {
    }
    open = false;
  }
};

SmtpClient::SmtpClient() = default;

SmtpClient::~SmtpClient() {
  // No events from here: whoever set them is most likely being torn down too.
  if (!session_) return;
  onProtocolLine = nullptr;
  SigpipeBlock block;
  session_->close(true);
}

bool SmtpClient::fail(int code, std::string description) {
  errCode_ = code;
  errDesc_ = std::move(description);
  return false;
}

bool SmtpClient::isConnected() const { return session_ != nullptr; }

bool SmtpClient::connect(const SmtpOptions& options) {
  disconnect();
  errCode_ = 0;
  errDesc_.clear();
  serverResponse_.clear();
  sslError_.clear();
  recipientReplies_.clear();

  SigpipeBlock block;
  auto session = std::make_unique<Session>(*this, options);
  try {
    session->connectTcp();
    if (options.security == Security::kImplicitTls) session->startTls();
    Reply greeting = session->reply(options.timeoutSeconds);
    if (greeting.code != 220) throw refusal(116);
    session->hello();
    if (options.security == Security::kStartTls) session->upgrade();
    session->authenticate();
  } catch (const Abort& abort) {
    session->close(!abort.fatal);
    sslError_ = abort.sslError;
    return fail(abort.code, abort.description.empty() ? describe(abort.code) : abort.description);
  }
  session_ = std::move(session);
  session_->announced = true;
  if (onConnected) onConnected();
  return true;
}

bool SmtpClient::send(std::string_view from, const std::vector<std::string>& recipients,
                      std::string_view message) {
  return send(from, recipients, std::vector<std::string_view>{message});
}

bool SmtpClient::send(std::string_view from, const std::vector<std::string>& recipients,
                      const std::vector<std::string_view>& message) {
  errCode_ = 0;
  errDesc_.clear();
  serverResponse_.clear();
  sslError_.clear();
  recipientReplies_.clear();

  std::string sender = bareAddress(from);
  std::vector<std::string> addresses;
  for (const std::string& recipient : recipients) addresses.push_back(bareAddress(recipient));
  bool anyEmpty = std::any_of(addresses.begin(), addresses.end(),
                              [](const std::string& a) { return a.empty(); });
  if (sender.empty() || addresses.empty() || anyEmpty) return fail(121, describe(121));
  // Judged on the whole text: "a@x\nRCPT TO:<b@y>" must not pass as <b@y>.
  bool smuggling =
      holdsLineBreak(from) || std::any_of(recipients.begin(), recipients.end(),
                                          [](const auto& r) { return holdsLineBreak(r); });
  if (smuggling) return fail(121, kLineBreakInArgument);
  if (!session_) return fail(8, describe(8));

  SigpipeBlock block;
  Session& session = *session_;
  try {
    Reply reply = session.exchange("MAIL FROM:<" + sender + ">");
    if (!reply.positive()) throw refusal(122);

    std::optional<Reply> refused;
    for (const std::string& address : addresses) {
      reply = session.exchange("RCPT TO:<" + address + ">");
      recipientReplies_.push_back(RecipientReply{address, reply.code, reply.text});
      if (!reply.positive() && !refused) refused = reply;
    }
    if (refused) {
      session.exchange("RSET");
      serverResponse_ = refused->text;
      throw refusal(123);
    }

    reply = session.exchange("DATA");
    if (reply.code != 354) {
      session.exchange("RSET");
      serverResponse_ = reply.text;
      throw refusal(116);
    }
    size_t size = wireSize(message);
    if (onSendStart) onSendStart(size);
    int dataSeconds = std::max(session.options.timeoutSeconds, session.options.dataTimeoutSeconds);
    Clock::time_point overall = Clock::now() + std::chrono::seconds(dataSeconds) +
                                std::chrono::seconds(size / kDataBytesPerSecond);
    WireWriter writer([&](std::string_view chunk) { session.sendRaw(chunk, overall); });
    for (std::string_view piece : message) writer.add(piece);
    writer.finish();
    session.log("C: .");
    reply = session.reply(dataSeconds);
    if (!reply.positive()) throw refusal(116);
  } catch (const Abort& abort) {
    sslError_ = abort.sslError;
    fail(abort.code, abort.description.empty() ? describe(abort.code) : abort.description);
    if (abort.fatal) {
      session.close(false);
      bool announced = session.announced;
      session_.reset();
      if (announced && onDisconnected) onDisconnected();
    }
    return false;
  }
  if (onSendComplete) onSendComplete();
  return true;
}

void SmtpClient::disconnect() {
  if (!session_) return;
  {
    SigpipeBlock block;
    session_->close(true);
  }
  bool announced = session_->announced;
  session_.reset();
  if (announced && onDisconnected) onDisconnected();
}

}  // namespace postrix::smtp
