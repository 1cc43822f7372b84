// The test mail server (tests/peers/smtp_server.py) running as a child process.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"
#include "support/temp_database.h"

namespace postrix::test {

// How the server should behave; the defaults give a plain server that takes every message.
struct SmtpPeerOptions {
  std::string tls = "none";   // "none", "starttls", "implicit"
  std::string auth = "none";  // "none", "optional", "required"
  std::vector<std::string> refuseRecipients{};
  bool refuseSender = false, refuseAuth = false, closeDuringData = false, noEhlo = false;
  int delayMs = 0;
  bool stallDuringData = false;  // answer DATA with 354, then read nothing more
  long long maxSize = 0;         // largest message taken; 0: the server's default (32 MiB)
  // Access tokens XOAUTH2 takes for kUser; XOAUTH2 is offered only with one.
  std::vector<std::string> oauthTokens{};
  // The reply to a refused recipient instead of the usual 550; a backslash and "n" in it
  // start another line of the reply.
  std::string refuseReply{};
};

// One message as the server stored it.
struct ReceivedMail {
  std::string from;             // MAIL FROM address
  std::vector<std::string> to;  // accepted RCPT addresses, in order
  std::string authUser;         // "" when not authenticated
  bool tls = false;
  std::string helo;  // the name the client gave in EHLO or HELO
  std::string data;  // the message as received (CRLF line ends)
};

// Starts the server and waits until it listens; stops it on destruction.
class SmtpPeer {
 public:
  static constexpr const char* kUser = "postrix";
  static constexpr const char* kPassword = "secret";

  // Throws std::runtime_error when the server does not listen within 10 s.
  explicit SmtpPeer(SmtpPeerOptions options = {});
  SmtpPeer(const SmtpPeer&) = delete;
  SmtpPeer& operator=(const SmtpPeer&) = delete;

  int port() const { return process_->port(); }
  // Every stored message, oldest first.
  std::vector<ReceivedMail> received() const;
  // Waits until n messages are stored (up to timeoutMs), then returns them, however many.
  std::vector<ReceivedMail> waitForMessages(size_t n, int timeoutMs = 5000) const;
  // PEM file of the server's self-signed certificate (CN=localhost, SAN DNS:localhost and
  // IP:127.0.0.1), for clients that should trust it.
  const std::string& certificate() const;
  const std::string& mailDir() const { return mailDir_; }

 private:
  TempDir dir_;
  std::string mailDir_;
  std::unique_ptr<PeerProcess> process_;
};

}  // namespace postrix::test
