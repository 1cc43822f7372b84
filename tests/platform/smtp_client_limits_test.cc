// What the SMTP client writes at the edges: pieces joined into one text, arguments that would
// break a line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/smtp/smtp_client.h"
#include "support/smtp_peer.h"

namespace postrix::smtp {
namespace {

using test::SmtpPeer;

SmtpOptions optionsFor(const SmtpPeer& peer) {
  SmtpOptions options;
  options.host = "127.0.0.1";
  options.port = peer.port();
  options.timeoutSeconds = 1;
  options.dataTimeoutSeconds = 1;
  return options;
}

TEST(SmtpClientLimitsTest, PiecesOfAMessageAreStuffedAsOneText) {
  SmtpPeer peer;
  SmtpClient client;
  size_t announced = 0;
  client.onSendStart = [&](size_t bytes) { announced = bytes; };
  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc();
  // A CRLF split between two pieces, and dots that start a line only once joined.
  std::vector<std::string_view> pieces = {"Subject: a\r", "\n.dot\r\n", ".", "\nend\r", "", "\n."};
  ASSERT_TRUE(client.send("from@example.com", {"to@example.com"}, pieces)) << client.errDesc();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].data, "Subject: a\r\n.dot\r\n.\r\nend\r\n.\r\n");
  EXPECT_EQ(announced, mails[0].data.size() + 3 + 3);  // three dots doubled, the final dot
}

TEST(SmtpClientLimitsTest, NoArgumentWithALineBreakReachesTheServer) {
  SmtpPeer peer;
  std::vector<std::string> lines;
  SmtpClient client;
  client.onProtocolLine = [&](const std::string& line) { lines.push_back(line); };
  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc();
  const std::vector<std::vector<std::string>> envelopes = {
      {"c@example.com\nRCPT TO:<y@example.net>"},
      {"ok@example.com", "a@example.com\r\nRSET"},
      {std::string("n@example.com\0x", 15)},
  };
  for (const auto& recipients : envelopes) {
    EXPECT_FALSE(client.send("from@example.com", recipients, "Subject: x\r\n\r\nx\r\n"))
        << recipients.back();
    EXPECT_EQ(client.errCode(), 121);
    EXPECT_NE(client.errDesc().find("line break"), std::string::npos) << client.errDesc();
  }
  EXPECT_FALSE(client.send("from@example.com\r\nRSET", {"to@example.com"}, "x"));
  EXPECT_EQ(client.errCode(), 121);
  EXPECT_TRUE(client.isConnected());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("C: MAIL", 0) == 0; }),
            0);

  SmtpClient greeter;
  SmtpOptions options = optionsFor(peer);
  options.heloName = "client.test\r\nMAIL FROM:<x@example.net>";
  EXPECT_FALSE(greeter.connect(options));
  EXPECT_EQ(greeter.errCode(), 121);
  EXPECT_TRUE(peer.received().empty());
}

TEST(SmtpClientLimitsTest, AServerThatStopsReadingEndsInATimeOut) {
  SmtpPeer peer({.stallDuringData = true});
  SmtpClient client;
  ASSERT_TRUE(client.connect(optionsFor(peer))) << client.errDesc();
  // Far more than the socket buffers of both ends hold.
  std::string message = "Subject: stuck\r\n\r\n";
  while (message.size() < 16'000'000) message += std::string(998, 's') + "\r\n";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.send("from@example.com", {"to@example.com"}, message));
  EXPECT_EQ(client.errCode(), 5) << client.errDesc();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_FALSE(client.isConnected());
}

}  // namespace
}  // namespace postrix::smtp
