// The form's "Save Settings" and "Show Commands": the fields written into
// the System row, or, where the database is too old to hold them, the
// command-line options that carry them instead.
#include <exception>  // the last-resort catch of cmdSave
#include <memory>     // connections
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/oauth/oauth_secrets.h"
#include "ui/mail_settings_form.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"
#include "util/variant.h"

namespace postrix {
namespace {

// The database versions that brought the columns.
constexpr double kAddressColumnsVersion = 2.4;  // emailsource, urlorvanta, smtpserver, smtpport
constexpr double kAuthColumnsVersion = 3.2;     // smtpauth, smtpuser, smtppass, smtpssl, ...
// smtpauth carries the multiple-times marker as +100.
constexpr int kMultipleTimesMarker = 100;

constexpr const char* kOlderVersionText =
    "Some fields could not be saved because you are running an earlier version of Quarvex. "
    "Please add the below options to the command line options when calling the Postrix.";

// The three texts a save builds up.
struct SaveLists {
  std::string errors;   // each message followed by CR LF
  std::string sets;     // the UPDATE's assignments
  std::string options;  // what an older database cannot hold
};

std::string appendWithSeparator(const std::string& list, const std::string& item,
                                const std::string& separator) {
  return list.empty() ? item : list + separator + item;
}

std::string appendSetItem(const std::string& list, const std::string& item) {
  return appendWithSeparator(list, item, ", ");
}

void addError(SaveLists& lists, const std::string& text) { lists.errors += text + "\r\n"; }
void addSet(SaveLists& lists, const std::string& item) {
  lists.sets = appendSetItem(lists.sets, item);
}
void addOption(SaveLists& lists, const std::string& option) {
  lists.options = appendWithSeparator(lists.options, option, " ");
}

// Every call opens a connection of its own, so a save sees the database as
// it is now, not as it was when the form opened.
std::unique_ptr<db::Connection> getSystemConn(const std::string& dsn) {
  return db::Connection::Open(Utilities::systemConnectionString(dsn));
}

// The port goes into the UPDATE without quotes, so only plain digits may
// pass: a looser "numeric" test lets "1e3", "0x19" or "25;DROP" through.
bool isPortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  long port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535;
}

// The sender, URL or server: a column from 2.4 on, an option before.
void addTextField(SaveLists& lists, double version, const std::string& value, const char* column,
                  const char* option) {
  if (version >= kAddressColumnsVersion)
    addSet(lists, std::string(column) + "='" + MailSettingsForm::escapeSqlValue(value) + "'");
  else
    addOption(lists, std::string(option) + " " + value);
}

void addAddressFields(MailSettingsForm& form, double version, SaveLists& lists) {
  std::string from = trimBlanks(form.txtFrom);
  if (from.empty())
    addError(lists, "Please specify a value for the from address first.");
  else
    addTextField(lists, version, from, "emailsource", "-emailsource");

  std::string url = trimBlanks(form.txtQXURL);
  if (url.empty()) {
    addError(lists, "Please specify a value for the Quarvex Web URL first.");
  } else {
    // The box shows what is saved; its blanks would end up inside the URL.
    if (!endsWith(url, "/")) form.txtQXURL = url += "/";
    addTextField(lists, version, url, "urlorvanta", "-url");
  }

  std::string server = trimBlanks(form.txtMailServer);
  if (server.empty())
    addError(lists, "Please specify a value for the mail server first.");
  else
    addTextField(lists, version, server, "smtpserver", "-server");

  std::string port = trimBlanks(form.txtPort);
  if (!isPortNumber(port))
    addError(lists, "Please specify a numberic value for the mail server port first.");
  else if (version >= kAddressColumnsVersion)
    addSet(lists, "smtpport=" + port);
  else
    addOption(lists, "-port " + port);
}

// The stored method, for its multiple-times marker; 0 without a row or value.
int storedSmtpAuth(const std::string& dsn) {
  db::Recordset rs = getSystemConn(dsn)->Execute("SELECT smtpauth FROM System");
  if (rs.eof()) return 0;
  const Variant& value = rs.Fields("smtpauth");
  if (value.isNull() || !value.isNumeric()) return 0;
  return static_cast<int>(value.toDouble());
}

// What the secrets file will hold must be enough for a token request.
void checkOAuthFields(const MailSettingsForm& form, SaveLists& lists) {
  std::string missing = oauth::whatIsMissing(form.oauthSecrets());
  if (!missing.empty())
    addError(lists, "Please complete the OAuth 2.0 settings: they name " + missing + ".");
}

void addAuthColumns(MailSettingsForm& form, int stored, SaveLists& lists) {
  int method = form.cboAuth + (stored >= kMultipleTimesMarker ? kMultipleTimesMarker : 0);
  addSet(lists, "smtpauth=" + std::to_string(method));
  if (form.cboAuth < 1) {
    addSet(lists, "smtpssl='No'");
    addSet(lists, "smtpstarttls='No'");
    form.chkSSL = form.chkStartTLS = false;
    return;
  }
  if (trimBlanks(form.txtUName).empty())
    addError(lists, "Please specify a value for the user name.");
  addSet(lists, "smtpuser='" + MailSettingsForm::escapeSqlValue(form.txtUName) + "'");
  if (form.usesOAuth()) {
    // The client secret belongs in the secrets file; an old password goes.
    checkOAuthFields(form, lists);
    addSet(lists, "smtppass=''");
  } else {
    if (trimBlanks(form.txtPassw).empty())
      addError(lists, "Please specify a value for the password.");
    addSet(lists, "smtppass='" + MailSettingsForm::escapeSqlValue(form.txtPassw) + "'");
  }
  addSet(lists, std::string("smtpssl='") + (form.chkSSL ? "Yes" : "No") + "'");
  addSet(lists, std::string("smtpstarttls='") + (form.chkStartTLS ? "Yes" : "No") + "'");
}

void addAuthOptions(const MailSettingsForm& form, SaveLists& lists) {
  addOption(lists, "-auth " + std::to_string(form.cboAuth));
  addOption(lists, "-user " + form.txtUName);
  if (form.usesOAuth())
    checkOAuthFields(form, lists);
  else
    addOption(lists, "-pass " + form.txtPassw);
  if (!form.chkSSL) return;
  addOption(lists, "-ssl");
  if (form.chkStartTLS) addOption(lists, "-starttls");
}

void writeSystemRow(const std::string& dsn, const std::string& sets) {
  long written = 0;
  getSystemConn(dsn)->Execute("UPDATE System SET " + sets, &written);
  if (written == 0) throw Failure(err::kNoCurrentRecord, "The System table has no row");
}

std::string notSavedText(std::string reason) {
  if (endsWith(reason, ".")) reason.pop_back();
  return "The settings were not saved: " + reason + ".";
}

}  // namespace

