// The SMTP component with large messages, over each kind of connection, against the local
// test server: what arrives must be, byte for byte, what the component rendered.
#include "mail/mailbee_smtp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/smtp_peer.h"
#include "support/temp_database.h"

namespace postrix {
namespace {

using test::SmtpPeer;

std::string readFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

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

TEST_P(MailBeeLargeMessageTest, ArrivesByteForByteAndIsSavedAsSent) {
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

  // The copy saved after the send is the sent message plus its Bcc header (once: writing
  // and flushing 30 MB costs as much as the send).
  if (tls != "none") return;
  ASSERT_TRUE(smtp.Message().SaveMessage(dir.file("saved.eml"))) << smtp.Message().lastError();
  std::string saved = readFile(dir.file("saved.eml"));
  size_t bcc = saved.find("\r\nBcc: boss@example.com\r\n");
  ASSERT_NE(bcc, std::string::npos);
  EXPECT_TRUE(saved.erase(bcc + 2, 23) == sent);
}

INSTANTIATE_TEST_SUITE_P(Connections, MailBeeLargeMessageTest,
                         ::testing::Values("none", "starttls", "implicit"));

TEST(MailBeeSmtpTest, HeloNameIsSaidInEhlo) {
  SmtpPeer peer;
  MailBeeSmtp smtp;
  smtp.ServerName = "127.0.0.1";
  smtp.PortNumber = peer.port();
  smtp.HeloName = "reports.example.com";
  smtp.Message().FromAddr = "reports@example.com";
  smtp.Message().ToAddr = "a@example.com";
  smtp.Message().BodyText = "<p>hi</p>";
  ASSERT_TRUE(smtp.Send()) << smtp.ErrDesc;
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].helo, "reports.example.com");
}

}  // namespace
}  // namespace postrix
