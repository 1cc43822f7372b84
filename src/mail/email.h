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
#include <functional>   // the log of setUpMailServer
#include <memory>       // the component
#include <string>       // texts
#include <string_view>  // inputs
#include <utility>      // refused addresses
#include <vector>       // refused addresses

#include "mail/cdo_message.h"
#include "mail/mailbee_smtp.h"
#include "util/failure.h"
#include "util/variant.h"

namespace postrix {

class Settings;
class Utilities;
namespace workbook {
struct WorkbookLoss;
}

// Points the MailBee component at the run's mail server: address, time-out,
// certificate check, EHLO name, TLS and login as the settings give them
// (TLS and login only with a password, or with an OAuth 2.0 login, whose
// token source logs its warnings through log), and the component's protocol
// log into the run log with -debug.
void setUpMailServer(MailBeeSmtp& mailBee, const Settings& settings,
                     const std::function<void(const std::string&)>& log);

class Email {
 public:
  void setSettings(Settings& settings) { settings_ = &settings; }
  void setUtilities(Utilities& utilities) { utilities_ = &utilities; }

  // A fresh, empty message on a component set up from the run's settings.
  void initEmail(std::int32_t reportId);
  void setSubject(std::string_view subject);
  // The recipients: -oemail when given, else the text cut at "," and ";".
  // An address holding CR, LF or NUL could add headers or SMTP commands:
  // it is refused (logged now, its send log row written by send) and the
  // message goes to the others.
  void addAddress(std::string_view recipientText, std::string_view label);
  // Takes the body over: pages may be large, so the caller moves it in.
  void setBody(std::string body);
  // True, and logged, when the body is empty.
  bool checkNull(const std::string& body) const;

  // Delivers the message and records the outcome; never throws. When
  // addAddress refused every address nothing is sent and the status says so.
  // A message not delivered is saved into "Failed" (with -savemessage)
  // addressed to exactly those who lack it.
  void send(const Variant& reportId, const Variant& recipientText, const Variant& companyId);
  // Sends the message once to each address of list, each send recorded as
  // its own, under the favourite's report id. The Bcc address rides with
  // the first send only, so it gets one copy (or one saved failed copy).
  void ResendOneByOne(const std::string& list, const Variant& recipientText,
                      const Variant& companyId, const Variant& reportId);
  // Records a report that is not sent for the reason given as status: run
  // log, send log and, for a favourite with -laststatus, laststatus.
  void recordNotSent(const Variant& reportId, const Variant& recipientText,
                     const Variant& companyId, const std::string& status);
  // Saves the message as fileName into folder; a bare folder name means
  // that folder below the program's folder (created when missing) and is
  // replaced by its full path.
  // False (logged) when the message could not be saved.
  bool SaveMessageFunction(const std::string& fileName, std::string& folder);
  // Sends a saved message again: into "Sent" (and the file removed) when it
  // goes, back into "Failed" when not. Throws when the file cannot be read.
  // A sent file that cannot be removed is logged and its fingerprint kept
  // in RESENT_RECORD, so that no later run sends it again.
  void SendEmailMessage(const std::string& path);
  // In the program folder: one fingerprint a line of saved messages that
  // were sent but could not be removed from "Failed".
  static constexpr const char* RESENT_RECORD = "resent_messages.txt";

  // ---- Report files (file_attachments.cc) ----
  // Each writes the body and a CR LF into its file in the output folder,
  // replacing a file of that name, and attaches it unless the run exports
  // (-location); -deletefile removes the file again. A file that cannot be
  // written is logged and attached nothing; when the account may not write
  // there (75) the run's fileAccessError is set, which stops sending.
  // True when the file was written (and attached in mail mode); otherwise
  // fileError says why.
  bool generateAndAttachCSV(const std::string& body, const std::string& reportTitle);
  bool generateAndAttachAsHTML(const std::string& body, std::string fileName);
  // The report page as a workbook (excel_attachment.cc): "&ensp" read as
  // "&nbsp", the page written to its HTML file, converted by the EasyXLS
  // shape (-easyxls: .xlsx, or .xls with -excelformat .xls) or the Excel
  // shape (blank top rows removed unless -imageincluded, .xlsx; CSV with
  // -fileformat csv), then attached as the other report files are. False,
  // with fileError, when no workbook came of it: the message would promise
  // a spreadsheet it does not have.
  bool generateAndAttachAsExcel(std::string& body, std::string& reportTitle);
  // The page at source (a dashboard's address, or a report's HTML file) as
  // a PDF of the report title's name in the output folder, landscape for
  // kind "l" and portrait for "p", made by the converter (pdf_attachment.cc)
  // and attached unless the run exports. False, with fileError and "No
  // attachment Added" logged, when no PDF came of it; throws when the
  // component cannot attach it. formData is not used: the converter asks
  // for the page itself.
  bool generateAndAttachDashboardASPDF(std::string& source, const std::string& formData,
                                       std::string& kind, std::string& reportTitle,
                                       std::string& credentials);
  const std::string& fileError() const { return fileError_; }
  // Attaches the -attachfile file; the caller has checked that it exists.
  // Throws when it cannot be read.
  void AttachExternalFile();

