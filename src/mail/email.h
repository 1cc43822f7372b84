// Email: one outgoing message over the run's mail component.
//
// The send pipeline sets it up in this order: setUtilities, setSettings,
// initEmail, then subject, recipients, attachments and body in any order,
// and send last. send reports every outcome itself: one status text in the
// run log, the favourite's status columns and the send log; a message the
// server refuses is saved into "Failed" (with -savemessage) to be resent by
// a later -sendfailed run, and a refused list of recipients is retried one
// recipient at a time. The resend modes use SendEmailMessage.
// One thread uses an Email.
#pragma once

#include <cstdint>      // report ids
#include <memory>       // the component
#include <string>       // texts
#include <string_view>  // inputs

#include "mail/cdo_message.h"
#include "mail/mailbee_smtp.h"
#include "util/variant.h"

namespace postrix {

class Settings;
class Utilities;

class Email {
 public:
  void setSettings(Settings& settings) { settings_ = &settings; }
  void setUtilities(Utilities& utilities) { utilities_ = &utilities; }

  // A fresh, empty message on a component set up from the run's settings.
  void initEmail(std::int32_t reportId);
  void setSubject(std::string_view subject);
  // The recipients: -oemail when given, else the text cut at "," and ";".
  void addAddress(std::string_view recipientText, std::string_view label);
  void setBody(const std::string& body);
  // True, and logged, when the body is empty.
  bool checkNull(const std::string& body) const;

  // Delivers the message and records the outcome; never throws.
  void send(const Variant& reportId, const Variant& recipientText, const Variant& companyId);
  // Sends the message once to each address of list, each send recorded as
  // its own, under the favourite's report id.
  void ResendOneByOne(const std::string& list, const Variant& recipientText,
                      const Variant& companyId, const Variant& reportId);
  // Saves the message as fileName into folder; a bare folder name means
  // that folder below the program's folder (created when missing) and is
  // replaced by its full path.
  void SaveMessageFunction(const std::string& fileName, std::string& folder);
  // Sends a saved message again: into "Sent" (and the file removed) when it
  // goes, back into "Failed" when not. Throws when the file cannot be read.
  void SendEmailMessage(const std::string& path);

  // The recipient list addAddress built last.
  const std::string& recipients() const { return recipients_; }
  // The component, for the attachment builders: one of the two is set.
  MailBeeSmtp* mailBee() { return mailBee_.get(); }
  CdoMessage* cdo() { return cdo_.get(); }

 private:
  std::string senderText() const;
  std::string savedFileName(const Variant& reportId) const;
  std::string mailBeeFailureStatus(const Variant& recipientText, const Variant& companyId,
                                   const Variant& reportId);
  void recordSuccess(const Variant& reportId);
  bool usesSqlServerForms() const;
  void log(std::string_view message) const;

  Settings* settings_ = nullptr;
  Utilities* utilities_ = nullptr;
  std::unique_ptr<CdoMessage> cdo_;
  std::unique_ptr<MailBeeSmtp> mailBee_;
  std::string recipients_;
  bool resending_ = false;
};

}  // namespace postrix
