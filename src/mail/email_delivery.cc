// Delivering a message and recording the outcome; saved messages.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "config/settings.h"
#include "mail/email.h"
#include "platform/db/connection.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "run/run_failures.h"
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

// A message that cannot be saved is said loudly: one not in "Failed" is
// never resent.
void Email::saveInto(const char* folderName, const Variant& reportId) {
  std::string folder = folderName;
  bool saved = false;
  ignoringErrors([&] { saved = SaveMessageFunction(savedFileName(reportId, folder), folder); });
  if (saved) return;
  bool failed = std::string_view(folderName) == "Failed";
  std::string line = "ERROR: The message of report " + reportId.toText() + " to '" + recipients_ +
                     "' could not be saved into '" + folderName + "'" +
                     (failed ? ": it is lost, and -sendfailed cannot send it again."
                             : ": there is no copy of it.");
  log(escapedControls(line));
  writeEventLogWarning(escapedControls(line));
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

void Email::countOutcome(const Variant& reportId, const Variant& recipientText,
                         const std::string& status, bool sent) const {
  if (sent) {
    runFailures().sent();
    return;
  }
  // The list refused as a whole is sent again address by address, and each
  // of those sends counts for itself.
  if (endsWith(status, "Will resend individually")) return;
  FailedDelivery failure{(isDashboard_ ? "Dashboard " : "Report ") + reportId.toText(), "",
                         recipientText.toText(), status, "", 0};
  if (cdo_) failure.subject = cdo_->subject;
  if (mailBee_) {
    failure.subject = mailBee_->Message().subject;
    failure.serverReply = mailBee_->ServerResponse;
    failure.errorCode = mailBee_->ErrCode;
  }
  runFailures().failed(std::move(failure));
}

void Email::recordNotSent(const Variant& reportId, const Variant& recipientText,
                          const Variant& companyId, const std::string& status) {
  log(status);
  recordOutcome(reportId, recipientText, companyId, status, false);
}

// One write of a send's outcome, and what it holds, for the line that
// says it was lost.
struct Email::OutcomeWrite {
  std::string holds;
  std::function<void()> run;
};

std::vector<Email::OutcomeWrite> Email::outcomeWrites(const Variant& reportId,
                                                      const Variant& recipientText,
                                                      const Variant& companyId,
                                                      const std::string& status, bool sent) {
  const Settings& s = *settings_;
  Utilities& u = *utilities_;
  std::vector<OutcomeWrite> writes;
  std::string report = "report " + reportId.toText();
  if (sent && !isDashboard_) {
    bool sqlServer = usesSqlServerForms();
    if (s.emailcount())
      writes.push_back({"the emailcount of " + report, [&u, reportId, sqlServer] {
                          u.getSystemConn().Execute(
                              std::string(sqlServer ? "UPDATE UserReports SET emailcount=CASE "
                                                      "WHEN emailcount IS NULL THEN 1 ELSE "
                                                      "emailcount+1 END WHERE report_id="
                                                    : "UPDATE UserReports SET "
                                                      "emailcount=iif(isnull(emailcount),1,"
                                                      "emailcount+1) WHERE report_id=") +
                              sqlNumber(reportId));
                        }});
    if (s.lastemailed())
      writes.push_back({"the last_emailed of " + report, [&u, reportId, sqlServer] {
                          u.getSystemConn().Execute(
                              std::string(sqlServer
                                              ? "UPDATE UserReports SET last_emailed=GETDATE() "
                                                "WHERE report_id="
                                              : "UPDATE UserReports SET last_emailed=Date() "
                                                "WHERE report_id=") +
                              sqlNumber(reportId));
                        }});
  }
  if (s.laststatus() && !isDashboard_)
    writes.push_back(
        {"the laststatus of " + report + " ('" + status + "')", [&u, reportId, status] {
           // A server reply may hold an apostrophe.
           u.getSystemConn().Execute("update UserReports set laststatus='" + sqlQuoted(status) +
                                     "' where report_ID =" + sqlNumber(reportId));
         }});
  if (s.emaillog()) {
    for (const auto& [address, refusal] : refusedAddresses_)
      writes.push_back(
          {"the Email_Log row of " + report + " for '" + address + "' ('" + refusal + "')",
           [&u, reportId, refusal = refusal, address = address, companyId] {
             u.WriteEmailLog(reportId, refusal, Variant(address), companyId);
           }});
    writes.push_back({"the Email_Log row of " + report + " for '" + recipientText.toText() +
                          "' ('" + status + "')",
                      [&u, reportId, status, recipientText, companyId] {
                        u.WriteEmailLog(reportId, status, recipientText, companyId);
                      }});
  }
  refusedAddresses_.clear();
  return writes;
}

// The rows of one send go to the database as one transaction: one flush to
// disk instead of one per statement, which is most of what a send costs.
// A write that fails is skipped and the others still run, but never in
// silence: the run log and the system log say what it would have held.
void Email::recordOutcome(const Variant& reportId, const Variant& recipientText,
                          const Variant& companyId, const std::string& status, bool sent) {
  countOutcome(reportId, recipientText, status, sent);
  std::vector<OutcomeWrite> writes =
      outcomeWrites(reportId, recipientText, companyId, status, sent);
  if (writes.empty()) return;
  db::Connection& connection = utilities_->getSystemConn();
  try {
    connection.BeginTrans();
  } catch (const Failure& failure) {
    // Busy past -dbwait: each statement would wait as long again.
    for (const OutcomeWrite& write : writes) lost(write, failure);
    return;
  }
  std::vector<const OutcomeWrite*> done;
  for (const OutcomeWrite& write : writes) {
    try {
      write.run();
      done.push_back(&write);
    } catch (const Failure& failure) {
      lost(write, failure);
    }
  }
  try {
    connection.CommitTrans();
  } catch (const Failure& failure) {
    for (const OutcomeWrite* write : done) lost(*write, failure);
  }
}

void Email::lost(const OutcomeWrite& write, const Failure& failure) const {
  std::string line = "ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                     "; not written: " + write.holds + ".";
  log(escapedControls(line));
  writeEventLogWarning(escapedControls(line));
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
    case 117:
      // No server reply to show: the token endpoint, not the mail server, failed.
      status = "ERROR: " + m.ErrDesc;
      log(status);
      return status;
    case 3:
      // The component's own words name no host: say which name did not resolve.
      status = "ERROR: The mail server's name '" + settings_->smtpServer() +
               "' could not be resolved (MailBee 3 " + m.ErrDesc + ")";
      break;
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
  if (m.TokenRefused)
    log("ERROR: The mail server refused the access token for " + m.UserName + ": " +
        m.ServerResponse);
  log(status);
  log("Last server reply: " + m.ServerResponse);
  status += ". Last server reply: " + m.ServerResponse;
  return status;
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

bool Email::SaveMessageFunction(const std::string& fileName, std::string& folder) {
  if (folder.find('/') == std::string::npos)
    folder = utilities_->programFolder() + "/" + folder + "/";
  std::error_code ec;
  // Saved messages hold recipients and report data: for the owner only.
  if (std::filesystem::create_directory(folder, ec)) chmod(folder.c_str(), 0700);
  std::string path = folder + fileName;
  if (mailBee_ && mailBee_->Message().SaveMessage(path)) {
    log("Message saved successfully to " + path);
    return true;
  }
  log("Message not saved. " + std::to_string(err::kPathFileAccess) + " " +
      (mailBee_ ? mailBee_->Message().lastError() : std::string("This component saves no copy")));
  return false;
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
    std::string line = "ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                       " while recording '" + path + "' as sent: a later run may send it again.";
    log(line);
    writeEventLogWarning(line);
  }
}

// The file itself moves, so "Sent" holds the bytes that went out and the
// message is in one folder or the other at every moment. Where it cannot
// move, a copy is written and the original removed only once the copy is
// there; where neither works, it stays in "Failed", recorded as sent.
void Email::moveIntoSent(const std::string& path, const std::string& name,
                         const std::string& fingerprint, bool justSent) {
  std::string sent = utilities_->programFolder() + "/Sent/";
  std::error_code ec;
  if (std::filesystem::create_directory(sent, ec)) chmod(sent.c_str(), 0700);
  std::string target = sent + freeFileName(sent, name);
  try {
    files::moveDurably(path, target);
    log("Message saved successfully to " + target);
    return;
  } catch (const Failure&) {
    // Another file system, or no room for the name: try a copy.
  }
  if (SaveMessageFunction(freeFileName(sent, name), sent)) {
    std::filesystem::remove(path, ec);
    if (!ec) return;
    log("ERROR: " + std::to_string(err::kPathFileAccess) + " The sent message '" + path +
        "' cannot be removed (" + ec.message() + ").");
  } else {
    std::string line = "ERROR: The sent message '" + path +
                       "' could not be saved into 'Sent'; it stays in 'Failed'.";
    log(line);
    writeEventLogWarning(line);
  }
  if (justSent) recordResent(fingerprint, path);
}

// Whether "Sent" holds the file's bytes under its name or a "_N" form of it.
bool Email::sentHasCopy(const std::string& name, const std::string& fingerprint) const {
  std::string sent = utilities_->programFolder() + "/Sent/";
  size_t dot = name.rfind('.');
  std::string stem = name.substr(0, dot),
              extension = dot == std::string::npos ? "" : name.substr(dot);
  std::error_code ec;
  for (int n = 1;; ++n) {
    std::string candidate = sent + (n == 1 ? name : stem + "_" + std::to_string(n) + extension);
    if (!std::filesystem::exists(candidate, ec)) return false;
    try {
      if (files::fingerprint(candidate) == fingerprint) return true;
    } catch (const Failure&) {
      // An unreadable copy is no copy.
    }
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
    if (!sentHasCopy(name, sum)) {
      log("Not sent again: '" + path + "' was sent by an earlier run; it goes into 'Sent' now.");
      moveIntoSent(path, name, sum, false);
      return;
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    log("Not sent again: '" + path + "' was sent by an earlier run" +
        (ec ? " and still cannot be removed (" + ec.message() + ")." : "; it is removed now."));
    return;
  }
  if (mailBee_->Send()) {
    log("Message Sent");
    runFailures().sent();
    moveIntoSent(path, name, sum, true);
  } else {
    std::string failed = folder + "Failed/";
    SaveMessageFunction(name, failed);
    std::string status = "Not Sent " + std::to_string(mailBee_->ErrCode) + " " + mailBee_->ErrDesc;
    log(status);
    runFailures().failed({"Saved message " + path, mailBee_->Message().subject,
                          mailBee_->Message().ToAddr, status, mailBee_->ServerResponse,
                          mailBee_->ErrCode});
  }
}

}  // namespace postrix
