#include "platform/smtp/smtp_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <tuple>
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
  int method = auth::kPlain;
  const char* trustedHost = nullptr;  // the system store holds the certificate; connect by it
};

void PrintTo(const TlsCase& c, std::ostream* out) {
  *out << c.peerTls << (c.insecure ? " insecure" : "") << (c.trustedHost ? " trusted" : "")
       << " auth " << c.method;
}

class SmtpClientTlsTest : public ::testing::TestWithParam<TlsCase> {};

TEST_P(SmtpClientTlsTest, SendsNothingPrivateWithoutTheTlsAskedFor) {
  const TlsCase& c = GetParam();
  SmtpPeer peer({.tls = c.peerTls, .auth = "required"});
  // OpenSSL takes the system store from here when a context is made.
  struct TrustedStore {
    ~TrustedStore() { unsetenv("SSL_CERT_FILE"); }
  } restore;
  if (c.trustedHost) setenv("SSL_CERT_FILE", peer.certificate().c_str(), 1);
  LoggedClient logged;
  SmtpOptions options = optionsFor(peer);
  options.host = c.trustedHost ? c.trustedHost : "localhost";
  options.security = c.security;
  options.insecureTls = c.insecure;
  options.authMethod = c.method;
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
  for (const auto& line : logged.lines) {  // no secret in the log, however it was sent
    if (line.rfind("C: ", 0) != 0) continue;
    EXPECT_EQ(line.find(sasl::base64(SmtpPeer::kUser)), std::string::npos) << line;
    EXPECT_EQ(line.find(sasl::base64(SmtpPeer::kPassword)), std::string::npos) << line;
  }
}

// The test server's certificate is self-signed: refused unless insecureTls, or the system store
// holds it and it names the host (by name or by address). Each way to authenticate once.
INSTANTIATE_TEST_SUITE_P(Modes, SmtpClientTlsTest,
                         ::testing::Values(TlsCase{"starttls", Security::kStartTls, true, 0},
                                           TlsCase{"implicit", Security::kImplicitTls, true, 0,
                                                   auth::kLogin},
                                           TlsCase{"starttls", Security::kStartTls, false, 12},
                                           TlsCase{"implicit", Security::kImplicitTls, false, 12},
                                           TlsCase{"none", Security::kStartTls, true, 12},
                                           TlsCase{"implicit", Security::kImplicitTls, false, 0,
                                                   auth::kCramMd5, "localhost"},
                                           TlsCase{"starttls", Security::kStartTls, false, 0,
                                                   auth::kBasic, "127.0.0.1"}));

