// Setting up a message: component, sender, subject, recipients and body.
#include "mail/email.h"

#include "config/settings.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {

void Email::log(std::string_view message) const { utilities_->Debugger(message); }

std::string Email::senderText() const {
  return "\"" + settings_->senderName() + "\" <" + settings_->emailSource() + ">";
}

void Email::initEmail(std::int32_t reportId) {
  const Settings& s = *settings_;
  log(" ------------ New Report " + std::to_string(reportId) + " ------------");
  cdo_.reset();
  mailBee_.reset();
  if (s.isCDO()) {
    cdo_ = std::make_unique<CdoMessage>();
    cdo_->From = senderText();
    if (!s.smtpServer().empty()) {
      cdo_->setField("sendusing", 2);
      cdo_->setField("smtpserver", s.smtpServer());
    }
    cdo_->setField("smtpserverport", s.smtpPort());
    // Without a password there is neither authentication nor TLS.
    if (!s.email_password().empty()) {
      cdo_->setField("smtpauthenticate", static_cast<int>(s.smtpAuth()));
      cdo_->setField("sendusername", s.smtpUser());
      cdo_->setField("sendpassword", s.email_password());
      if (s.useSSL()) cdo_->setField("smtpusessl", true);
    }
    cdo_->setField("smtpconnectiontimeout", static_cast<int>(s.smtpTimeout()));
    cdo_->Update();
    cdo_->AcceptAnyCertificate = s.insecureTls();
  } else {
    mailBee_ = std::make_unique<MailBeeSmtp>();
    if (s.isMailerDebug()) {
      mailBee_->EnableLogging = true;
      mailBee_->LogFilePath = s.programFolder() + "/" + std::string(Settings::LOG_FILE);
    }
    mailBee_->Message().FromAddr = senderText();
    mailBee_->AddHeader("Content-type", "text/html; charset=" + s.charset());
    mailBee_->ServerName = s.smtpServer();
    mailBee_->PortNumber = s.smtpPort();
    mailBee_->Timeout = s.smtpTimeout();
    if (!s.email_password().empty()) {
      if (s.useSSL()) {
        mailBee_->SSL = std::make_shared<MailBeeSsl>();
        mailBee_->SSL->UseStartTLS = s.UseStartTLS();
        mailBee_->SSL->Protocol = 0;
      }
      mailBee_->AuthMethod = s.smtpAuth();
      mailBee_->UserName = s.smtpUser();
      mailBee_->Password = s.email_password();
    }
    mailBee_->AcceptAnyCertificate = s.insecureTls();
    mailBee_->HeloName = s.heloName();
  }
  if (s.isMailerDebug()) {
    log("Server: " + s.smtpServer() + ". Port: " + std::to_string(s.smtpPort()) +
        ". Timeout: " + std::to_string(s.smtpTimeout()));
    if (s.smtpAuth() > 0) log("Username: '" + s.smtpUser() + "' password: 'XXXXXX'");
  }
}

void Email::setSubject(std::string_view subject) {
  if (cdo_)
    cdo_->subject = subject;
  else
    mailBee_->Message().subject = subject;
}

void Email::addAddress(std::string_view recipientText, std::string_view label) {
  std::string list;
  if (!settings_->oEmail().empty()) {
    list = settings_->oEmail();
  } else {
    // Pieces are kept as written (not trimmed); a single character left
    // after the last separator is not an address and is dropped.
    std::string rest = replaceAll(recipientText, ",", ";");
    while (rest.size() >= 2) {
      size_t separator = rest.find(';');
      std::string piece = rest.substr(0, separator);
      std::string after = separator == std::string::npos ? "" : rest.substr(separator + 1);
      rest = after.size() >= 2 ? after : "";
      if (!piece.empty()) list += (list.empty() ? "" : ",") + piece;
    }
  }
  list = replaceAll(list, "\"", "");
  recipients_ = list;
  const std::string& bcc = settings_->bccemail();
  if (cdo_) {
    cdo_->To = list;
    if (!bcc.empty()) cdo_->Bcc = bcc;
  } else {
    mailBee_->Message().ToAddr = list;
    if (!bcc.empty()) mailBee_->Message().BCCAddr = bcc;
  }
  log("Sending [" + std::string(label) + "] to: '" + list + "'");
}

void Email::setBody(const std::string& body) {
  std::string formatted = utilities_->formatText(body);
  if (cdo_) {
    cdo_->HTMLBody = formatted;
  } else {
    mailBee_->Message().BodyText = formatted;
    mailBee_->Message().BodyFormat = 1;
  }
}

bool Email::checkNull(const std::string& body) const {
  if (!body.empty()) return false;
  log("ERROR: Report body is blank.");
  return true;
}

}  // namespace postrix
