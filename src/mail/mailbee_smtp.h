// The SMTP component shape with a separate message and TLS object, over our
// own SMTP client and MIME writer.
//
// Properties are plain members, set before Connect or Send; Send connects
// when not connected, delivers the message to every To and BCC address, and
// disconnects again when it connected itself. Results are booleans, with
// ErrCode, ErrDesc and ServerResponse saying why (codes in smtp_client.h).
// An attached SSL object asks for TLS: STARTTLS with UseStartTLS, else TLS
// from the first byte.
//
// With AuthMethod 6 (XOAUTH2) and a token source, Connect logs in with an
// access token from the source; when the server refuses it, the token is
// dropped, one fresh token is asked for and the login is tried once more,
// never again. No token to be had fails with 117 and ErrDesc saying why;
// a token refused twice sets TokenRefused. Without a token source the
// Password is the token. One thread uses a component.
#pragma once

#include <cstddef>     // sizes
#include <functional>  // events
#include <memory>      // the SSL object
#include <string>      // properties

#include "platform/mime/mime_message.h"
#include "platform/oauth/token_source.h"
#include "platform/smtp/smtp_client.h"

namespace postrix {

class MailBeeSsl {
 public:
  bool UseStartTLS = false;
  int Protocol = 0;
  // The reason of the last TLS failure, as the TLS library gave it.
  std::string SSLError;
};

class MailBeeMessage {
 public:
  std::string FromAddr, ToAddr, BCCAddr, subject;
  // Taken over by the message when it is built (sent, saved or measured).
  std::string BodyText;
  int BodyFormat = 0;  // 1: HTML; otherwise plain text, sent as UTF-8

  // Attaches a file, read at once; false when it cannot be read.
  bool AddAttachment(const std::string& path, const std::string& contentType = "",
                     const std::string& contentId = "", const std::string& fileName = "");
  // Replaces the message by a saved one, sender and recipients included.
  bool ImportFromFile(const std::string& path);
  // Writes the whole message, Bcc included, as one MIME file.
  bool SaveMessage(const std::string& path);

  // The message as it goes out (no Bcc header): its header fields, and the
  // rest, which stays valid (and is not made again, neither for the next
  // send nor for SaveMessage) until the body or the attachments change.
  std::string headersForSending();
  const std::string& entity();
  std::size_t sizeForSending();
  // Both joined, a copy: for reading a message in tests, not for sending.
  std::string renderForSending() { return headersForSending() + entity(); }
  std::string envelopeFrom();
  std::vector<std::string> envelopeRecipients();
  // The error of the last failed import or save.
  const std::string& lastError() const { return lastError_; }
  void setCharset(const std::string& charset) { charset_ = charset; }
  void addHeader(const std::string& name, const std::string& value);

 private:
  // Brings the MIME message up to date with the properties.
  mime::MimeMessage& built();

  mime::MimeMessage mime_;
  std::string charset_ = "ISO-8859-1";
  bool imported_ = false;
  std::string lastError_;
};

class MailBeeSmtp {
 public:
  std::string ServerName;
  int PortNumber = 25;
  int Timeout = 30;
  int AuthMethod = 0;
  std::string UserName, Password;
  // Where access tokens come from with AuthMethod 6.
  std::shared_ptr<oauth::TokenSource> Tokens;
  std::shared_ptr<MailBeeSsl> SSL;
  // Accept any certificate (-insecuretls).
  bool AcceptAnyCertificate = false;
  // The name said in EHLO; when empty, the host's full domain name or, without
  // one, the address literal of the connection's local end.
  std::string HeloName;
  bool EnableLogging = false;
  std::string LogFilePath;

  // "Content-type" sets the message's character set; others become headers.
  void AddHeader(const std::string& name, const std::string& value);
  bool AddAttachment(const std::string& path) { return message_.AddAttachment(path); }
  MailBeeMessage& Message() { return message_; }

  // The size in bytes of the message as it would be sent.
  std::size_t MessageSize() { return message_.sizeForSending(); }
  bool Connect();
  bool Disconnect();
  bool IsConnected() const { return client_.isConnected(); }
  bool Send();

  int ErrCode = 0;
  std::string ErrDesc, ServerResponse;
  // The last Connect failed because the server refused the access token,
  // the fresh one too.
  bool TokenRefused = false;

  // Events for the mail settings form.
  std::function<void()> OnConnected, OnDisconnected;
  std::function<void(std::size_t)> OnSendStart;
  std::function<void()> OnSendComplete;

 private:
  smtp::SmtpOptions options(const std::string& secret) const;
  bool connectWith(const std::string& secret);
  bool connectWithToken();
  bool noToken(const std::string& why);
  bool failed();
  void logProtocol(const std::string& line) const;

  smtp::SmtpClient client_;
  MailBeeMessage message_;
};

}  // namespace postrix
