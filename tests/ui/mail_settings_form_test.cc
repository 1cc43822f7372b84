// The form's test send against the local mail server: what arrives, what the
// trace says step by step, and that a failure leaves the form usable.
#include "ui/mail_settings_form.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/mail_reader.h"
#include "support/run_fixture.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"
#include "support/token_endpoint.h"
#include "util/text.h"

namespace postrix::test {
namespace {

constexpr const char* kBody =
    "<html><body>This is a test email from the Reporting Postrix.</body></html>";

// Where the next send's part of the trace starts.
size_t mark(const MailSettingsForm& form) { return form.trace().size(); }

// Each part must stand in the trace after the previous one, from `from` on.
void expectInOrder(const std::string& trace, size_t from, const std::vector<std::string>& parts) {
  size_t at = from;
  for (const auto& part : parts) {
    size_t found = trace.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing \"" << part << "\" after:\n"
                                        << trace.substr(at);
    at = found + part.size();
  }
}

class MailSettingsFormTest : public ::testing::Test {
 protected:
  MailSettingsFormTest() : form(clock, dir.file("postrix.log")) {}
  ~MailSettingsFormTest() override { unsetenv("SSL_CERT_FILE"); }

  void fill(int port, int auth = 0, const std::string& password = SmtpPeer::kPassword) {
    form.txtFrom = " from@example.com ";
    form.txtTo = "to@example.com ";
    form.txtMailServer = " 127.0.0.1";
    form.txtPort = std::to_string(port);
    form.cboAuth = auth;
    form.txtUName = SmtpPeer::kUser;
    form.txtPassw = password;
    form.chkSSL = form.chkStartTLS = false;
  }

  FakeClock clock{Date::fromParts(2026, 12, 5, 17, 6, 37)};
  TempDir dir;
  MailSettingsForm form;
};

// One form for every case: a plain send after the TLS ones shows that no TLS
// object of an earlier send stays attached.
TEST_F(MailSettingsFormTest, SendsTheTestMessageAndTracesEachStep) {
  const struct {
    const char* tls;
    int auth;
    bool ssl, startTls;
    const char* host;
    std::vector<std::string> tlsLines;
  } cases[] = {
      {"starttls", 2, true, true, "127.0.0.1", {"Using SSL.", "Using StartTLS."}},
      {"implicit", 3, true, false, "localhost", {"Using SSL."}},
      {"none", 0, false, false, "127.0.0.1", {}},
  };
  form.setCDO(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tls);
    SmtpPeer peer({.tls = c.tls, .auth = c.auth ? "required" : "none"});
    setenv("SSL_CERT_FILE", peer.certificate().c_str(), 1);
    fill(peer.port(), c.auth);
    form.txtMailServer = c.host;
    form.chkSSL = c.ssl;
    form.chkStartTLS = c.startTls;
    size_t from = mark(form);
    form.cmdSend();

    auto mails = peer.waitForMessages(1);
    ASSERT_EQ(mails.size(), 1u) << form.trace().substr(from);
    EXPECT_EQ(mails[0].from, "from@example.com");
    EXPECT_EQ(mails[0].to, std::vector<std::string>{"to@example.com"});
    EXPECT_EQ(mails[0].authUser, c.auth ? SmtpPeer::kUser : "");
    EXPECT_EQ(mails[0].tls, c.ssl);
    std::string view = readerView(mails[0].data);
    EXPECT_NE(view.find("subject 'Reporting Test Email'"), std::string::npos) << view;
    EXPECT_NE(view.find(std::string("html '") + kBody), std::string::npos) << view;

    std::vector<std::string> lines = {"-------- New Email -------- 12/5/2026 5:06:37 PM"};
    lines.insert(lines.end(), c.tlsLines.begin(), c.tlsLines.end());
    lines.insert(lines.end(),
                 {"Connecting...", "Connected.",
                  "Message size: " + std::to_string(mails[0].data.size()) + " B. Sending...",
                  "Message sent successfully. "});
    expectInOrder(form.trace(), from, lines);
    std::string part = form.trace().substr(from);
    EXPECT_TRUE(std::regex_search(
        part, std::regex(R"(Sending\.\.\.\r\nMessage sent successfully\. \d+(\.\d)?s\. )"
                         R"((\d+(\.\d\d?)? (B|kB|MB)|0B)/s\.\r\nDisconnecting\.\.\.$)")))
        << part;
    EXPECT_EQ(part.find("Using StartTLS.") != std::string::npos, c.startTls);
  }
  std::string file = readFile(dir.file("postrix.log"));
  EXPECT_NE(file.find(" 5:06:37 PM [Connected.]\r\n"), std::string::npos) << file;
}

// A refused password is reported with the server's reply, and the fresh
// component sends once the password is right.
TEST_F(MailSettingsFormTest, ARefusedPasswordIsReportedAndTheNextSendWorks) {
  SmtpPeer peer({.auth = "required"});
  form.setCDO(false);
  fill(peer.port(), 1, "wrong");
  form.cmdSend();
  const std::string reported =
      "Wrong password or username, Error #114\r\n"
      "Server responded: 535 5.7.8 Authentication credentials invalid";
  expectInOrder(form.trace(), 0,
                {"Connecting...", "Unable to connect.", reported, "Disconnecting.",
                 "Creating Mailbee component."});
  // The designed break stays in the file's entry; the entry still ends the line.
  EXPECT_NE(readFile(dir.file("postrix.log")).find("[" + reported + "]\r\n"), std::string::npos);
  EXPECT_TRUE(peer.received().empty());

  form.txtPassw = SmtpPeer::kPassword;
  size_t from = mark(form);
  form.cmdSend();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u) << form.trace().substr(from);
  EXPECT_EQ(mails[0].authUser, SmtpPeer::kUser);
  expectInOrder(form.trace(), from, {"Connected.", "Message sent successfully. "});
}

