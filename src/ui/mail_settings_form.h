// MailSettingsForm: the mail settings form of -configure, without any
// terminal code. It holds the fields, which controls are enabled, the trace,
// and does what the form's buttons do: a test send through the run's mail
// component shapes, saving into the System table, and the equivalent
// command line. A view (mail_settings_view.h) draws it and feeds it keys;
// tests drive it directly.
//
// With method 6 (OAuth 2.0, MailBee only) the form shows the provider and
// its fields, the password box holds the application's client secret, and
// Save writes them into the OAuth 2.0 secrets file (owner-only), never into
// the System row; a test send asks the token endpoint for a fresh token
// each time (and keeps none), so it tries the secrets as they are typed.
//
// The form owns its mail component (a CdoMessage or a MailBeeSmtp) and
// replaces it with a fresh one after every failure it reports. Message
// boxes and the command window go to the callbacks the view sets; without
// them they are only traced. Everything runs on one thread: a test send
// blocks until it is done, calling doEvents between its steps.
#pragma once

#include <functional>  // the view's callbacks
#include <map>         // enabled states
#include <memory>      // the component
#include <optional>    // the focus request
#include <string>      // fields, texts
#include <vector>      // lists

#include "mail/cdo_message.h"
#include "mail/mailbee_smtp.h"
#include "platform/oauth/oauth_secrets.h"

namespace postrix {

class Clock;
class Settings;

// The form's controls, in the order Tab moves through them.
enum class Control {
  txtFrom,
  txtTo,
  txtMailServer,
  txtPort,
  cboAuth,
  txtUName,
  cboProvider,      // OAuth 2.0 only, as are the three below
  txtTenant,        // Microsoft 365 only
  txtRefreshToken,  // Google only
  txtClientId,
  txtPassw,  // the client secret with OAuth 2.0
  txtQXURL,
  chkSSL,
  chkStartTLS,
  txtTrace,
  cmdSend,
  cmdSave,
  cmdShowCmds,
  cmdOffice,
};

struct ControlInfo {
  Control id;
  const char* name;     // "txtFrom"
  const char* caption;  // "From:"
  const char* help;     // the status-line text; "" when the control has none
};

// Every control, in Tab order, with its caption and help text.
const std::vector<ControlInfo>& mailSettingsControls();

class MailSettingsForm {
 public:
  static constexpr const char* kCaption = "Quarvex Postrix";
  static constexpr const char* kOffice365Server = "smtp.office365.com";
  static constexpr const char* kCommandsCaption = "Command Line Options";
  static constexpr const char* kCommandsNote =
      "Note: For a full list of command line options, see 'postrix_manual.pdf'";
  // The authentication method of OAuth 2.0 (XOAUTH2), in the MailBee list.
  static constexpr int kOAuthMethod = 6;
  // The positions of providerList().
  static constexpr int kMicrosoft365 = 0, kGoogle = 1;

  // clock stamps the trace lines; traceFile is where they are appended
  // ("postrix.log": in the current folder).
  explicit MailSettingsForm(const Clock& clock, std::string traceFile = "postrix.log");
  ~MailSettingsForm();
  MailSettingsForm(const MailSettingsForm&) = delete;
  MailSettingsForm& operator=(const MailSettingsForm&) = delete;

  // ---- Before the form is shown ----
  void setMailerDebug(bool on) { mailerDebug_ = on; }
  void setDSN(const std::string& dsn) { dsn_ = dsn; }
  // Chooses the component, fills the authentication list for it, traces
  // the new entry, selects "0 - None".
  void setCDO(bool useCdo);
  // Fills the fields from the run's settings, as the form opens; with
  // method 6 the OAuth 2.0 fields from the secrets file the settings name.
  void fillFrom(const Settings& settings);
  // The OAuth 2.0 secrets file, and the -oauthfile value that named it
  // ("" for the default place); fillFrom sets both.
  void setOAuthFile(const std::string& path, const std::string& option = "");
  const std::string& oauthFile() const { return oauthFile_; }

  // ---- The fields, as the view edits them ----
  std::string txtFrom, txtTo, txtMailServer, txtPort, txtUName, txtPassw, txtQXURL;
  int cboAuth = 0;  // the position in authList()
  bool chkSSL = false, chkStartTLS = false;
  // OAuth 2.0: the position in providerList(), and the provider's fields.
  int cboProvider = kMicrosoft365;
  std::string txtTenant, txtRefreshToken, txtClientId;

