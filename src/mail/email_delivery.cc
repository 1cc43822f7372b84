// Delivering a message and recording the outcome; saved messages.
#include <sys/stat.h>

#include <filesystem>

#include "config/settings.h"
#include "mail/email.h"
#include "platform/db/connection.h"
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

void Email::send(const Variant& reportId, const Variant& recipientText, const Variant& companyId) {
  const Settings& s = *settings_;
  std::string status;
  bool sent = false;
  if (cdo_) {
    try {
      cdo_->Send();
    } catch (const Failure& failure) {
      status = "ERROR (CDO): " + std::to_string(failure.number()) + " " + failure.description();
      log(status);
    }
  } else if (!mailBee_->Send()) {
    status = mailBeeFailureStatus(recipientText, companyId, reportId);
    if (s.SaveMessage()) {
      std::string folder = "Failed";
      ignoringErrors([&] { SaveMessageFunction(savedFileName(reportId, folder), folder); });
    }
  } else {
    if (s.SaveMessage()) {
      std::string folder = "Sent";
      ignoringErrors([&] { SaveMessageFunction(savedFileName(reportId, folder), folder); });
    }
    status = "Message successfully sent.";
    sent = true;
    log("Message successfully sent.");
  }
  recordOutcome(reportId, recipientText, companyId, status, sent);
}

// The rows of one send go to the database as one transaction: one flush to
// disk instead of one per statement, which is most of what a send costs.
void Email::recordOutcome(const Variant& reportId, const Variant& recipientText,
                          const Variant& companyId, const std::string& status, bool sent) {
  const Settings& s = *settings_;
  bool statusColumns =
      !isDashboard_ && (s.laststatus() || (sent && (s.emailcount() || s.lastemailed())));
  if (!statusColumns && !s.emaillog()) return;
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
  ignoringErrors([&] { utilities_->WriteEmailLog(reportId, status, recipientText, companyId); });
  if (connection) ignoringErrors([&] { connection->CommitTrans(); });
}

std::string Email::mailBeeFailureStatus(const Variant& recipientText, const Variant& companyId,
                                        const Variant& reportId) {
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
  if (m.ErrCode == 123 && recipients_.find(',') != std::string::npos && !resending_) {
    log("Will resend individually");
    status += ". Will resend individually";
    ResendOneByOne(recipients_, recipientText, companyId, reportId);
  }
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
  for (const auto& piece : split(list, ",")) {
    addAddress(trimBlanks(piece), reportId.toText());
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

void Email::SendEmailMessage(const std::string& path) {
  initEmail(0);
  if (!mailBee_)
    throw Failure(err::kInvalidCall, "A saved message can only be sent by the MailBee component");
  if (!mailBee_->Message().ImportFromFile(path))
    throw Failure(err::kPathFileAccess, mailBee_->Message().lastError());
  std::string name = path.substr(path.rfind('/') + 1);
  std::string folder = utilities_->programFolder() + "/";
  if (mailBee_->Send()) {
    std::string sent = folder + "Sent/";
    SaveMessageFunction(freeFileName(sent, name), sent);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    log("Message Sent");
  } else {
    std::string failed = folder + "Failed/";
    SaveMessageFunction(name, failed);
    log("Not Sent " + std::to_string(mailBee_->ErrCode) + " " + mailBee_->ErrDesc);
  }
}

}  // namespace postrix
