// PDF attachments: a page or an address made into a PDF by the converter.
#include "config/settings.h"
#include "mail/email.h"
#include "mail/pdf_module.h"
#include "platform/file_system.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace postrix {

bool Email::generateAndAttachDashboardASPDF(std::string& source, const std::string& /*formData*/,
                                            std::string& kind, std::string& reportTitle,
                                            std::string& credentials) {
  fileError_.clear();
  std::string pdfPath;
  try {
    pdfPath = settings_->PDF_TEMP_FILE_WITH_PATH(reportTitle);
  } catch (const Failure& failure) {
    fileFailed(failure, "preparing the output folder");
    return false;
  }
  PDF_Module::ConverterRun run{utilities_, settings_->pdfTimeoutSeconds(),
                               settings_->programFolder()};
  if (!PDF_Module::convertToPdf(source, pdfPath, kind, credentials, settings_->wkarg(),
                                settings_->generatePDF(), run)) {
    fileError_ = "ERROR: The PDF '" + pdfPath + "' was not made";
    log("No attachment Added");
    return false;
  }
  // A failure to attach is the send pipeline's to handle: it ends the report.
  if (settings_->filelocation().empty()) attachFile(pdfPath);
  if (settings_->deletefileatt()) files::deleteFile(pdfPath);
  log("Attachment Added");
  return true;
}

}  // namespace postrix
