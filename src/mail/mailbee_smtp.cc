#include "mail/mailbee_smtp.h"

#include "platform/clock.h"
#include "platform/oauth/oauth_error.h"
#include "run/run_log.h"
#include "util/text.h"

namespace postrix {

bool MailBeeMessage::AddAttachment(const std::string& path, const std::string& contentType,
                                   const std::string& contentId, const std::string& fileName) {
  if (mime_.attachFile(path, contentType, contentId, fileName)) return true;
  lastError_ = "The file '" + path + "' cannot be read";
  return false;
}

void MailBeeMessage::addHeader(const std::string& name, const std::string& value) {
  mime_.addHeader(name, value);
}

bool MailBeeMessage::ImportFromFile(const std::string& path) {
  mime::MimeMessage imported;
  if (!imported.importFromFile(path, lastError_)) return false;
  mime_ = std::move(imported);
  FromAddr = mime_.from();
  ToAddr = mime_.to();
  BCCAddr = mime_.bcc();
  subject = mime_.subject();
  imported_ = true;
  return true;
}

mime::MimeMessage& MailBeeMessage::built() {
  if (imported_) return mime_;
  mime_.setFrom(FromAddr);
  mime_.setTo(ToAddr);
  mime_.setBcc(BCCAddr);
  mime_.setSubject(subject);
  // The body moves into the MIME message rather than being copied, so
  // BodyText reads empty once a message was built from it; the body stays
  // until BodyText is set again.
  if (!BodyText.empty()) {
    if (BodyFormat == 1)
      mime_.setHtmlBody(std::move(BodyText), charset_);
    else
      mime_.setPlainTextBody(std::move(BodyText));
    BodyText.clear();
  } else {
    mime_.setCharset(charset_);
  }
  return mime_;
}

bool MailBeeMessage::SaveMessage(const std::string& path) {
  return built().saveToFile(path, lastError_);
}

std::string MailBeeMessage::headersForSending() { return built().headerSection(false); }
const std::string& MailBeeMessage::entity() { return built().entity(); }
std::size_t MailBeeMessage::sizeForSending() { return built().renderedSize(false); }
std::string MailBeeMessage::envelopeFrom() { return built().envelopeFrom(); }
std::vector<std::string> MailBeeMessage::envelopeRecipients() {
  return built().envelopeRecipients();
}

void MailBeeSmtp::AddHeader(const std::string& name, const std::string& value) {
  if (equalsNoCase(name, "Content-type")) {
    size_t at = toLower(value).find("charset=");
    if (at != std::string::npos) message_.setCharset(trimBlanks(value.substr(at + 8)));
    return;
  }
  message_.addHeader(name, value);
}

smtp::SmtpOptions MailBeeSmtp::options(const std::string& secret) const {
  smtp::SmtpOptions o;
  o.host = ServerName;
  o.port = PortNumber;
  o.timeoutSeconds = Timeout;
  o.security = !SSL               ? smtp::Security::kNone
               : SSL->UseStartTLS ? smtp::Security::kStartTls
                                  : smtp::Security::kImplicitTls;
  o.insecureTls = AcceptAnyCertificate;
  o.authMethod = AuthMethod;
  o.user = UserName;
  o.password = secret;
  o.heloName = HeloName;
  return o;
}

// The protocol log goes where the component was told, as run log entries.
void MailBeeSmtp::logProtocol(const std::string& line) const {
  if (EnableLogging && !LogFilePath.empty()) RunLog(LogFilePath).append(line, SystemClock().now());
}

bool MailBeeSmtp::failed() {
  ErrCode = client_.errCode();
  ErrDesc = client_.errDesc();
  ServerResponse = client_.serverResponse();
  if (ErrCode == 12 && SSL) SSL->SSLError = client_.sslError();
  return false;
}

bool MailBeeSmtp::Connect() {
  ErrCode = 0;
  ErrDesc.clear();
  ServerResponse.clear();
  client_.onConnected = OnConnected;
  client_.onDisconnected = OnDisconnected;
  client_.onSendStart = OnSendStart;
  client_.onSendComplete = OnSendComplete;
  client_.onProtocolLine = [this](const std::string& line) { logProtocol(line); };
  TokenRefused = false;
  if (AuthMethod == smtp::auth::kXOAuth2 && Tokens) return connectWithToken();
  return connectWith(Password);
}

bool MailBeeSmtp::connectWith(const std::string& secret) {
  if (!client_.connect(options(secret))) return failed();
  ServerResponse = client_.serverResponse();
  return true;
}

// A cached token may have been revoked, or the clocks disagree on its end:
// one fresh token settles that. A fresh token refused as well means the
// server will not have this application or mailbox, and asking again would
// only hammer the endpoint.
bool MailBeeSmtp::connectWithToken() {
  for (int attempt = 1; attempt <= 2; ++attempt) {
    std::string token;
    try {
      token = attempt == 1 ? Tokens->token() : Tokens->freshToken();
    } catch (const oauth::OAuthError& e) {
      return noToken(e.what());
    }
    if (connectWith(token)) return true;
    bool refused = ErrCode == 113 || ErrCode == 114;
    if (!refused) return false;
  }
  TokenRefused = true;
  return false;
}

bool MailBeeSmtp::noToken(const std::string& why) {
  ErrCode = 117;
  ErrDesc = smtp::errorText(117) + ": " + why;
  ServerResponse.clear();
  return false;
}

bool MailBeeSmtp::Disconnect() {
  client_.disconnect();
  return true;
}

bool MailBeeSmtp::Send() {
  bool connectedHere = !client_.isConnected();
  if (connectedHere && !Connect()) return false;
  std::string headers = message_.headersForSending();
  bool sent = client_.send(message_.envelopeFrom(), message_.envelopeRecipients(),
                           {headers, message_.entity()});
  if (!sent) failed();
  ServerResponse = client_.serverResponse();
  if (connectedHere) client_.disconnect();
  return sent;
}

}  // namespace postrix
