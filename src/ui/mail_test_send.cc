// The test send of the mail settings form: one message through the chosen
// component, every step traced, every failure reported and followed by a
// fresh component so the next attempt starts clean.
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <system_error>

#include "platform/clock.h"
#include "platform/oauth/oauth_error.h"
#include "platform/oauth/token_request.h"
#include "platform/smtp/smtp_client.h"
#include "ui/mail_settings_form.h"
#include "util/date_time.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/variant.h"

namespace postrix {
namespace {

constexpr const char* kSubject = "Reporting Test Email";
constexpr const char* kBody =
    "<html><body>This is a test email from the Reporting Postrix.</body></html>";

// Seconds on a clock that never jumps, so a send timed across a change of
// the wall clock still measures what it took.
double timerSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The shortest decimal text that reads back as the same value, never in
// exponent form: what the cuts below work on, so 1.07421875 stays exact.
std::string decimalText(double value) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

// The text cut `digits` characters after its decimal point, when it has one.
std::string cutAfterPoint(const std::string& text, std::size_t digits) {
  std::size_t point = text.find('.');
  if (point == std::string::npos) return text;
  return text.substr(0, point + 1 + digits);
}

std::int64_t epochSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// The port as the component takes a text for a number. A text that is no
// number becomes 0, which the connection refuses with its own error.
int portNumber(const std::string& text) {
  double value = 0;
  if (!parseNumber(text, value)) return 0;
  value = roundHalfEven(value);
  if (value < 0 || value > std::numeric_limits<int>::max()) return 0;
  return static_cast<int>(value);
}

void applyServerFields(const MailSettingsForm& form, MailBeeSmtp& mailer) {
  mailer.ServerName = trimBlanks(form.txtMailServer);
  mailer.PortNumber = portNumber(form.txtPort);
  mailer.AuthMethod = form.cboAuth;
  mailer.UserName = trimBlanks(form.txtUName);
  mailer.Password = trimBlanks(form.txtPassw);
}

void applyTestMessage(const MailSettingsForm& form, MailBeeMessage& mail) {
  mail.FromAddr = trimBlanks(form.txtFrom);
  mail.ToAddr = trimBlanks(form.txtTo);
  mail.subject = kSubject;
  mail.BodyText = kBody;
  mail.BodyFormat = 1;
}

}  // namespace

std::string MailSettingsForm::getSize(double bytes) {
  const char* unit = "B";
  if (bytes >= 1024) {
    bytes /= 1024;
    unit = "kB";
    if (bytes > 1024) {
      bytes /= 1024;
      unit = "MB";
    }
  }
  return cutAfterPoint(decimalText(bytes), 2) + " " + unit;
}

// The texts of the client's codes, but for TLS failures, which the
// component describes itself.
std::string MailSettingsForm::mailBeeErrorText(int code) {
  return code == 12 ? "" : smtp::errorText(code);
}

void MailSettingsForm::events() {
  if (doEvents) doEvents();
}

void MailSettingsForm::newComponent() {
  if (useCdo_) {
    mailBee_.reset();
    cdo_ = std::make_unique<CdoMessage>();
    return;
  }
  cdo_.reset();
  mailBee_ = std::make_unique<MailBeeSmtp>();
  if (mailerDebug_) {
    mailBee_->EnableLogging = true;
    mailBee_->LogFilePath = "postrix.log";
  }
  mailBee_->OnSendStart = [this](std::size_t) { sendStart_ = timerSeconds(); };
  mailBee_->OnSendComplete = [this] { elapsed_ = timerSeconds() - sendStart_; };
}

void MailSettingsForm::cmdSend() {
  try {
    Date now = clock_.now();
    traceLine("-------- New Email -------- " + shortDate(now) + " " + longTime(now));
    changeAll(false);
    if (useCdo_)
      sendWithCdo();
    else
      sendWithMailBee();
  } catch (const std::exception& e) {
    // Neither component throws past its own reporting; whatever did (the
    // view's redraw, memory) still leaves the form usable. The redraw may
    // fail again while this is traced: then only the report is lost.
    newComponent();
    try {
      traceLine("Message not sent.");
      traceLine("Error description: ", e.what());
    } catch (const std::exception&) {
    }
  }
  changeAll(true);
}

void MailSettingsForm::sendWithCdo() {
  traceLine("Using CDO Mail component.");
  try {
    if (!cdo_) newComponent();
    std::string server = trimBlanks(txtMailServer), port = trimBlanks(txtPort);
    if (!server.empty()) {
      cdo_->setField("sendusing", 2);
      cdo_->setField("smtpserver", server);
    }
    if (!port.empty()) cdo_->setField("smtpserverport", port);
    if (cboAuth >= 1) {
      traceLine("Using Authentication.");
      cdo_->setField("smtpauthenticate", cboAuth);
      cdo_->setField("sendusername", trimBlanks(txtUName));
      cdo_->setField("sendpassword", trimBlanks(txtPassw));
      if (chkSSL) {
        traceLine("Using SSL.");
        cdo_->setField("smtpusessl", true);
      }
    }
    cdo_->Update();
    cdo_->From = trimBlanks(txtFrom);
    cdo_->To = trimBlanks(txtTo);
    cdo_->subject = kSubject;
    cdo_->HTMLBody = kBody;
    traceLine("Sending...");
    cdo_->Send();
  } catch (const Failure& failure) {
    traceLine("Message not sent.");
    displayCdoError(failure.number(), failure.description());
    return;
  } catch (const std::exception& e) {
    traceLine("Message not sent.");
    displayCdoError(cdo_error::kSendFailed, e.what());
    return;
  }
  traceLine("Message Sent.");
}

void MailSettingsForm::displayCdoError(long number, const std::string& description) {
  traceLine("Error number: " + std::to_string(number));
  traceLine("Error description: ", description);
  cdo_.reset();
  traceLine("Creating CDO mail component.");
  newComponent();
}

void MailSettingsForm::sendWithMailBee() {
  if (!mailBee_) newComponent();
  MailBeeSmtp& mailer = *mailBee_;
  applyServerFields(*this, mailer);
  // A TLS object left from an earlier send would still ask for TLS.
  mailer.SSL.reset();
  if (chkSSL) {
    traceLine("Using SSL.");
    mailer.SSL = std::make_shared<MailBeeSsl>();
    if (chkStartTLS) {
      mailer.SSL->UseStartTLS = true;
      traceLine("Using StartTLS.");
    }
  }
  if (usesOAuth() && !fetchToken(mailer)) return;
  applyTestMessage(*this, mailer.Message());
  traceLine("Connecting...");
  events();
  if (!mailer.Connect()) {
    traceLine("Unable to connect.");
    DisplayError();
    return;
  }
  traceLine("Connected.");
  messageSize_ = mailer.MessageSize();
  traceLine("Message size: " + getSize(static_cast<double>(messageSize_)) + ". Sending...");
  sendStart_ = elapsed_ = 0;
  if (mailer.Send()) {
    std::string rate = elapsed_ != 0 ? getSize(static_cast<double>(messageSize_) / elapsed_) : "0B";
    traceLine("Message sent successfully. " + cutAfterPoint(decimalText(elapsed_), 1) + "s. " +
              rate + "/s.");
  } else {
    traceLine("Message not sent.");
    DisplayError();
  }
  // The failure report may have replaced the component with a fresh one,
  // which has nothing to disconnect; it is harmless all the same.
  traceLine("Disconnecting...");
  events();
  mailBee_->Disconnect();
}

// A fresh token on every test send: one from the cache would say nothing
// about the secrets as they are typed now.
bool MailSettingsForm::fetchToken(MailBeeSmtp& mailer) {
  oauth::OAuthSecrets secrets = oauthSecrets();
  traceLine("Using OAuth 2.0 (XOAUTH2).");
  traceLine("Requesting an access token from ", oauth::tokenEndpoint(secrets));
  events();
  try {
    oauth::AccessToken token = oauth::requestToken(secrets, epochSeconds());
    mailer.Password = token.value;
    traceLine("Access token received, valid for " + std::to_string(token.expiresIn) + " seconds.");
    return true;
  } catch (const oauth::OAuthError& e) {
    // The client secret must not go to the server as if it were a token.
    mailer.Password.clear();
    traceLine("No access token.");
    traceLine(smtp::errorText(117) + ", Error #117\r\nReason: ", e.what());
    traceLine("Creating Mailbee component.");
    newComponent();
    return false;
  }
}

void MailSettingsForm::DisplayError() {
  if (!mailBee_) {  // the CDO component reports through displayCdoError
    newComponent();
    return;
  }
  int code = mailBee_->ErrCode;
  std::string text = mailBeeErrorText(code);
  bool refusedToken = mailBee_->AuthMethod == kOAuthMethod && (code == 113 || code == 114);
  if (refusedToken) text = "The mail server refused the access token";
  if (text.empty()) text = mailBee_->ErrDesc;
  std::string line = text + ", Error #" + std::to_string(code);
  // The reply is the server's text: only it is escaped in the trace file,
  // the line break before it is ours.
  if (!mailBee_->ServerResponse.empty())
    traceLine(line + "\r\nServer responded: ", mailBee_->ServerResponse);
  else
    traceLine(line);
  traceLine("Disconnecting.");
  mailBee_->Disconnect();
  traceLine("Creating Mailbee component.");
  newComponent();
}

}  // namespace postrix
