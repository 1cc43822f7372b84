// Delivering a message and recording the outcome; saved messages.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "config/settings.h"
#include "mail/email.h"
#include "platform/db/connection.h"
#include "platform/file_system.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// Each recording step of a send runs whatever failed before it: a status
// statement that fails must not keep the send log row from being written.
template <class Step>
void ignoringErrors(Step&& step) {
  try {
    step();
  } catch (const Failure&) {
  }
}

}  // namespace

bool Email::usesSqlServerForms() const {
  std::error_code ec;
  return std::filesystem::exists(utilities_->programFolder() + "/issql.txt", ec);
}

std::string Email::savedFileName(const Variant& reportId, const std::string& folder) const {
  return freeFileName(utilities_->programFolder() + "/" + folder + "/",
                      reportId.toText() + "_" + settings_->filedate() + ".eml");
}

// Messages of one report on one day share a name: each alert recipient's,
// a dashboard's beside the favourite of its number, a second send of the
// day. A later copy gets "_2", "_3", ... so that none replaces another
// (a replaced file in "Failed" would be a message never resent).
std::string Email::freeFileName(const std::string& folder, const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(folder + fileName, ec)) return fileName;
  size_t dot = fileName.rfind('.');
  std::string stem = fileName.substr(0, dot), extension = fileName.substr(dot);
  for (int n = 2;; ++n) {
    std::string candidate = stem + "_" + std::to_string(n) + extension;
    if (!std::filesystem::exists(folder + candidate, ec)) return candidate;
  }
}

void Email::saveInto(const char* folderName, const Variant& reportId) {
  std::string folder = folderName;
  ignoringErrors([&] { SaveMessageFunction(savedFileName(reportId, folder), folder); });
}

void Email::send(const Variant& reportId, const Variant& recipientText, const Variant& companyId) {
  const Settings& s = *settings_;
  std::string status;
  bool sent = false;
  if (recipients_.empty() && !refusedAddresses_.empty()) {
    status = "ERROR: No usable address is left to send the message to; it is not sent.";
    log(status);
  } else if (cdo_) {
    try {
      cdo_->Send();
    } catch (const Failure& failure) {
      status = "ERROR (CDO): " + std::to_string(failure.number()) + " " + failure.description();
      log(status);
    }
  } else if (!mailBee_->Send()) {
    status = mailBeeFailureStatus();
    if (mailBee_->ErrCode == 123 && recipients_.find(',') != std::string::npos && !resending_) {
      log("Will resend individually");
      status += ". Will resend individually";
      // Each single send saves its own failure: the whole list saved too
      // would mail again those the singles reached.
      ResendOneByOne(recipients_, recipientText, companyId, reportId);
    } else if (s.SaveMessage()) {
      saveInto("Failed", reportId);
    }
  } else {
    if (s.SaveMessage()) saveInto("Sent", reportId);
    status = "Message successfully sent.";
    sent = true;
    log("Message successfully sent.");
  }
  recordOutcome(reportId, recipientText, companyId, status, sent);
}

void Email::recordNotSent(const Variant& reportId, const Variant& recipientText,
                          const Variant& companyId, const std::string& status) {
  log(status);
  recordOutcome(reportId, recipientText, companyId, status, false);
}

void Email::writeRefusedAddressRows(const Variant& reportId, const Variant& companyId) {
  for (const auto& [address, status] : refusedAddresses_)
    ignoringErrors(
        [&] { utilities_->WriteEmailLog(reportId, status, Variant(address), companyId); });
  refusedAddresses_.clear();
}

// The rows of one send go to the database as one transaction: one flush to
// disk instead of one per statement, which is most of what a send costs.
void Email::recordOutcome(const Variant& reportId, const Variant& recipientText,
                          const Variant& companyId, const std::string& status, bool sent) {
  const Settings& s = *settings_;
  bool statusColumns =
      !isDashboard_ && (s.laststatus() || (sent && (s.emailcount() || s.lastemailed())));
  if (!statusColumns && !s.emaillog()) {
    refusedAddresses_.clear();
    return;
  }
  db::Connection* connection = nullptr;
  ignoringErrors([&] {
    db::Connection& opened = utilities_->getSystemConn();
    opened.BeginTrans();
    connection = &opened;
  });
  if (sent) recordSuccess(reportId);
  if (s.laststatus() && !isDashboard_)
    ignoringErrors([&] {
      // A server reply may hold an apostrophe.
      utilities_->getSystemConn().Execute("update UserReports set laststatus='" +
                                          sqlQuoted(status) +
                                          "' where report_ID =" + sqlNumber(reportId));
    });
  writeRefusedAddressRows(reportId, companyId);
  ignoringErrors([&] { utilities_->WriteEmailLog(reportId, status, recipientText, companyId); });
  if (connection) ignoringErrors([&] { connection->CommitTrans(); });
}

