// The message-object shape of a mail component, over our own SMTP client
// and MIME writer.
//
// Configuration fields are set by their short names ("sendusing",
// "smtpserver", "smtpserverport", "smtpauthenticate", "sendusername",
// "sendpassword", "smtpusessl", "smtpconnectiontimeout") and apply from
// Update on. "smtpusessl" asks for STARTTLS; "smtpauthenticate" is 0 none,
// 1 basic (LOGIN or PLAIN, as the server offers), 2 NTLM. Send delivers to
// every To and Bcc address in one session and throws a Failure with the
// numbers and descriptions such a component gives:
//   0x80040213 cannot connect, 0x80040212 connection dropped, 0x8004020E
//   sender refused, 0x8004020F recipients refused, 0x80040217 logon failed,
//   0x80040211 any other failure to send.
// One thread uses a message.
#pragma once

#include <map>     // fields
#include <string>  // properties

#include "platform/mime/mime_message.h"
#include "util/variant.h"

namespace postrix {

namespace cdo_error {
inline constexpr long kCannotConnect = -2147220973;      // 0x80040213
inline constexpr long kConnectionLost = -2147220974;     // 0x80040212
inline constexpr long kSenderRefused = -2147220978;      // 0x8004020E
inline constexpr long kRecipientsRefused = -2147220977;  // 0x8004020F
inline constexpr long kLogonFailed = -2147220969;        // 0x80040217
inline constexpr long kSendFailed = -2147220975;         // 0x80040211
}  // namespace cdo_error

class CdoMessage {
 public:
  void setField(const std::string& name, const Variant& value) { pending_[name] = value; }
  void Update() { fields_ = pending_; }

  std::string From, To, Bcc, subject, HTMLBody;
  // Accept any certificate (-insecuretls).
  bool AcceptAnyCertificate = false;

  // Reads the file at once; a file that cannot be read fails with 0x80040211.
  void AddAttachment(const std::string& path);
  // An embedded part the HTML body refers to as "cid:" + reference: the part
  // carries reference as its content id and file name. Fails like AddAttachment.
  void AddRelatedBodyPart(const std::string& path, const std::string& reference,
                          const std::string& contentType);
  void Send();

 private:
  Variant field(const std::string& name) const;

  std::map<std::string, Variant> pending_, fields_;
  mime::MimeMessage attachments_;
};

}  // namespace postrix
