#include "platform/smtp/smtp_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/smtp/sasl.h"
#include "support/smtp_peer.h"

namespace postrix::smtp {
namespace {

using test::SmtpPeer;
using test::SmtpPeerOptions;

const std::vector<std::string> kTo = {"to@example.com"};
constexpr const char* kFrom = "from@example.com";
constexpr const char* kMessage = "Subject: test\r\n\r\nbody\r\n";

SmtpOptions optionsFor(const SmtpPeer& peer) {
  SmtpOptions options;
  options.host = "127.0.0.1";
  options.port = peer.port();
  options.timeoutSeconds = 2;
  options.dataTimeoutSeconds = 2;
  options.heloName = "client.test";
  return options;
}

// A client that keeps its protocol log.
struct LoggedClient {
  LoggedClient() {
    client.onProtocolLine = [this](const std::string& line) { lines.push_back(line); };
  }
  bool logged(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }
  std::string log() const {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
  }

  SmtpClient client;
  std::vector<std::string> lines;
};

TEST(SaslTest, CramMd5AnswersTheWorkedExample) {
  // The exchange published with the mechanism.
  std::string challenge = sasl::base64("<1896.697170952@postoffice.reston.mci.net>");
  EXPECT_EQ(sasl::cramMd5("tim", "tanstaaftanstaaf", challenge),
            "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
  EXPECT_EQ(sasl::cramMd5("tim", "x", "not base64!"), std::nullopt);
}

TEST(SaslTest, NtlmAnswersAChallengeOnly) {
  // A minimal challenge: signature, type 2, empty target, flags, 8-byte
  // challenge, reserved, empty target information.
  std::string challenge("NTLMSSP\0", 8);
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) challenge += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put32(2);
  put32(0), put32(48);  // target: length 0 twice, offset 48
  put32(0x00000201);    // unicode, NTLM
  challenge += "12345678";
  challenge += std::string(8, '\0');
  put32(0), put32(48);  // target information

  std::optional<std::string> answer =
      sasl::ntlmAuthenticate("DOMAIN\\user", "pw", sasl::base64(challenge));
  ASSERT_TRUE(answer);
  std::optional<std::string> decoded = sasl::fromBase64(*answer);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
  EXPECT_EQ(sasl::ntlmAuthenticate("user", "pw", sasl::base64("garbage")), std::nullopt);
}

TEST(SmtpClientTest, DeliversMessagesAsWrittenOnTheWire) {
  SmtpPeer peer;
  LoggedClient logged;
  SmtpClient& client = logged.client;
  int connected = 0, disconnected = 0, completed = 0;
  std::vector<size_t> announced;
  client.onConnected = [&] { ++connected; };
  client.onDisconnected = [&] { ++disconnected; };
  client.onSendStart = [&](size_t bytes) { announced.push_back(bytes); };
  client.onSendComplete = [&] { ++completed; };

  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc() << "\n" << logged.log();
  std::string longLine(998, 'a');
  std::string message = "Subject: dots\n\n.x\r\n..y\rlone cr\n" + longLine + "\n.";
  ASSERT_TRUE(client.send("Sender <from@example.com>", {"a@example.com", "b@example.com"}, message))
      << client.errDesc() << "\n"
      << logged.log();
  // The same session takes a second transaction, one too large for a single write.
  std::string big = "Subject: big\r\n\r\n";
  while (big.size() < 4'000'000) big += std::string(98, 'b') + "\r\n";
  ASSERT_TRUE(client.send(kFrom, kTo, big)) << client.errDesc();
  client.disconnect();

  auto mails = peer.waitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].from, "from@example.com");
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"a@example.com", "b@example.com"}));
  EXPECT_EQ(mails[0].data,
            "Subject: dots\r\n\r\n.x\r\n..y\r\nlone cr\r\n" + longLine + "\r\n.\r\n");
  EXPECT_EQ(mails[1].data, big);

  // Stuffed lines and the final dot: what actually went out.
  EXPECT_EQ(announced, (std::vector<size_t>{mails[0].data.size() + 3 + 3, big.size() + 3}));
  EXPECT_EQ(connected, 1);
  EXPECT_EQ(completed, 2);
  EXPECT_EQ(disconnected, 1);
  EXPECT_FALSE(client.isConnected());
  EXPECT_TRUE(logged.logged("C: MAIL FROM:<from@example.com>"));
  EXPECT_TRUE(logged.logged("C: RCPT TO:<b@example.com>"));
  EXPECT_TRUE(logged.logged("C: QUIT"));
}

struct TlsCase {
  const char* peerTls;
  Security security;
  bool insecure;
  int code;  // 0: delivered
};

void PrintTo(const TlsCase& c, std::ostream* out) {
  *out << c.peerTls << (c.insecure ? " insecure" : "");
}

class SmtpClientTlsTest : public ::testing::TestWithParam<TlsCase> {};