std::string Email::mailBeeFailureStatus() {
  const MailBeeSmtp& m = *mailBee_;
  std::string status;
  switch (m.ErrCode) {
    case 12:
      status = "ERROR: SSL #" + (m.SSL ? m.SSL->SSLError : std::string());
      log(status);
      return status;
    case 4:
      status = "ERROR: Cannot connect to mail server: " + settings_->smtpServer() + ":" +
               std::to_string(settings_->smtpPort());
      log(status);
      return status;
    case 123:
      status =
          "ERROR: The mail server does not allow relaying of mail outside of its domain without "
          "authentication. Please set up authentication for the postrix, see the manual for "
          "details.";
      break;
    default:
      status = "ERROR (MailBee): " + std::to_string(m.ErrCode) + " " + m.ErrDesc;
      break;
  }
  log(status);
  log("Last server reply: " + m.ServerResponse);
  status += ". Last server reply: " + m.ServerResponse;
  return status;
}

void Email::recordSuccess(const Variant& reportId) {
  const Settings& s = *settings_;
  if (isDashboard_) return;
  bool sqlServer = usesSqlServerForms();
  if (s.emailcount())
    ignoringErrors([&] {
      utilities_->getSystemConn().Execute(
          std::string(sqlServer ? "UPDATE UserReports SET emailcount=CASE WHEN emailcount IS "
                                  "NULL THEN 1 ELSE emailcount+1 END WHERE report_id="
                                : "UPDATE UserReports SET "
                                  "emailcount=iif(isnull(emailcount),1,emailcount+1) WHERE "
                                  "report_id=") +
          sqlNumber(reportId));
    });
  if (s.lastemailed())
    ignoringErrors([&] {
      utilities_->getSystemConn().Execute(
          std::string(sqlServer ? "UPDATE UserReports SET last_emailed=GETDATE() WHERE report_id="
                                : "UPDATE UserReports SET last_emailed=Date() WHERE report_id=") +
          sqlNumber(reportId));
    });
}

void Email::ResendOneByOne(const std::string& list, const Variant& recipientText,
                           const Variant& companyId, const Variant& reportId) {
  resending_ = true;
  bool first = true;
  for (const auto& piece : split(list, ",")) {
    addAddress(trimBlanks(piece), reportId.toText());
    // One copy for the Bcc address: with the first single, and saved with
    // it into "Failed" when that one fails.
    if (!first) setBcc("");
    first = false;
    send(reportId, recipientText, companyId);
  }
}

void Email::SaveMessageFunction(const std::string& fileName, std::string& folder) {
  if (folder.find('/') == std::string::npos)
    folder = utilities_->programFolder() + "/" + folder + "/";
  std::error_code ec;
  // Saved messages hold recipients and report data: for the owner only.
  if (std::filesystem::create_directory(folder, ec)) chmod(folder.c_str(), 0700);
  std::string path = folder + fileName;
  if (mailBee_ && mailBee_->Message().SaveMessage(path))
    log("Message saved successfully to " + path);
  else
    log("Message not saved. " + std::to_string(err::kPathFileAccess) + " " +
        (mailBee_ ? mailBee_->Message().lastError() : std::string("This component saves no copy")));
}

bool Email::wasResent(const std::string& fingerprint) const {
  std::ifstream in(utilities_->programFolder() + "/" + RESENT_RECORD);
  for (std::string line; std::getline(in, line);)
    if (line == fingerprint) return true;
  return false;
}

void Email::recordResent(const std::string& fingerprint, const std::string& path) {
  try {
    files::appendDurably(utilities_->programFolder() + "/" + RESENT_RECORD, fingerprint);
    log("'" + path + "' is recorded as sent: later runs do not send it again.");
  } catch (const Failure& failure) {
    log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
        " while recording '" + path + "' as sent: a later run may send it again.");
  }
}

void Email::SendEmailMessage(const std::string& path) {
  initEmail(0);
  if (!mailBee_)
    throw Failure(err::kInvalidCall, "A saved message can only be sent by the MailBee component");
  if (!mailBee_->Message().ImportFromFile(path))
    throw Failure(err::kPathFileAccess, mailBee_->Message().lastError());
  std::string name = path.substr(path.rfind('/') + 1);
  std::string folder = utilities_->programFolder() + "/";
  // Its recipients already have it; only the file stayed behind.
  std::string sum = files::fingerprint(path);
  if (wasResent(sum)) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    log("Not sent again: '" + path + "' was sent by an earlier run" +
        (ec ? " and still cannot be removed (" + ec.message() + ")." : "; it is removed now."));
    return;
  }
  if (mailBee_->Send()) {
    std::string sent = folder + "Sent/";
    SaveMessageFunction(freeFileName(sent, name), sent);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    log("Message Sent");
    if (ec) {
      log("ERROR: " + std::to_string(err::kPathFileAccess) + " The sent message '" + path +
          "' cannot be removed (" + ec.message() + ").");
      recordResent(sum, path);
    }
  } else {
    std::string failed = folder + "Failed/";
    SaveMessageFunction(name, failed);
    log("Not Sent " + std::to_string(mailBee_->ErrCode) + " " + mailBee_->ErrDesc);
  }
}

}  // namespace postrix