// A redraw that fails halfway through a send ends that send, not the form.
TEST_F(MailSettingsFormTest, AFailingRedrawLeavesTheFormUsable) {
  SmtpPeer peer;
  form.setCDO(false);
  fill(peer.port());
  form.doEvents = [this] {
    if (endsWith(form.trace(), "Connected.")) throw std::runtime_error("no terminal");
  };
  EXPECT_NO_THROW(form.cmdSend());
  EXPECT_TRUE(form.enabled(Control::txtFrom));
  form.doEvents = nullptr;
  form.cmdSend();
  EXPECT_EQ(peer.waitForMessages(1).size(), 1u) << form.trace();
}

TEST_F(MailSettingsFormTest, AConnectionThatFailsIsReportedAndTheFieldsComeBack) {
  SmtpPeer plain;
  const struct {
    std::string port;
    bool ssl;
    std::string reported;
  } cases[] = {
      {std::to_string(closedPort()), false,
       "No such IP or SMTP service is not available. Check that the port is open, Error #4"},
      // A code without a text of the form's own: the component's description.
      {std::to_string(plain.port()), true, "SSL error, Error #12"},
  };
  form.setCDO(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    fill(0, c.ssl ? 1 : 0);
    form.txtPort = c.port;
    form.chkSSL = c.ssl;
    size_t from = mark(form);
    form.cmdSend();
    expectInOrder(form.trace(), from,
                  {"Connecting...", "Unable to connect.", c.reported + "\r\nDisconnecting.",
                   "Creating Mailbee component."});
    EXPECT_EQ(form.trace().find("Connected.", from), std::string::npos);
    EXPECT_TRUE(form.enabled(Control::txtFrom));
    EXPECT_TRUE(form.enabled(Control::cmdSend));
  }
}

TEST_F(MailSettingsFormTest, TheCdoComponentSendsAndReportsItsErrors) {
  SmtpPeer peer({.auth = "optional"});
  form.setCDO(true);
  fill(peer.port(), 1);
  form.txtMailServer = "";
  form.cmdSend();
  expectInOrder(form.trace(), 0,
                {"Using CDO Mail component.", "Using Authentication.", "Sending...",
                 "Message not sent.", "Error number: -2147220973",
                 "Error description: The transport failed to connect to the server.",
                 "Creating CDO mail component."});

  form.txtMailServer = "127.0.0.1";
  size_t from = mark(form);
  form.cmdSend();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u) << form.trace().substr(from);
  EXPECT_EQ(mails[0].authUser, SmtpPeer::kUser);
  EXPECT_NE(readerView(mails[0].data).find("subject 'Reporting Test Email'"), std::string::npos);
  expectInOrder(form.trace(), from, {"Sending...", "Message Sent."});
  EXPECT_TRUE(form.enabled(Control::txtFrom));
}