  // ---- Chart images (chart_images.cc) ----
  // Downloads every chart image of the body ("<img src=\"analysis_...\"
  // border=...", at most 50) from the web application. With hasCharts the
  // body gets each as a data: address (it goes on as a stand-alone page);
  // otherwise each is attached as qx_chart<n>.jpg and referenced by its
  // content id. True when an image could not be downloaded: the caller
  // then does not send. isDashboard is not used.
  bool checkImg(std::string& body, bool isDashboard, bool hasCharts);

  // A dashboard's message: its outcome goes to the send log only, since the
  // status columns of UserReports belong to the favourite of that number.
  void setDashboard(bool isDashboard) { isDashboard_ = isDashboard; }

  // The recipient list addAddress built last.
  const std::string& recipients() const { return recipients_; }
  // The component, for the attachment builders: one of the two is set.
  MailBeeSmtp* mailBee() { return mailBee_.get(); }
  CdoMessage* cdo() { return cdo_.get(); }

 private:
  static std::string encodeBase64(std::string_view bytes);
  std::string downloadImage(const std::string& address);
  void attachChart(const std::string& path, const std::string& partName);
  // Writes a report file into the output folder and attaches it; the
  // attachment builders' one trap.
  bool writeAndAttach(std::string fileName, const std::string& body);
  void attachFile(const std::string& path);
  void fileFailed(const Failure& failure, const std::string& what);
  void convertWithEasyXls(const std::string& htmlPath, std::string& outPath);
  void convertWithExcel(const std::string& htmlPath, std::string& outPath);
  void logLoss(const std::string& path, const workbook::WorkbookLoss& loss) const;
  std::string senderText() const;
  // A name for a new saved message in the folder (below the program's folder).
  std::string savedFileName(const Variant& reportId, const std::string& folder) const;
  // fileName, or with "_2", "_3", ... before its extension when folder has it.
  static std::string freeFileName(const std::string& folder, const std::string& fileName);
  std::string mailBeeFailureStatus();
  void saveInto(const char* folderName, const Variant& reportId);
  void setBcc(const std::string& bcc);
  // Whether a saved message of this fingerprint was sent by an earlier run.
  bool wasResent(const std::string& fingerprint) const;
  void recordResent(const std::string& fingerprint, const std::string& path);
  bool sentHasCopy(const std::string& name, const std::string& fingerprint) const;
  void moveIntoSent(const std::string& path, const std::string& name,
                    const std::string& fingerprint, bool justSent);
  struct OutcomeWrite;
  std::vector<OutcomeWrite> outcomeWrites(const Variant& reportId, const Variant& recipientText,
                                          const Variant& companyId, const std::string& status,
                                          bool sent);
  void lost(const OutcomeWrite& write, const Failure& failure) const;
  void recordOutcome(const Variant& reportId, const Variant& recipientText,
                     const Variant& companyId, const std::string& status, bool sent);
  // Counts the outcome for the run's end (exit status, failure digest).
  void countOutcome(const Variant& reportId, const Variant& recipientText,
                    const std::string& status, bool sent) const;
  bool usesSqlServerForms() const;
  void log(std::string_view message) const;

  Settings* settings_ = nullptr;
  Utilities* utilities_ = nullptr;
  std::unique_ptr<CdoMessage> cdo_;
  std::unique_ptr<MailBeeSmtp> mailBee_;
  std::string recipients_;
  // The send log statuses of the addresses addAddress refused, still to be written.
  std::vector<std::pair<std::string, std::string>> refusedAddresses_;
  std::string fileError_;
  bool resending_ = false;
  bool isDashboard_ = false;
};

}  // namespace postrix
