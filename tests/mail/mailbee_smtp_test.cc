// The SMTP component with large messages, plain and over TLS, against the local test
// server: what arrives must be, byte for byte, what the component rendered.
#include "mail/mailbee_smtp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/smtp/host_name.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"

namespace postrix {
namespace {

class MailBeeLargeMessageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MailBeeLargeMessageTest, ArrivesByteForByte) {
  std::string tls = GetParam();
  test::SmtpPeer peer({.tls = tls, .maxSize = 64'000'000});
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
  // About 30 MB once rendered: an HTML table and a binary attachment of equal weight.
  const size_t size = 30'000'000;
  std::string html = "<table>\n";
  for (size_t row = 0; html.size() < size / 2; ++row)
    html += "<tr><td>" + std::to_string(row) + "</td><td>Umsätze € 100.00</td></tr>\n";
  html += "</table>\n";
  std::string bytes(size * 3 / 8, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 256 * 7919 >> 3);
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

  ASSERT_TRUE(smtp.Send()) << smtp.ErrCode << " " << smtp.ErrDesc << " " << smtp.ServerResponse;
  auto mails = peer.waitForMessages(1, 20'000);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"a@example.com", "boss@example.com"}));
  // Without a HELO name of its own the component greets with the host's domain or its address.
  std::string host = postrix::smtp::hostDomainName();
  EXPECT_EQ(mails[0].helo, host.empty() ? "[127.0.0.1]" : host);
  std::string sent = message.renderForSending();
  EXPECT_GT(sent.size(), 29'000'000u);
  EXPECT_TRUE(mails[0].data == sent)
      << "received " << mails[0].data.size() << " of " << sent.size() << " bytes, or other bytes";
}

INSTANTIATE_TEST_SUITE_P(Connections, MailBeeLargeMessageTest,
                         ::testing::Values("none", "starttls"));

}  // namespace
}  // namespace postrix