// A refused message leaves the session in a clean state for the next one.
TEST(SmtpClientTest, SaysWhyAuthenticationOrSendingFailed) {
  const struct {
    SmtpPeerOptions peer;
    int method;  // failures of authentication come from connect, the others from send
    std::vector<std::string> to;
    int code;
    bool staysConnected;
  } cases[] = {
      {{.auth = "required", .refuseAuth = true}, auth::kLogin, kTo, 114, false},
      {{.auth = "optional"}, auth::kNtlm, kTo, 112, false},  // a method the server lacks
      {{}, auth::kLogin, kTo, 111, false},                   // a server without AUTH
      {{.refuseSender = true}, auth::kNone, kTo, 122, true},
      {{.closeDuringData = true}, auth::kNone, kTo, 6, false},
      {{}, auth::kNone, {"to@example.com", " "}, 121, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    SmtpPeer peer(c.peer);
    SmtpClient client;
    int disconnected = 0;
    client.onDisconnected = [&] { ++disconnected; };
    SmtpOptions options = optionsFor(peer);
    options.authMethod = c.method;
    options.user = SmtpPeer::kUser;
    options.password = SmtpPeer::kPassword;
    bool sending = c.method == auth::kNone;
    ASSERT_EQ(client.connect(options), sending) << client.errDesc();
    if (sending) {
      EXPECT_FALSE(client.send(kFrom, c.to, kMessage));
      EXPECT_EQ(disconnected, c.staysConnected ? 0 : 1);
    }
    EXPECT_EQ(client.errCode(), c.code) << client.errDesc() << " / " << client.serverResponse();
    EXPECT_EQ(client.isConnected(), c.staysConnected);
    if (c.staysConnected && !c.peer.refuseSender) {
      EXPECT_TRUE(client.send(kFrom, kTo, kMessage)) << client.errDesc();
    }
  }
}

// XOAUTH2 as the large providers speak it: a good token logs in; a bad one
// gets 334 with a JSON reason, which only an empty line answers, then 535.
TEST(SmtpClientTest, XOAuth2LogsInWithATokenAndSaysWhyOneIsRefused) {
  SmtpPeer peer({.auth = "required", .oauthTokens = {"good.token"}});
  LoggedClient logged;
  SmtpOptions options = optionsFor(peer);
  options.authMethod = auth::kXOAuth2;
  options.user = SmtpPeer::kUser;
  options.password = "good.token";
  ASSERT_TRUE(logged.client.connect(options)) << logged.client.errDesc() << "\n" << logged.log();
  ASSERT_TRUE(logged.client.send(kFrom, kTo, kMessage)) << logged.client.errDesc();
  EXPECT_EQ(peer.waitForMessages(1).at(0).authUser, SmtpPeer::kUser);
  EXPECT_TRUE(logged.logged("C: AUTH XOAUTH2 ****")) << logged.log();
  std::string wire = sasl::xoauth2(SmtpPeer::kUser, "good.token");
  EXPECT_EQ(logged.log().find(wire), std::string::npos);
  EXPECT_EQ(logged.log().find("good.token"), std::string::npos);

  LoggedClient refused;
  options.password = "stale.token";
  EXPECT_FALSE(refused.client.connect(options));
  EXPECT_EQ(refused.client.errCode(), 114);
  EXPECT_EQ(refused.client.errDesc(),
            "Wrong password or username ({\"status\": \"401\", \"schemes\": \"bearer\", "
            "\"scope\": \"https://mail.test/\"})");
  EXPECT_EQ(refused.client.serverResponse(), "535 5.7.8 Authentication credentials invalid");
  EXPECT_TRUE(refused.logged("S: 334 ")) << refused.log();
  EXPECT_NE(refused.log().find("\nC: \nS: 535 "), std::string::npos) << refused.log();

  // A token that would end its part of the SASL string early is not sent.
  options.password =
      "a\x01"
      "b";
  EXPECT_FALSE(refused.client.connect(options));
  EXPECT_EQ(refused.client.errCode(), 113);

  SmtpPeer basic({.auth = "required"});
  options.port = basic.port();
  options.password = "good.token";
  EXPECT_FALSE(refused.client.connect(options));
  EXPECT_EQ(refused.client.errCode(), 112) << "a server that does not offer XOAUTH2";
}

// Against a server that knows no EHLO: the client falls back to HELO.
TEST(SmtpClientTest, OneRefusedRecipientFailsTheMessage) {
  SmtpPeer peer({.refuseRecipients = {"nobody@example.com"}, .noEhlo = true});
  LoggedClient logged;
  SmtpClient& client = logged.client;
  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc();
  EXPECT_TRUE(logged.logged("C: HELO client.test"));
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

// A silent server, a closed port and an unknown host: each its own code, in time.
TEST(SmtpClientTest, ConnectFailuresHaveTheirOwnCodes) {
  SmtpPeer slow({.delayMs = 3000});
  const std::tuple<std::string, int, int> cases[] = {{"127.0.0.1", slow.port(), 5},
                                                     {"127.0.0.1", test::closedPort(), 4},
                                                     {"no-such-host.invalid", 25, 3}};
  for (const auto& [host, port, code] : cases) {
    SCOPED_TRACE(host + ":" + std::to_string(port));
    SmtpClient client;
    SmtpOptions options;
    options.host = host;
    options.port = port;
    options.timeoutSeconds = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect(options));
    EXPECT_EQ(client.errCode(), code) << client.errDesc();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  }
}

}  // namespace
}  // namespace postrix::smtp