// Every OAuth 2.0 test send asks for a fresh token: the trace shows each
// step and what failed, never the client secret or the token.
TEST_F(MailSettingsFormTest, AnOAuthTestSendGetsAFreshTokenAndSaysWhatFailed) {
  SmtpPeer peer({.auth = "required", .oauthTokens = {"tok.form"}});
  TokenEndpoint endpoint({.tokens = {"tok.form", "tok.form", "tok.elsewhere"}});
  // What the form has no fields for comes from the secrets file.
  endpoint.writeSecrets(dir.file("oauth.conf"));
  form.setOAuthFile(dir.file("oauth.conf"));
  form.setCDO(false);
  fill(peer.port(), MailSettingsForm::kOAuthMethod, TokenEndpoint::kClientSecret);
  form.txtTenant = "contoso.onmicrosoft.com";
  form.txtClientId = TokenEndpoint::kClientId;
  const struct {
    const char* secret;
    std::vector<std::string> steps;
    bool sent, connects;
  } cases[] = {
      {TokenEndpoint::kClientSecret,
       {"Using OAuth 2.0 (XOAUTH2).", "Requesting an access token from " + endpoint.url(),
        "Access token received, valid for 3599 seconds.", "Connecting...", "Connected.",
        "Message sent successfully. "},
       true,
       true},
      {"typed-wrong",
       {"Requesting an access token from ", "No access token.",
        "No access token could be had for the mail server, Error #117\r\nReason: the token "
        "endpoint " +
            endpoint.url() + " answered HTTP 401: invalid_client (Invalid client secret provided.)",
        "Creating Mailbee component."},
       false,
       false},
      {TokenEndpoint::kClientSecret,  // the endpoint now gives a token for another server
       {"Access token received", "Connecting...", "Unable to connect.",
        "The mail server refused the access token, Error #114\r\nServer responded: 535 5.7.8 "
        "Authentication credentials invalid",
        "Creating Mailbee component."},
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.secret);
    form.txtPassw = c.secret;
    size_t from = mark(form);
    form.cmdSend();
    expectInOrder(form.trace(), from, c.steps);
    EXPECT_EQ(peer.waitForMessages(1, c.sent ? 5000 : 0).size(), 1u);
    EXPECT_EQ(form.trace().find("Connecting...", from) != std::string::npos, c.connects);
    EXPECT_TRUE(form.enabled(Control::txtClientId));
  }
  std::string file = readFile(dir.file("postrix.log"));
  for (const char* secret :
       {TokenEndpoint::kClientSecret, "typed-wrong", "tok.form", "tok.elsewhere"}) {
    EXPECT_EQ(form.trace().find(secret), std::string::npos) << secret;
    EXPECT_EQ(file.find(secret), std::string::npos) << secret;
  }
  EXPECT_EQ(endpoint.requests().size(), 3u) << "no token kept between test sends";
}

TEST_F(MailSettingsFormTest, TheOfficePresetChoosesOAuthAndTheFieldsFollowTheProvider) {
  form.setOAuthFile(dir.file("oauth.conf"));
  form.setCDO(false);
  EXPECT_FALSE(form.visible(Control::cboProvider));
  EXPECT_STREQ(form.captionOf(Control::txtPassw), "Password:");
  form.txtPassw = "a password";
  form.cmdOffice();
  EXPECT_EQ(form.txtPassw, "") << "a password is no client secret";
  EXPECT_EQ(form.txtMailServer, "smtp.office365.com");
  EXPECT_EQ(form.txtPort, "587");
  EXPECT_EQ(form.authList().at(form.cboAuth), "6 - OAuth 2.0 (XOAUTH2)");
  EXPECT_TRUE(form.chkSSL && form.chkStartTLS);
  EXPECT_STREQ(form.captionOf(Control::txtPassw), "Client Secret:");
  form.cboProvider = MailSettingsForm::kGoogle;
  EXPECT_TRUE(form.visible(Control::txtRefreshToken) && !form.visible(Control::txtTenant));
  form.txtPassw = "client secret";
  form.chooseAuth(2);
  EXPECT_EQ(form.txtPassw, "") << "nor is a client secret to be saved as a password";

  MailSettingsForm cdo(clock, dir.file("cdo.log"));
  cdo.setCDO(true);
  cdo.cmdOffice();
  EXPECT_EQ(cdo.cboAuth, 2) << "CDO knows no OAuth 2.0";
  EXPECT_FALSE(cdo.visible(Control::cboProvider));
}

TEST(MailSettingsFormTexts, SizesAreCutNotRounded) {
  const struct {
    double bytes;
    const char* shown;
  } cases[] = {{0, "0 B"},          {1023, "1023 B"},     {1024, "1 kB"},
               {1536, "1.5 kB"},    {2048, "2 kB"},       {1100, "1.07 kB"},
               {2047, "1.99 kB"},   {1048576, "1024 kB"}, {1048576 * 1.5, "1.5 MB"},
               {512.75, "512.75 B"}};
  for (const auto& c : cases) EXPECT_EQ(MailSettingsForm::getSize(c.bytes), c.shown) << c.bytes;
}

}  // namespace
}  // namespace postrix::test
