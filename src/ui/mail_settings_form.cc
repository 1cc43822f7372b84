#include "ui/mail_settings_form.h"

#include "config/settings.h"
#include "platform/clock.h"
#include "run/run_log.h"
#include "util/date_time.h"

namespace postrix {
namespace {

constexpr const char* kSecureHelp =
    "Some mail servers require a secure connection before allowing you to send an email. Use "
    "this option for such mail servers.";

std::string stamp(const Clock& clock) {
  Date now = clock.now();
  return shortDate(now) + " " + longTime(now);
}

}  // namespace

const std::vector<ControlInfo>& mailSettingsControls() {
  static const std::vector<ControlInfo> controls = {
      {Control::txtFrom, "txtFrom", "From:",
       "Place the from email address here. Most SMTP servers require that the from email "
       "address is on the same domain as the mail server."},
      {Control::txtTo, "txtTo",
       "To:", "Place the email address of the person you would like to send this email to."},
      {Control::txtMailServer, "txtMailServer",
       "Mail Server:", "Place the address of your company's mail server here."},
      {Control::txtPort, "txtPort",
       "Port:", "Place the port on which the SMTP server is running. It is usually port 25."},
      {Control::cboAuth, "cboAuth", "Authentication:", ""},
      {Control::txtUName, "txtUName", "User Name:", ""},
      {Control::txtPassw, "txtPassw", "Password:", ""},
      {Control::txtQXURL, "txtQXURL", "QX URL:", ""},
      {Control::chkSSL, "chkSSL", "Use SSL", kSecureHelp},
      {Control::chkStartTLS, "chkStartTLS", "Use StartTLS", kSecureHelp},
      {Control::txtTrace, "txtTrace", "Trace:", "This is a trace of the programs activity."},
      {Control::cmdSend, "cmdSend", "Send Test Email", "Click to attempt to send the email."},
      {Control::cmdSave, "cmdSave", "Save Settings", ""},
      {Control::cmdShowCmds, "cmdShowCmds", "Show Commands", ""},
      {Control::cmdOffice, "cmdOffice", "Apply Office 365 Settings", ""},
  };
  return controls;
}

MailSettingsForm::MailSettingsForm(const Clock& clock, std::string traceFile)
    : clock_(clock), traceFile_(std::move(traceFile)) {}

MailSettingsForm::~MailSettingsForm() = default;

bool MailSettingsForm::enabled(Control control) const {
  auto found = enabled_.find(control);
  return found == enabled_.end() || found->second;
}

bool MailSettingsForm::visible(Control control) const {
  return !(useCdo_ && control == Control::chkStartTLS);
}

void MailSettingsForm::setCDO(bool useCdo) {
  useCdo_ = useCdo;
  traceLine("---------------- New Entry ---------------- " + stamp(clock_));
  authList_ = {"0 - None", "1 - Plain"};
  if (useCdo_) {
    traceLine("Creating CDO Mail component.");
    newComponent();
    authList_.push_back("2 - NTLM");
  } else {
    authList_.insert(authList_.end(), {"2 - Login", "3 - Cram-MD5", "4 - NTLM", "5 - MSN"});
    traceLine("Creating MailBee component.");
    newComponent();
  }
  cboAuth = 0;
  check_auth();
  serverAtStart_ = txtMailServer;
  portAtStart_ = txtPort;
}

void MailSettingsForm::fillFrom(const Settings& settings) {
  txtQXURL = settings.urlOrvanta();
  txtMailServer = settings.smtpServer();
  txtPort = std::to_string(settings.smtpPort());
  txtFrom = txtTo = settings.emailSource();
  txtUName = settings.smtpUser();
  if (settings.smtpAuth() == 0) return;
  txtPassw = settings.email_password();
  int stored = settings.smtpAuth();
  // A method the component's list has no entry for (NTLM of the other
  // component, say) cannot be selected; the administrator picks again.
  if (stored > 0 && stored < static_cast<int>(authList_.size()))
    cboAuth = stored;
  else
    traceLine("The stored authentication method " + std::to_string(stored) +
              " is not in this component's list; \"" + authList_.front() + "\" is selected.");
  chkSSL = settings.useSSL();
  chkStartTLS = settings.UseStartTLS();
  check_auth();
}

void MailSettingsForm::check_auth() {
  bool on = cboAuth >= 1;
  for (Control control :
       {Control::txtUName, Control::txtPassw, Control::chkSSL, Control::chkStartTLS})
    enabled_[control] = on;
}

void MailSettingsForm::changeAll(bool enabled) {
  for (Control control :
       {Control::txtFrom, Control::txtTo, Control::txtMailServer, Control::txtUName,
        Control::txtPassw, Control::cboAuth, Control::txtQXURL})
    enabled_[control] = enabled;
  check_auth();
  // While a send runs, the authentication fields must not take input either.
  if (!enabled)
    for (Control control :
         {Control::txtUName, Control::txtPassw, Control::chkSSL, Control::chkStartTLS})
      enabled_[control] = false;
  enabled_[Control::txtPort] = enabled;
  enabled_[Control::cmdSend] = enabled;
}

void MailSettingsForm::cmdOffice() {
  txtMailServer = kOffice365Server;
  txtPort = "587";
  cboAuth = 2;
  chkSSL = chkStartTLS = true;
  check_auth();
  focusRequest = Control::txtUName;
}

void MailSettingsForm::Form_Unload() { traceLine("Finished."); }

void MailSettingsForm::traceLine(const std::string& message) {
  // The trace file is a log another program may read as it grows: one
  // entry a line, whatever a server put into the message.
  RunLog(traceFile_).append(message, clock_.now());
  if (!trace_.empty()) trace_ += "\r\n";
  trace_ += message;
  events();
}

void MailSettingsForm::traceLine(const std::string& designed, const std::string& value) {
  RunLog(traceFile_).append(designed, value, clock_.now());
  if (!trace_.empty()) trace_ += "\r\n";
  trace_ += designed + value;
  events();
}

void MailSettingsForm::message(const std::string& text) {
  if (showMessage) showMessage(text);
}

}  // namespace postrix
