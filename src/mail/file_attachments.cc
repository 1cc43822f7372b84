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
  log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() + " while " +
      what);
}

void Email::attachFile(const std::string& path) {
  if (cdo_)
    cdo_->AddAttachment(path);
  else if (mailBee_ && !mailBee_->AddAttachment(path))
    throw Failure(cdo_error::kSendFailed, mailBee_->Message().lastError());
}

void Email::writeAndAttach(std::string fileName, const std::string& body) {
  std::string path;
  try {
    path = settings_->filedestination() + "/" + fileName;
    files::writeFile(path, body + "\r\n");
    if (settings_->filelocation().empty()) attachFile(path);
    if (settings_->deletefileatt()) files::deleteFile(path);
  } catch (const Failure& failure) {
    fileFailed(failure, path.empty() ? "preparing the output folder" : "writing '" + path + "'");
  }
}

void Email::generateAndAttachCSV(const std::string& body, const std::string& reportTitle) {
  log("Attaching CSV File");
  std::string name = settings_->GetReportName(reportTitle, true);
  writeAndAttach(settings_->CSV_TEMP_FILE(name), body);
}

void Email::generateAndAttachAsHTML(const std::string& body, std::string fileName) {
  writeAndAttach(std::move(fileName), body);
}

void Email::AttachExternalFile() { attachFile(settings_->attachfile()); }

}  // namespace postrix
