// Setting up a message: component, sender, subject, recipients and body.
#include "mail/email.h"

#include "config/settings.h"
#include "platform/oauth/token_source.h"
#include "platform/smtp/smtp_client.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {

void Email::log(std::string_view message) const { utilities_->Debugger(message); }

std::string Email::senderText() const {
  return "\"" + settings_->senderName() + "\" <" + settings_->emailSource() + ">";
}

void setUpMailServer(MailBeeSmtp& m, const Settings& s,
                     const std::function<void(const std::string&)>& log) {
  if (s.isMailerDebug()) {
    m.EnableLogging = true;
    m.LogFilePath = s.programFolder() + "/" + std::string(Settings::LOG_FILE);
  }
  m.ServerName = s.smtpServer();
  m.PortNumber = s.smtpPort();
  m.Timeout = s.smtpTimeout();
  m.AcceptAnyCertificate = s.insecureTls();
  m.HeloName = s.heloName();
  // An OAuth 2.0 login has no password here: its secrets are in a file of their own.
  bool oauth = s.smtpAuth() == smtp::auth::kXOAuth2;
  if (s.email_password().empty() && !oauth) return;
  if (s.useSSL()) {
    m.SSL = std::make_shared<MailBeeSsl>();
    m.SSL->UseStartTLS = s.UseStartTLS();
    m.SSL->Protocol = 0;
  }
  m.AuthMethod = s.smtpAuth();
  m.UserName = s.smtpUser();
  m.Password = s.email_password();
  if (!oauth) return;
  m.Tokens =
      std::make_shared<oauth::TokenSource>(oauth::secretsPath(s.oauthFile(), s.programFolder()),
                                           s.programFolder() + "/" + oauth::kTokenCacheFile);
  m.Tokens->onWarning = [log](const std::string& warning) { log("WARNING: " + warning); };
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
    setUpMailServer(*mailBee_, s, [this](const std::string& line) { log(line); });
    mailBee_->Message().FromAddr = senderText();
    mailBee_->AddHeader("Content-type", "text/html; charset=" + s.charset());
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

namespace {

bool holdsLineBreakOrNul(std::string_view address) {
  return address.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string refusalOf(const std::string& shownAddress) {
  return "ERROR: The address '" + shownAddress +
         "' holds a line break or NUL character and is not used.";
}

}  // namespace

void Email::addAddress(std::string_view recipientText, std::string_view label) {
  std::vector<std::string> pieces;
  if (!settings_->oEmail().empty()) {
    pieces.push_back(settings_->oEmail());
  } else {
    // Pieces are kept as written (not trimmed); a single character left
    // after the last separator is not an address and is dropped.
    std::string rest = replaceAll(recipientText, ",", ";");
    while (rest.size() >= 2) {
      size_t separator = rest.find(';');
      std::string piece = rest.substr(0, separator);
      std::string after = separator == std::string::npos ? "" : rest.substr(separator + 1);
      rest = after.size() >= 2 ? after : "";
      if (!piece.empty()) pieces.push_back(piece);
    }
  }
  std::string list;
  for (const std::string& piece : pieces) {
    if (holdsLineBreakOrNul(piece)) {
      std::string shown = escapedControls(piece);
      log(refusalOf(shown));
      refusedAddresses_.emplace_back(shown, refusalOf(shown));
      continue;
    }
    list += (list.empty() ? "" : ",") + piece;
  }
  list = replaceAll(list, "\"", "");
  recipients_ = list;
  if (cdo_)
    cdo_->To = list;
  else
    mailBee_->Message().ToAddr = list;
  setBcc(settings_->bccemail());
  log("Sending [" + std::string(label) + "] to: '" + list + "'");
}

void Email::setBcc(const std::string& bcc) {
  // The Bcc address comes from the run's settings, not from report data,
  // but it reaches the envelope all the same.
  if (bcc.empty() || holdsLineBreakOrNul(bcc)) {
    if (!bcc.empty()) log(refusalOf(escapedControls(bcc)));
    if (cdo_)
      cdo_->Bcc.clear();
    else
      mailBee_->Message().BCCAddr.clear();
    return;
  }
  if (cdo_)
    cdo_->Bcc = bcc;
  else
    mailBee_->Message().BCCAddr = bcc;
}

void Email::setBody(std::string body) {
  std::string formatted = utilities_->formatText(body);
  std::string().swap(body);  // the page as fetched is not needed past here
  if (cdo_) {
    cdo_->HTMLBody = std::move(formatted);
  } else {
    mailBee_->Message().BodyText = std::move(formatted);
    mailBee_->Message().BodyFormat = 1;
  }
}

bool Email::checkNull(const std::string& body) const {
  if (!body.empty()) return false;
  log("ERROR: Report body is blank.");
  return true;
}

}  // namespace postrix