void MailSettingsForm::cmdSave() {
  SaveLists lists;
  try {
    double version = getDbVersion();
    addAddressFields(*this, version, lists);
    if (version >= kAuthColumnsVersion)
      addAuthColumns(*this, storedSmtpAuth(dsn_), lists);
    else if (cboAuth >= 1)
      addAuthOptions(*this, lists);
    if (!lists.errors.empty()) return message(lists.errors);
    // The secrets first: a row that says OAuth 2.0 without them would fail every send.
    if (usesOAuth()) saveOAuthSecrets();
    // Below 2.4 nothing could be saved: the administrator still needs the options.
    if (!lists.sets.empty()) writeSystemRow(dsn_, lists.sets);
  } catch (const Failure& failure) {
    return message(notSavedText(std::to_string(failure.number()) + " " + failure.description()));
  } catch (const std::exception& e) {
    return message(notSavedText(e.what()));
  }
  std::string saved = lists.options.empty()
                          ? std::string("Saved.")
                          : kOlderVersionText + std::string("\r\n\r\n") + lists.options;
  if (usesOAuth())
    saved += "\r\n\r\nThe OAuth 2.0 secrets are in '" + oauthFile_ + "', for its owner only.";
  message(saved);
}

void MailSettingsForm::saveOAuthSecrets() { oauth::writeSecretsFile(oauthFile_, oauthSecrets()); }

void MailSettingsForm::cmdShowCmds() {
  if (showCommands) showCommands(commandLine());
}

// The values as a save or a test send would use them: trimmed, and a blank
// one left out like an empty one.
std::string MailSettingsForm::commandLine() const {
  std::string server = trimBlanks(txtMailServer), port = trimBlanks(txtPort),
              url = trimBlanks(txtQXURL), user = trimBlanks(txtUName),
              password = trimBlanks(txtPassw);
  std::string line = "postrix";
  if (!server.empty()) line += " -server " + server;
  if (!port.empty()) line += " -port " + port;
  if (!url.empty()) line += " -url " + url;
  if (cboAuth >= 1) {
    // The CDO list's NTLM is position 2; the option takes the MailBee number.
    line += " -auth " + std::to_string(useCdo_ && cboAuth == 2 ? 4 : cboAuth);
    // An empty -user would take the next option as its value.
    if (!user.empty() && user != trimBlanks(txtFrom)) line += " -user " + user;
    // The OAuth 2.0 secrets stay in their file, out of process lists and shell histories.
    if (usesOAuth() && !oauthOption_.empty()) line += " -oauthfile " + oauthOption_;
    if (!password.empty() && !usesOAuth()) line += " -pass " + password;
    if (chkStartTLS) line += " -starttls";
  }
  if (chkSSL) line += " -ssl";
  if (useCdo_) line += " -cdo";
  return line;
}

double MailSettingsForm::getDbVersion() {
  db::Recordset rs = getSystemConn(dsn_)->Execute("SELECT db_version FROM System");
  if (rs.eof()) return 0;
  const Variant& value = rs.Fields("db_version");
  if (value.isNull() || value.isEmpty()) return 0;
  return dbVersionNumber(value.toText());
}

double MailSettingsForm::dbVersionNumber(const std::string& text) {
  std::vector<std::string> parts = split(text, ".");
  if (parts.size() < 3) return 0;
  double major = 0, minor = 0;
  // A part that is no number makes the version unknown, as a missing one
  // does, rather than failing the save.
  if (!parseNumber(parts[0], major) || !parseNumber(parts[1], minor)) return 0;
  return major + minor / 10;
}

std::string MailSettingsForm::escapeSqlValue(const std::string& value) {
  if (value.empty()) return value;
  return trimBlanks(sqlQuoted(value));
}

}  // namespace postrix
