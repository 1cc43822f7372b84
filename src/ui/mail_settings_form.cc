#include "ui/mail_settings_form.h"

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/oauth/oauth_error.h"
#include "platform/oauth/private_file.h"
#include "run/run_log.h"
#include "util/date_time.h"
#include "util/text.h"

namespace postrix {
namespace {

constexpr const char* kSecureHelp =
    "Some mail servers require a secure connection before allowing you to send an email. Use "
    "this option for such mail servers.";

constexpr const char* kClientSecretHelp =
    "The application's client secret. It is saved in the OAuth 2.0 secrets file, which only its "
    "owner may read, not in the database.";

// The controls that only an OAuth 2.0 login has.
bool isOAuthField(Control control) {
  return control == Control::cboProvider || control == Control::txtTenant ||
         control == Control::txtRefreshToken || control == Control::txtClientId;
}

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
      {Control::cboProvider, "cboProvider", "Provider:",
       "Microsoft 365 logs in as the application (client credentials); Google with the refresh "
       "token the mailbox's owner gave the application."},
      {Control::txtTenant, "txtTenant", "Tenant:",
       "The directory (tenant) id or domain of the Microsoft 365 organisation, e.g. "
       "contoso.onmicrosoft.com."},
      {Control::txtRefreshToken, "txtRefreshToken", "Refresh Token:",
       "The refresh token Google gave when the mailbox's owner allowed the application."},
      {Control::txtClientId, "txtClientId",
       "Client ID:", "The application (client) id of the application registered for Postrix."},
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
    : clock_(clock), traceFile_(std::move(traceFile)), oauthFile_(oauth::secretsPath("", ".")) {}

MailSettingsForm::~MailSettingsForm() = default;

bool MailSettingsForm::enabled(Control control) const {
  auto found = enabled_.find(control);
  return found == enabled_.end() || found->second;
}

bool MailSettingsForm::visible(Control control) const {
  if (useCdo_ && control == Control::chkStartTLS) return false;
  if (!isOAuthField(control)) return true;
  bool google = cboProvider == kGoogle;
  if (control == Control::txtTenant) return usesOAuth() && !google;
  if (control == Control::txtRefreshToken) return usesOAuth() && google;
  return usesOAuth();
}

const std::vector<std::string>& MailSettingsForm::providerList() {
  static const std::vector<std::string> list = {"Microsoft 365", "Google"};
  return list;
}

bool MailSettingsForm::usesOAuth() const { return !useCdo_ && cboAuth == kOAuthMethod; }

const char* MailSettingsForm::captionOf(Control control) const {
  if (control == Control::txtPassw && usesOAuth()) return "Client Secret:";
  for (const ControlInfo& info : mailSettingsControls())
    if (info.id == control) return info.caption;
  return "";
}

const char* MailSettingsForm::helpOf(Control control) const {
  if (control == Control::txtPassw && usesOAuth()) return kClientSecretHelp;
  for (const ControlInfo& info : mailSettingsControls())
    if (info.id == control) return info.help;
  return "";
}

void MailSettingsForm::setOAuthFile(const std::string& path, const std::string& option) {
  oauthFile_ = path;
  oauthOption_ = option;
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
    authList_.insert(authList_.end(), {"2 - Login", "3 - Cram-MD5", "4 - NTLM", "5 - MSN",
                                       "6 - OAuth 2.0 (XOAUTH2)"});
    traceLine("Creating MailBee component.");
    newComponent();
  }
  cboAuth = 0;
  check_auth();
  serverAtStart_ = txtMailServer;
  portAtStart_ = txtPort;
}

void MailSettingsForm::fillFrom(const Settings& settings) {
  setOAuthFile(oauth::secretsPath(settings.oauthFile(), settings.programFolder()),
               settings.oauthFile());
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
  if (!usesOAuth()) return;
  // The box is the client secret's now; a password left in the row is not one.
  txtPassw.clear();
  loadOAuthFields();
}

// A missing or unreadable file leaves the fields empty: the administrator
// fills them in, and saving writes the file (or says why it cannot).
void MailSettingsForm::loadOAuthFields() {
  if (!oauth::privateFileExists(oauthFile_))
    return traceLine("The OAuth 2.0 secrets file does not exist yet; Save Settings makes it: ",
                     oauthFile_);
  try {
    oauth::OAuthSecrets secrets = oauth::readSecretsFile(oauthFile_);
    cboProvider = secrets.isGoogle() ? kGoogle : kMicrosoft365;
    txtTenant = secrets.tenant;
    txtClientId = secrets.clientId;
    txtPassw = secrets.clientSecret;
    txtRefreshToken = secrets.refreshToken;
  } catch (const oauth::OAuthError& e) {
    traceLine("The OAuth 2.0 secrets were not read: ", e.what());
  }
}

oauth::OAuthSecrets MailSettingsForm::oauthSecrets() const {
  oauth::OAuthSecrets secrets;
  try {
    if (oauth::privateFileExists(oauthFile_)) secrets = oauth::readSecretsFile(oauthFile_);
  } catch (const oauth::OAuthError&) {
    // What the fields give is used all the same; saving reports the file.
  }
  bool google = cboProvider == kGoogle;
  secrets.provider = google ? oauth::kGoogle : oauth::kMicrosoft;
  secrets.tenant = google ? "" : trimBlanks(txtTenant);
  secrets.clientId = trimBlanks(txtClientId);
  secrets.clientSecret = trimBlanks(txtPassw);
  secrets.refreshToken = google ? trimBlanks(txtRefreshToken) : "";
  return secrets;
}

void MailSettingsForm::check_auth() {
  bool on = cboAuth >= 1;
  for (Control control :
       {Control::txtUName, Control::txtPassw, Control::chkSSL, Control::chkStartTLS,
        Control::cboProvider, Control::txtTenant, Control::txtRefreshToken, Control::txtClientId})
    enabled_[control] = on;
}

void MailSettingsForm::chooseAuth(int position) {
  bool wasOAuth = usesOAuth();
  cboAuth = position;
  if (usesOAuth() != wasOAuth) {
    txtPassw.clear();
    if (usesOAuth()) loadOAuthFields();
  }
  check_auth();
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
         {Control::txtUName, Control::txtPassw, Control::chkSSL, Control::chkStartTLS,
          Control::cboProvider, Control::txtTenant, Control::txtRefreshToken, Control::txtClientId})
      enabled_[control] = false;
  enabled_[Control::txtPort] = enabled;
  enabled_[Control::cmdSend] = enabled;
}

void MailSettingsForm::cmdOffice() {
  txtMailServer = kOffice365Server;
  txtPort = "587";
  // Microsoft 365 no longer takes passwords for mail submission; the CDO
  // component knows no OAuth 2.0 and keeps its older choice.
  cboProvider = kMicrosoft365;
  chooseAuth(useCdo_ ? 2 : kOAuthMethod);
  chkSSL = chkStartTLS = true;
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
