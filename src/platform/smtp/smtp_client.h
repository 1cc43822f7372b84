// SmtpClient: one SMTP session of our own, driven command by command.
//
// connect opens the connection (plain, implicit TLS, or plain upgraded with
// STARTTLS), reads the greeting, says EHLO (HELO when EHLO is refused),
// upgrades and says EHLO again when STARTTLS was asked for, and
// authenticates when a method is set. send runs one transaction on the open
// session: MAIL FROM:<a>, one RCPT TO:<r> per recipient (each reply kept),
// DATA with the message's line ends normalised to CRLF and its dots
// stuffed, and the final dot. disconnect says QUIT and closes.
//
// Every stage is bounded: connecting and each reply by timeoutSeconds, the
// reply after the final dot by dataTimeoutSeconds (timeoutSeconds if longer).
// Writing the message may stall for at most timeoutSeconds between two
// writes that make progress, and all of it must be written within
// dataTimeoutSeconds plus one second per 64 KiB of message (a pace no
// working link falls below); past either the send fails with 5 and the
// connection is closed. The message is dot-stuffed and written in chunks of
// 64 KiB, never copied whole. No AUTH is ever
// sent on a connection whose requested TLS failed. Certificates are checked
// against the system store and the server's name unless insecureTls.
//
// Failures never throw: an operation returns false and errCode, errDesc,
// serverResponse (the last reply, verbatim, lines joined by CRLF) and, for
// TLS failures, sslError say why. A command argument (an address, the
// EHLO name) holding CR, LF or NUL is never sent: the operation fails with
// 121 and an errDesc saying so. With XOAUTH2 the password is the access
// token, masked in the protocol log as passwords are; when the server
// refuses it, errDesc adds the reason its 334 challenge gave. The codes:
//   3 unknown host, 4 no connection, 5 time-out, 6 connection closed by the
//   server, 8 other connection error, 12 TLS failure, 111 authentication not
//   offered, 112 unsupported method, 113 other authentication error, 114
//   wrong user or password (535), 116 other SMTP error, 117 no access token
//   could be had (XOAUTH2: the token endpoint failed), 121 no sender or no
//   recipient, 122 sender refused, 123 a recipient refused.
// One thread uses a client.
#pragma once

#include <cstddef>      // sizes
#include <functional>   // events
#include <memory>       // the session
#include <string>       // texts
#include <string_view>  // message bytes
#include <vector>       // recipients, replies

namespace postrix::smtp {

enum class Security { kNone, kStartTls, kImplicitTls };

// The text of a failure code above ("Wrong password or username" for
// 114); "" for a code without one.
std::string errorText(int code);

// Authentication methods by their numbers in the mail settings.
namespace auth {
inline constexpr int kNone = 0;
inline constexpr int kPlain = 1;
inline constexpr int kLogin = 2;
inline constexpr int kCramMd5 = 3;
inline constexpr int kNtlm = 4;
inline constexpr int kMsn = 5;  // no server offers it any more: always 112
// OAuth 2.0 bearer token (SASL XOAUTH2); the password is the access token.
inline constexpr int kXOAuth2 = 6;
// LOGIN or PLAIN, whichever the server offers (LOGIN first).
inline constexpr int kBasic = 100;
}  // namespace auth

struct SmtpOptions {
  std::string host;
  int port = 25;
  int timeoutSeconds = 30;
  int dataTimeoutSeconds = 600;
  Security security = Security::kNone;
  bool insecureTls = false;
  int authMethod = auth::kNone;
  std::string user, password;
  // The name said in EHLO/HELO. When empty: the host's full domain name, or
  // the address literal of our end of the connection ("[127.0.0.1]") when the
  // host has no name with a dot.
  std::string heloName;
};

// One RCPT reply: the address and the server's reply line(s).
struct RecipientReply {
  std::string address;
  int code = 0;
  std::string reply;
};

class SmtpClient {
 public:
  SmtpClient();
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  bool connect(const SmtpOptions& options);
  bool isConnected() const;
  // One transaction on the open session. A refused recipient fails the
  // transaction with 123 (after RSET) even when others were accepted.
  bool send(std::string_view from, const std::vector<std::string>& recipients,
            std::string_view message);
  // The same with the message in pieces sent one after the other as one text,
  // so a caller holding a message in parts need not join them.
  bool send(std::string_view from, const std::vector<std::string>& recipients,
            const std::vector<std::string_view>& message);
  // QUIT and close; harmless when not connected.
  void disconnect();

  int errCode() const { return errCode_; }
  const std::string& errDesc() const { return errDesc_; }
  const std::string& serverResponse() const { return serverResponse_; }
  const std::string& sslError() const { return sslError_; }
  const std::vector<RecipientReply>& recipientReplies() const { return recipientReplies_; }

  // Events for the mail settings form.
  std::function<void()> onConnected;
  std::function<void()> onDisconnected;
  std::function<void(std::size_t bytes)> onSendStart;
  std::function<void()> onSendComplete;
  // Every line sent (C: ...) and received (S: ...), passwords masked; for
  // the component's protocol log.
  std::function<void(const std::string& line)> onProtocolLine;

 private:
  struct Session;
  bool fail(int code, std::string description);

  std::unique_ptr<Session> session_;
  int errCode_ = 0;
  std::string errDesc_, serverResponse_, sslError_;
  std::vector<RecipientReply> recipientReplies_;
};

}  // namespace postrix::smtp
