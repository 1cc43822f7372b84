#include "mail/mailbee_smtp.h"

#include "platform/clock.h"
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
    mime_.setHtmlBody(std::move(BodyText), charset_);
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

smtp::SmtpOptions MailBeeSmtp::options() const {
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
  o.password = Password;
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
  if (!client_.connect(options())) return failed();
  ServerResponse = client_.serverResponse();
  return true;
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
