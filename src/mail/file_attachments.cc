// Report files: CSV and HTML attachments, exported files, the extra file.
#include "config/settings.h"
#include "mail/email.h"
#include "platform/file_system.h"
#include "run/module_state.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace postrix {

void Email::fileFailed(const Failure& failure, const std::string& what) {
  if (failure.number() == err::kPathFileAccess) fileAccessError = true;
  // Without this line the message would go out saying "see the attached
  // file" with nothing attached, and nobody would know why.
  fileError_ =
      "ERROR: " + std::to_string(failure.number()) + " " + failure.description() + " while " + what;
  log(fileError_);
}

void Email::attachFile(const std::string& path) {
  if (cdo_)
    cdo_->AddAttachment(path);
  else if (mailBee_ && !mailBee_->AddAttachment(path))
    throw Failure(cdo_error::kSendFailed, mailBee_->Message().lastError());
}

bool Email::writeAndAttach(std::string fileName, const std::string& body) {
  std::string path;
  fileError_.clear();
  try {
    path = settings_->filedestination() + "/" + fileName;
    files::writeFile(path, body + "\r\n");
    if (settings_->filelocation().empty()) attachFile(path);
  } catch (const Failure& failure) {
    fileFailed(failure, path.empty() ? "preparing the output folder" : "writing '" + path + "'");
    return false;
  }
  // The message already holds the file: a copy left behind is no reason
  // not to send it.
  try {
    if (settings_->deletefileatt()) files::deleteFile(path);
  } catch (const Failure& failure) {
    fileFailed(failure, "removing '" + path + "'");
  }
  return true;
}

bool Email::generateAndAttachCSV(const std::string& body, const std::string& reportTitle) {
  log("Attaching CSV File");
  std::string name = settings_->GetReportName(reportTitle, true);
  return writeAndAttach(settings_->CSV_TEMP_FILE(name), body);
}

bool Email::generateAndAttachAsHTML(const std::string& body, std::string fileName) {
  return writeAndAttach(std::move(fileName), body);
}

void Email::AttachExternalFile() { attachFile(settings_->attachfile()); }

}  // namespace postrix