TEST_P(SmtpClientTlsTest, SendsNothingPrivateWithoutTheTlsAskedFor) {
  const TlsCase& c = GetParam();
  SmtpPeer peer({.tls = c.peerTls, .auth = "required"});
  LoggedClient logged;
  SmtpOptions options = optionsFor(peer);
  options.host = "localhost";
  options.security = c.security;
  options.insecureTls = c.insecure;
  options.authMethod = auth::kPlain;
  options.user = SmtpPeer::kUser;
  options.password = SmtpPeer::kPassword;
  bool ok = logged.client.connect(options);
  if (c.code != 0) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(logged.client.errCode(), c.code);
    EXPECT_FALSE(logged.client.sslError().empty());
    EXPECT_FALSE(logged.logged("C: AUTH")) << logged.log();
    EXPECT_FALSE(logged.client.isConnected());
    return;
  }
  ASSERT_TRUE(ok) << logged.client.errDesc() << " " << logged.client.sslError() << "\n"
                  << logged.log();
  // Large enough that writes stall and resume, in both directions TLS may ask for.
  std::string big = "Subject: big\r\n\r\n";
  while (big.size() < 4'000'000) big += std::string(98, 'b') + "\r\n";
  ASSERT_TRUE(logged.client.send(kFrom, kTo, big)) << logged.client.errDesc();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].data, big);
  EXPECT_TRUE(mails[0].tls);
  EXPECT_EQ(mails[0].authUser, SmtpPeer::kUser);
}

// The test server's certificate is self-signed: refused unless insecureTls.
INSTANTIATE_TEST_SUITE_P(Modes, SmtpClientTlsTest,
                         ::testing::Values(TlsCase{"starttls", Security::kStartTls, true, 0},
                                           TlsCase{"implicit", Security::kImplicitTls, true, 0},
                                           TlsCase{"starttls", Security::kStartTls, false, 12},
                                           TlsCase{"implicit", Security::kImplicitTls, false, 12},
                                           TlsCase{"none", Security::kStartTls, true, 12}));

TEST(SmtpClientTest, TrustsCertificatesOfTheSystemStoreForTheirNames) {
  SmtpPeer peer({.tls = "implicit"});
  // OpenSSL takes the system store from here when a context is made.
  setenv("SSL_CERT_FILE", peer.certificate().c_str(), 1);
  for (const char* host : {"localhost", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    SmtpClient client;
    SmtpOptions options = optionsFor(peer);
    options.host = host;
    options.security = Security::kImplicitTls;
    EXPECT_TRUE(client.connect(options)) << client.sslError();
  }
  unsetenv("SSL_CERT_FILE");
}

class SmtpClientAuthTest : public ::testing::TestWithParam<int> {};

TEST_P(SmtpClientAuthTest, AuthenticatesWithoutLoggingSecrets) {
  SmtpPeer peer({.auth = "required"});
  LoggedClient logged;
  SmtpOptions options = optionsFor(peer);
  options.authMethod = GetParam();
  options.user = SmtpPeer::kUser;
  options.password = SmtpPeer::kPassword;
  ASSERT_TRUE(logged.client.connect(options)) << logged.client.errDesc() << "\n" << logged.log();
  ASSERT_TRUE(logged.client.send(kFrom, kTo, kMessage)) << logged.client.errDesc();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].authUser, SmtpPeer::kUser);
  for (const auto& line : logged.lines) {
    if (line.rfind("C: ", 0) != 0) continue;
    EXPECT_EQ(line.find(sasl::base64(SmtpPeer::kUser)), std::string::npos) << line;
    EXPECT_EQ(line.find(sasl::base64(SmtpPeer::kPassword)), std::string::npos) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, SmtpClientAuthTest,
                         ::testing::Values(auth::kPlain, auth::kLogin, auth::kCramMd5,
                                           auth::kBasic));

struct AuthFailure {
  const char* name;
  SmtpPeerOptions peer;
  int method;
  int code;
};

void PrintTo(const AuthFailure& c, std::ostream* out) { *out << c.name; }

class SmtpClientAuthFailureTest : public ::testing::TestWithParam<AuthFailure> {};

