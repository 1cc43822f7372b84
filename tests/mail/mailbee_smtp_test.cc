// The SMTP component with large messages, over each kind of connection, against the local
// test server: what arrives must be, byte for byte, what the component rendered.
#include "mail/mailbee_smtp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/smtp/host_name.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"

namespace postrix {
namespace {

using test::SmtpPeer;

// About mb megabytes once rendered: an HTML table and a binary attachment of equal weight.
void buildLargeMessage(MailBeeSmtp& smtp, const test::TempDir& dir, size_t mb) {
  std::string html = "<table>\n";
  for (size_t row = 0; html.size() < mb * 1'000'000 / 2; ++row)
    html += "<tr><td>" + std::to_string(row) + "</td><td>Umsätze € 100.00</td></tr>\n";
  html += "</table>\n";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i * 7919 >> 3);
  while (bytes.size() < mb * 1'000'000 * 3 / 8) bytes += bytes;
  bytes.resize(mb * 1'000'000 * 3 / 8);
  std::ofstream(dir.file("export.xlsx"), std::ios::binary) << bytes;

  MailBeeMessage& message = smtp.Message();
  message.FromAddr = "\"Reports\" <reports@example.com>";
  message.ToAddr = "a@example.com";
  message.BCCAddr = "boss@example.com";
  message.subject = "Large report";
  message.BodyText = html;
  message.BodyFormat = 1;
  smtp.AddHeader("Content-type", "text/html; charset=ISO-8859-1");
  ASSERT_TRUE(smtp.AddAttachment(dir.file("export.xlsx")));
}

class MailBeeLargeMessageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MailBeeLargeMessageTest, ArrivesByteForByte) {
  std::string tls = GetParam();
  SmtpPeer peer({.tls = tls, .maxSize = 64'000'000});
  test::TempDir dir;
  MailBeeSmtp smtp;
  smtp.ServerName = "127.0.0.1";
  smtp.PortNumber = peer.port();
  smtp.Timeout = 5;
  if (tls != "none") {
    smtp.SSL = std::make_shared<MailBeeSsl>();
    smtp.SSL->UseStartTLS = tls == "starttls";
    smtp.AcceptAnyCertificate = true;
  }
  buildLargeMessage(smtp, dir, 30);
  ASSERT_TRUE(smtp.Send()) << smtp.ErrCode << " " << smtp.ErrDesc << " " << smtp.ServerResponse;
  auto mails = peer.waitForMessages(1, 20'000);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"a@example.com", "boss@example.com"}));
  std::string sent = smtp.Message().renderForSending();
  EXPECT_GT(sent.size(), 29'000'000u);
  EXPECT_TRUE(mails[0].data == sent)
      << "received " << mails[0].data.size() << " of " << sent.size() << " bytes, or other bytes";
}

INSTANTIATE_TEST_SUITE_P(Connections, MailBeeLargeMessageTest,
                         ::testing::Values("none", "starttls", "implicit"));

TEST(MailBeeSmtpTest, GreetsWithTheHeloNameOrTheHostsDomainOrItsAddress) {
  SmtpPeer peer;
  std::string host = smtp::hostDomainName();
  size_t sent = 0;
  for (const std::string& given : {std::string(), std::string("reports.example.com")}) {
    MailBeeSmtp smtp;
    smtp.ServerName = "127.0.0.1";
    smtp.PortNumber = peer.port();
    smtp.HeloName = given;
    smtp.Message().FromAddr = "reports@example.com";
    smtp.Message().ToAddr = "a@example.com";
    smtp.Message().BodyText = "<p>hi</p>";
    ASSERT_TRUE(smtp.Send()) << smtp.ErrDesc;
    auto mails = peer.waitForMessages(++sent);
    ASSERT_EQ(mails.size(), sent);
    EXPECT_EQ(mails.back().helo, !given.empty() ? given : host.empty() ? "[127.0.0.1]" : host);
  }
}

}  // namespace
}  // namespace postrix