  const std::vector<std::string>& authList() const { return authList_; }
  static const std::vector<std::string>& providerList();
  // Whether the fields stand for an OAuth 2.0 login (method 6, MailBee).
  bool usesOAuth() const;
  // The secrets the OAuth 2.0 fields give, over what else the secrets file
  // holds (scope, token_url, a certificate), when it can be read.
  oauth::OAuthSecrets oauthSecrets() const;
  // The caption and help of a control as the fields stand: the password box
  // is "Client Secret:" with OAuth 2.0.
  const char* captionOf(Control control) const;
  const char* helpOf(Control control) const;
  // The trace box: every traced message, CR LF between them.
  const std::string& trace() const { return trace_; }
  bool enabled(Control control) const;
  // chkStartTLS is hidden with the CDO component; the OAuth 2.0 fields
  // unless the method is OAuth 2.0, each of the provider's own fields
  // unless it is that provider.
  bool visible(Control control) const;
  bool usesCdo() const { return useCdo_; }

  // ---- What the controls do ----
  // The enabled state of the user name, password and both check boxes
  // after the authentication list changed.
  void check_auth();
  // Chooses a method as the list does. The password box holds a password,
  // or with OAuth 2.0 the client secret, and neither is kept as the other:
  // crossing between them empties it, and entering OAuth 2.0 fills its
  // fields from the secrets file.
  void chooseAuth(int position);
  // Enables or disables every input and the send button.
  void changeAll(bool enabled);
  // The Office 365 preset (OAuth 2.0 with Microsoft 365 for MailBee); asks
  // for the focus on txtUName, its text selected.
  void cmdOffice();
  // Sends the test message with the fields as they stand, tracing each step.
  // Never throws: every failure ends in DisplayError and the form stays usable.
  void cmdSend();
  // Validates and saves the fields into the System table, or lists the
  // command-line options an older database cannot hold; with OAuth 2.0 the
  // secrets go into the secrets file first. The outcome (the
  // collected errors, "Saved." or the option list) goes to showMessage.
  // Never throws: a database that cannot be opened is a message too.
  void cmdSave();
  // Builds the command line and hands it to showCommands.
  void cmdShowCmds();
  // The form closes: traces "Finished.".
  void Form_Unload();

  // The command line cmdShowCmds shows, for the fields as they stand.
  std::string commandLine() const;
  // The System row's db_version as a number (3.2.0 is 3.2); 0 when missing
  // or not three parts. Throws a Failure when the database cannot be read.
  double getDbVersion();
  static double dbVersionNumber(const std::string& text);
  // Quotes doubled and blanks trimmed, for a value inside SQL quotes.
  static std::string escapeSqlValue(const std::string& value);
  // A byte count or rate for the trace: "1023 B", "1 kB", "1.5 kB", "2.25 MB".
  static std::string getSize(double bytes);
  // The text for a MailBee error code ("Wrong password or username" for
  // 114), or "" for a code without one.
  static std::string mailBeeErrorText(int code);

  // ---- Set by the view ----
  std::function<void(const std::string& text)> showMessage;
  std::function<void(const std::string& commands)> showCommands;
  // Lets the view redraw (the trace) between the steps of a test send.
  std::function<void()> doEvents;
  // Set by cmdOffice for the view, which clears it once it has moved the focus.
  std::optional<Control> focusRequest;

 private:
  // Appends one message to the trace box and, as a run-log entry, to the
  // trace file. The two-part form keeps a designed line break of its own
  // and writes the value escaped.
  void traceLine(const std::string& message);
  void traceLine(const std::string& designed, const std::string& value);
  void message(const std::string& text);
  void newComponent();
  void sendWithCdo();
  void sendWithMailBee();
  bool fetchToken(MailBeeSmtp& mailer);
  void loadOAuthFields();
  void saveOAuthSecrets();
  void DisplayError();
  void displayCdoError(long number, const std::string& description);
  void events();

  const Clock& clock_;
  std::string traceFile_;
  bool mailerDebug_ = false, useCdo_ = false;
  std::string dsn_;
  std::string oauthFile_, oauthOption_;
  std::vector<std::string> authList_;
  std::string trace_;
  std::map<Control, bool> enabled_;
  std::unique_ptr<CdoMessage> cdo_;
  std::unique_ptr<MailBeeSmtp> mailBee_;
  double sendStart_ = 0, elapsed_ = 0;  // seconds, as the send events report them
  std::size_t messageSize_ = 0;
  std::string serverAtStart_, portAtStart_;
};

}  // namespace postrix
