#include "mail/cdo_message.h"

#include "platform/smtp/smtp_client.h"
#include "util/failure.h"

namespace postrix {
namespace {

// The failure such a component raises for a client error code.
Failure cdoFailure(const smtp::SmtpClient& client) {
  std::string reply = client.serverResponse();
  switch (client.errCode()) {
    case 3:
    case 4:
    case 5:
    case 8:
    case 12:
      return {cdo_error::kCannotConnect, "The transport failed to connect to the server."};
    case 6:
      return {cdo_error::kConnectionLost, "The transport lost its connection to the server."};
    case 111:
    case 112:
    case 113:
    case 114:
      return {cdo_error::kLogonFailed, "The transport was unable to log on to the server."};
    case 122:
      return {cdo_error::kSenderRefused,
              "The server rejected the sender address. The server response was: " + reply};
    case 123:
      return {
          cdo_error::kRecipientsRefused,
          "The server rejected one or more recipient addresses. The server response was: " + reply};
    default:
      return {
          cdo_error::kSendFailed,
          "The message could not be sent to the SMTP server. The server response was: " + reply};
  }
}

}  // namespace

Variant CdoMessage::field(const std::string& name) const {
  auto found = fields_.find(name);
  return found == fields_.end() ? Variant() : found->second;
}

void CdoMessage::AddAttachment(const std::string& path) {
  if (!attachments_.attachFile(path))
    throw Failure(cdo_error::kSendFailed, "The file '" + path + "' cannot be read.");
}

void CdoMessage::AddRelatedBodyPart(const std::string& path, const std::string& reference,
                                    const std::string& contentType) {
  if (!attachments_.attachFile(path, contentType, reference, reference))
    throw Failure(cdo_error::kSendFailed, "The file '" + path + "' cannot be read.");
}

void CdoMessage::Send() {
  smtp::SmtpOptions options;
  options.host = field("smtpserver").toText();
  options.port = field("smtpserverport").isEmpty() ? 25 : field("smtpserverport").toInt32();
  if (!field("smtpconnectiontimeout").isEmpty())
    options.timeoutSeconds = field("smtpconnectiontimeout").toInt32();
  int authenticate = field("smtpauthenticate").isEmpty() ? 0 : field("smtpauthenticate").toInt32();
  options.authMethod = authenticate == 1   ? smtp::auth::kBasic
                       : authenticate == 2 ? smtp::auth::kNtlm
                                           : smtp::auth::kNone;
  options.user = field("sendusername").toText();
  options.password = field("sendpassword").toText();
  if (!field("smtpusessl").isEmpty() && field("smtpusessl").toBool())
    options.security = smtp::Security::kStartTls;
  options.insecureTls = AcceptAnyCertificate;

  // The properties are set on the message holding the attachments rather than on a copy of
  // it: a copy of a large message is as large again.
  mime::MimeMessage& message = attachments_;
  message.setFrom(From);
  message.setTo(To);
  message.setBcc(Bcc);
  message.setSubject(subject);
  message.setHtmlBody(HTMLBody, "UTF-8");

  smtp::SmtpClient client;
  if (!client.connect(options)) throw cdoFailure(client);
  std::string headers = message.headerSection(false);
  bool sent = client.send(message.envelopeFrom(), message.envelopeRecipients(),
                          {headers, message.entity()});
  if (!sent) {
    Failure failure = cdoFailure(client);
    client.disconnect();
    throw failure;
  }
  client.disconnect();
}

}  // namespace postrix