TEST_P(SmtpClientAuthFailureTest, SaysWhyAuthenticationFailed) {
  const AuthFailure& c = GetParam();
  SmtpPeer peer(c.peer);
  SmtpClient client;
  SmtpOptions options = optionsFor(peer);
  options.authMethod = c.method;
  options.user = SmtpPeer::kUser;
  options.password = SmtpPeer::kPassword;
  EXPECT_FALSE(client.connect(options));
  EXPECT_EQ(client.errCode(), c.code) << client.errDesc() << " / " << client.serverResponse();
  EXPECT_FALSE(client.isConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpClientAuthFailureTest,
    ::testing::Values(
        AuthFailure{"RefusedPlain", {.auth = "required", .refuseAuth = true}, auth::kPlain, 114},
        AuthFailure{"RefusedLogin", {.auth = "required", .refuseAuth = true}, auth::kLogin, 114},
        AuthFailure{"RefusedCram", {.auth = "required", .refuseAuth = true}, auth::kCramMd5, 114},
        AuthFailure{"Msn", {.auth = "optional"}, auth::kMsn, 112},
        AuthFailure{"NtlmNotOffered", {.auth = "optional"}, auth::kNtlm, 112},
        AuthFailure{"NoAuthAtAll", {}, auth::kLogin, 111},
        AuthFailure{"BasicWithoutAuth", {}, auth::kBasic, 111}),
    [](const auto& info) { return info.param.name; });

struct SendFailure {
  const char* name;
  SmtpPeerOptions peer;
  const char* from;
  std::vector<std::string> to;
  int code;
  bool staysConnected;
};

void PrintTo(const SendFailure& c, std::ostream* out) { *out << c.name; }

class SmtpClientSendFailureTest : public ::testing::TestWithParam<SendFailure> {};

TEST_P(SmtpClientSendFailureTest, SaysWhySendingFailed) {
  const SendFailure& c = GetParam();
  SmtpPeer peer(c.peer);
  SmtpClient client;
  int disconnected = 0;
  client.onDisconnected = [&] { ++disconnected; };
  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc();
  EXPECT_FALSE(client.send(c.from, c.to, kMessage));
  EXPECT_EQ(client.errCode(), c.code) << client.errDesc() << " / " << client.serverResponse();
  EXPECT_EQ(client.isConnected(), c.staysConnected);
  EXPECT_EQ(disconnected, c.staysConnected ? 0 : 1);
  if (c.staysConnected) {
    // The session is back in a clean state for the next message.
    EXPECT_TRUE(c.peer.refuseSender || client.send(kFrom, kTo, kMessage)) << client.errDesc();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpClientSendFailureTest,
    ::testing::Values(SendFailure{"SenderRefused", {.refuseSender = true}, kFrom, kTo, 122, true},
                      SendFailure{
                          "DroppedDuringData", {.closeDuringData = true}, kFrom, kTo, 6, false},
                      SendFailure{"NoRecipients", {}, kFrom, {}, 121, true},
                      SendFailure{"NoSender", {}, "", kTo, 121, true},
                      SendFailure{"BlankRecipient", {}, kFrom, {"to@example.com", " "}, 121, true}),
    [](const auto& info) { return info.param.name; });

TEST(SmtpClientTest, OneRefusedRecipientFailsTheMessage) {
  SmtpPeer peer({.refuseRecipients = {"nobody@example.com"}});
  LoggedClient logged;
  SmtpClient& client = logged.client;
  ASSERT_TRUE(client.connect(optionsFor(peer)));
  EXPECT_FALSE(client.send(kFrom, {"nobody@example.com", "to@example.com"}, kMessage));
  EXPECT_EQ(client.errCode(), 123);
  EXPECT_EQ(client.serverResponse().substr(0, 9), "550 5.1.1");
  ASSERT_EQ(client.recipientReplies().size(), 2u);
  EXPECT_EQ(client.recipientReplies()[0].address, "nobody@example.com");
  EXPECT_EQ(client.recipientReplies()[0].code, 550);
  EXPECT_EQ(client.recipientReplies()[1].code, 250);
  EXPECT_TRUE(logged.logged("C: RSET"));
  EXPECT_FALSE(logged.logged("C: DATA"));
  // RSET left no recipient behind: the next message goes to its own only.
  ASSERT_TRUE(client.send(kFrom, {"other@example.com"}, kMessage));
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"other@example.com"});
}

TEST(SmtpClientTest, FallsBackToHelo) {
  SmtpPeer peer({.noEhlo = true});
  LoggedClient logged;
  ASSERT_TRUE(logged.client.connect(optionsFor(peer))) << logged.client.errDesc();
  EXPECT_TRUE(logged.logged("C: HELO client.test"));
  ASSERT_TRUE(logged.client.send(kFrom, kTo, kMessage)) << logged.client.errDesc();
  EXPECT_EQ(peer.waitForMessages(1).size(), 1u);
}

TEST(SmtpClientTest, ConnectFailuresHaveTheirOwnCodes) {
  SmtpPeer slow({.delayMs = 3000});
  SmtpPeer slowTls({.tls = "implicit", .delayMs = 3000});
  struct Case {
    std::string host;
    int port;
    Security security;
    int code;
  } cases[] = {
      {"127.0.0.1", slow.port(), Security::kNone, 5},
      {"127.0.0.1", slowTls.port(), Security::kImplicitTls, 5},
      {"127.0.0.1", test::closedPort(), Security::kNone, 4},
      {"no-such-host.invalid", 25, Security::kNone, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
    SmtpClient client;
    SmtpOptions options;
    options.host = c.host;
    options.port = c.port;
    options.security = c.security;
    options.insecureTls = true;
    options.timeoutSeconds = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect(options));
    EXPECT_EQ(client.errCode(), c.code) << client.errDesc();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_FALSE(client.isConnected());
  }
}

}  // namespace
}  // namespace postrix::smtp
