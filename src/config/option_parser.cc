#include "config/option_parser.h"

#include <algorithm>

#include "config/option_table.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "run/module_state.h"
#include "run/run_log.h"
#include "util/data_source_key.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

constexpr std::string_view kMaskedPassword = "XXXXXX";

bool isNumber(const std::string& value) { return Variant(value).isNumeric() && !value.empty(); }

bool fitsInt16(const std::string& value) {
  if (!isNumber(value)) return false;
  double v = roundHalfEven(Variant(value).toDouble());
  return v >= -32768 && v <= 32767;
}

std::string idListMessage(std::string_view what, std::string_view option, const std::string& list) {
  return "ERROR: You must specify a numeric list of " + std::string(what) +
         " IDs if you are using " + std::string(option) + ". You specified: " + list;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine, size_t maxTokens) {
  std::vector<std::string> tokens;
  bool open = false;
  for (char c : commandLine) {
    if (c == ' ' || c == '\t') {
      open = false;
      continue;
    }
    if (!open) {
      if (tokens.size() == maxTokens) break;
      tokens.emplace_back();
      open = true;
    }
    tokens.back() += c;
  }
  return tokens;
}

std::string Settings::readQuotedParams(const std::vector<std::string>& tokens, size_t index) {
  std::string v = tokens.at(index);
  if (startsWith(v, "\"") && !endsWith(v, "\"")) {
    for (size_t j = index + 1; j < tokens.size(); ++j) {
      v += " " + tokens[j];
      if (endsWith(tokens[j], "\"")) break;
    }
  }
  if (startsWith(v, "\"")) v.erase(0, 1);
  if (endsWith(v, "\"")) v.pop_back();
  return v;
}

bool Settings::checkReportIDList(std::string_view list) {
  for (char c : list)
    if (!((c >= '0' && c <= '9') || c == ',' || c == ' ' || c == ':')) return false;
  return true;
}

std::string Settings::sanitizeUrlOrvanta(std::string_view url) {
  std::string u = trimBlanks(url);
  if (u.empty()) u = DEFAULT_WEB_URL;
  if (!endsWith(u, "/")) u += "/";
  return u;
}

bool Settings::ParseCmdLineOptions(std::string_view commandLine) {
  return OptionParser(*this, commandLine).run();
}

OptionParser::OptionParser(Settings& settings, std::string_view commandLine)
    : s_(settings), tokens_(splitCommandLine(commandLine)) {
  // The -pass value is every token a quoted value would take after it; after
  // a mistyped -pass (refused later) the password is there all the same.
  for (size_t i = 0; i + 1 < tokens_.size(); ++i) {
    bool pass = tokens_[i] == "-pass" || (startsWith(tokens_[i], "-") && !findOption(tokens_[i]) &&
                                          closestOption(tokens_[i]) == "-pass");
    if (!pass) continue;
    size_t last = i + 1;
    if (startsWith(tokens_[last], "\"") && !endsWith(tokens_[last], "\""))
      while (last + 1 < tokens_.size() && !endsWith(tokens_[last], "\"")) ++last;
    for (size_t j = i + 1; j <= last; ++j) secrets_.push_back(tokens_[j]);
    // Quoted values reach messages without their quotes.
    secrets_.push_back(Settings::readQuotedParams(tokens_, i + 1));
  }
  std::erase(secrets_, std::string());
  // Longest first, so a secret that contains another is hidden whole.
  std::sort(secrets_.begin(), secrets_.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

bool OptionParser::pass(std::string_view option, const Action& action) {
  const OptionEntry& entry = requireOption(option);
  OptionKind kind = entry.kind;
  size_t after = kind == OptionKind::kFlag ? 0 : kind == OptionKind::kPair ? 2 : 1;
  for (size_t i = 0; i + after < tokens_.size(); ++i) {
    if ((entry.anyCase ? toLower(tokens_[i]) : tokens_[i]) != option) continue;
    std::string v;
    if (kind == OptionKind::kValue) v = tokens_[i + 1];
    if (kind == OptionKind::kQuoted) v = Settings::readQuotedParams(tokens_, i + 1);
    if (kind == OptionKind::kPair) v = tokens_[i + 1] + " " + tokens_[i + 2];
    if (!action(v)) return false;
  }
  return true;
}

bool OptionParser::flag(std::string_view option, bool& target) {
  return pass(option, [&](const std::string&) { return target = true; });
}

bool OptionParser::value(std::string_view option, std::string& target) {
  return pass(option, [&](const std::string& v) {
    target = v;
    return true;
  });
}

bool OptionParser::number16(std::string_view option, std::int16_t& target, std::string_view hint) {
  return pass(option, [&, option](const std::string& v) {
    if (!fitsInt16(v))
      return reject("ERROR: The " + std::string(option) + " value '" + masked(v) +
                    "' is not a number. Please enter " + std::string(hint) + ".");
    target = Variant(v).toInt16();
    return true;
  });
}

bool OptionParser::reject(const std::string& message) {
  s_.log(message);
  return rejected(escapedControls(message));
}

bool OptionParser::reject(std::string_view designed, const std::string& value) {
  s_.log(designed, value);
  return rejected(std::string(designed) + escapedControls(value));
}

bool OptionParser::rejected(const std::string& shown) {
  if (!s_.rejection_.empty()) s_.rejection_ += "\n";
  s_.rejection_ += shown;
  s_.commandLineRejected_ = true;
  return false;
}

bool OptionParser::onlyKnownOptions() {
  std::vector<std::string> unknown = unknownOptions(tokens_);
  for (const auto& token : unknown) {
    std::string meant = closestOption(token);
    reject("ERROR: Unknown option '" + masked(token) + "'" +
           (meant.empty() ? "." : "; did you mean " + meant + "?") +
           " Nothing was read or sent. postrix --help lists the options.");
  }
  return unknown.empty();
}

std::string OptionParser::masked(std::string_view text) const {
  // One walk, so a mask is never searched again for a secret.
  std::string out;
  for (size_t i = 0; i < text.size();) {
    auto hit = std::find_if(secrets_.begin(), secrets_.end(), [&](const std::string& secret) {
      return startsWith(text.substr(i), secret);
    });
    if (hit == secrets_.end()) {
      out += text[i++];
      continue;
    }
    out += kMaskedPassword;
    i += hit->size();
  }
  // A connection string's own password is as secret as -pass.
  return withoutPasswords(out);
}

std::string OptionParser::argsText() const {
  std::string args = "Args: '";
  for (const auto& token : tokens_) args += " " + masked(token);
  return args + "'";
}

void OptionParser::writeHeader() {
  Date now = s_.clock_.now();
  s_.log("");
  s_.log("---------------- New Entry ---------------- " + shortDate(now) + " " + longTime(now));
  s_.log(argsText());
}

bool OptionParser::run() {
  pass("-nolog", [&](const std::string&) {
    s_.isDebug_ = s_.isMailerDebug_ = false;
    return true;
  });
  writeHeader();
  // A mistyped option must not turn into an ordinary run that mails reports.
  if (!onlyKnownOptions()) return true;
  value("-dsn", s_.systemDSN_);
  if (!dbWaitPass()) return true;
  s_.LoadSystemDefaults();
  bool goOn = maintenancePasses() && connectionPasses() && contentPasses() && listPasses() &&
              intervalPasses() && outputPasses() && modePasses();
  if (goOn) warnOfPlainLogin();
  return !goOn;
}

// The mail components turn TLS on only under conditions of their own: SSL
// with a login (a password, or -auth 6), STARTTLS only together with SSL.
// A run asked for TLS that will not have it says so; and a password (or
// token) sent where anyone on the way can read it is said on every run,
// since nobody looks at settings that seem to work.
void OptionParser::warnOfPlainLogin() const {
  bool login = s_.smtpAuth_ != 0 && (!s_.email_password_.empty() || s_.smtpAuth_ == 6);
  if (s_.UseStartTLS_ && !s_.useSSL_)
    s_.log(
        "WARNING: STARTTLS is asked for (-starttls or smtpstarttls) without SSL (-ssl or "
        "smtpssl), and STARTTLS is used only together with SSL: this run's mail goes without "
        "TLS.");
  else if (s_.useSSL_ && s_.email_password_.empty() && s_.smtpAuth_ != 6)
    s_.log(
        "WARNING: SSL is asked for (-ssl or smtpssl), but no SMTP password is set, and SSL is "
        "used only with a login: this run's mail goes without TLS.");
  if (!login || s_.useSSL_ || s_.plainAuthOk_) return;
  s_.log("WARNING: The mail server login (authentication method " + std::to_string(s_.smtpAuth_) +
         ") goes over a connection without TLS, where the password can be read on the way. "
         "Use -ssl (with -starttls for STARTTLS), or give -plainauthok to accept it.");
}

// Passes 1 to 5: the maintenance commands, -multitime and -configure.
bool OptionParser::maintenancePasses() {
  pass("-enablemultitime", [&](const std::string&) {
    s_.utilities().enableMultiTimes();
    return s_.upgradeRequested_ = true;
  });
  pass("-convertschedules", [&](const std::string& v) -> bool {
    auto time = parseDate(v);
    if (!time) {
      s_.log("ERROR: Invalid default time specified. Use: -convertschedules 08:00 for example.");
      throw ProgramEnd{exit_status::kRejectedCommandLine};
    }
    s_.utilities().convertPostrixSchedules(*time);
    throw ProgramEnd{exit_status::kOk};
  });
  if (s_.upgradeRequested_) throw ProgramEnd{exit_status::kOk};
  pass("-multitime", [&](const std::string&) {
    if (s_.multipleTimesMarker_) s_.isMultipleSchedules_ = true;
    return true;
  });
  return pass("-configure", [&](const std::string&) {
    s_.utilities().loadForm();
    return false;
  });
}

// Passes 6 to 18: the mail server and the sender.
bool OptionParser::connectionPasses() {
  pass("-cdo", [&](const std::string&) {
    s_.isCDO_ = true;
    s_.smtpAuth_ = s_.smtpAuth_ == 1 ? 1 : s_.smtpAuth_ == 4 ? 2 : 0;
    return true;
  });
  if (!number16("-smtptimeout", s_.smtpTimeout_, "the number of seconds, e.g. -smtptimeout 30"))
    return false;
  value("-server", s_.smtpServer_);
  s_.smtpServer_ = replaceAll(s_.smtpServer_, "\"", "");
  bool ok = pass("-port", [&](const std::string& v) {
    if (!Settings::isPortNumber(Variant(v)))
      return reject(
          "ERROR: The -port value '" + masked(v) +
          "' is not a port number. Please enter a number from 1 to 65535, e.g. -port 25.");
    s_.smtpPort_ = Variant(v).toInt32();
    return true;
  });
  if (!ok) return false;
  value("-user", s_.smtpUser_);
  value("-url", s_.urlOrvanta_);
  s_.urlOrvanta_ = Settings::sanitizeUrlOrvanta(s_.urlOrvanta_);
  pass("-fromname", [&](const std::string& v) {
    s_.senderName_ = v;
    return true;
  });
  value("-pass", s_.email_password_);
  value("-emailsource", s_.emailSource_);
  if (!authentication()) return false;
  flag("-ssl", s_.useSSL_);
  flag("-starttls", s_.UseStartTLS_);
  value("-bcc", s_.bccemail_);
  return true;
}

// -auth: a method the mail component in use knows. The MailBee shape knows
// 0 to 5; the CDO shape (-cdo, read before) 0 none, 1 basic and 2 NTLM.
bool OptionParser::authentication() {
  return pass("-auth", [&](const std::string& v) {
    // 6 is XOAUTH2, which only the MailBee shape speaks.
    int highest = s_.isCDO_ ? 2 : 6;
    double method = isNumber(v) ? roundHalfEven(Variant(v).toDouble()) : -1;
    // With -cdo, 4 is NTLM by the number the System table and the mail
    // settings form's command line give it.
    if (s_.isCDO_ && method == 4) method = 2;
    if (method < 0 || method > highest)
      return reject("ERROR: The -auth value '" + masked(v) +
                    "' is not an authentication method. Please enter a number from 0 to " +
                    std::to_string(highest) + ", e.g. -auth 1.");
    s_.smtpAuth_ = static_cast<std::int16_t>(method);
    return true;
  });
}

// Passes 19 to 35: what is selected and how it is formatted.
bool OptionParser::contentPasses() {
  flag("-ignoremultitime", s_.IgnoreMultitime_);
  flag("-ignoreschedule", s_.IgnoreSchedule_);
  flag("-fsend", s_.forceSend_);
  pass("-debug", [&](const std::string&) { return s_.debugReport_ = s_.isMailerDebug_ = true; });
  value("-oemail", s_.oEmail_);
  pass("-alerts", [&](const std::string&) {
    s_.isAlerts_ = true;
    Utilities& u = s_.utilities();
    if (u.checkTableExists("mass_reports_to_email", u.getSystemConn())) return true;
    s_.log(
        "ERROR: The mass_reports_to_email table does not exist in your QX system database. "
        "You cannot use the -alerts option if this table does not exist. "
        "Please update your version of Quarvex to the latest version.");
    throw ProgramEnd{exit_status::kRejectedCommandLine};
  });
  value("-c", s_.charset_);
  flag("-nounicode", s_.skipUnicode_);
  flag("-skip", s_.skipallformatting_);
  pass("-suppress", [&](const std::string& v) {
    s_.suppressStrings_.push_back(v);
    return true;
  });
  flag("-clearxlformatting", s_.clear_xls_formatting_);
  flag("-excel", s_.allowExcel_);
  flag("-imageincluded", s_.imageincluded_);
  flag("-emailnow", s_.emailNow_);
  flag("-includedate", s_.incdate_);
  flag("-includetime", s_.inctime_);
  flag("-deletefile", s_.deletefileatt_);
  return true;
}

// Passes 36 to 41: the pause and the ID lists, each checked before the run goes on.
bool OptionParser::listPasses() {
  auto list = [&](std::string_view option, std::string& target, const std::string& what) {
    return pass(option, [&, option](const std::string& v) {
      target = v;
      if (Settings::checkReportIDList(v)) return true;
      return reject(what.empty() ? idListMessage("favorite", "-id", masked(v))
                                 : idListMessage(what, option, masked(v)));
    });
  };
  bool ok = pass("-sleep", [&](const std::string& v) {
    sleepSeconds = v;
    if (Settings::checkReportIDList(v)) return true;
    return reject(
        "ERROR: You must specify the number of seconds to delay between emails e.g. -sleep 10 "
        "\r\nYou specified: ",
        masked(v));
  });
  return ok && list("-id", s_.param_id_list_, "") && list("-excludeid", s_.exclude_id_list_, "") &&
         list("-dashboardid", s_.param_dashboard_id_list_, "Dashboard") &&
         list("-reportid", s_.repparam_id_list_, "report") &&
         list("-mappingid", s_.mapparam_list_, "mapping");
}

// Passes 42 and 43: the interval being run, only with multiple send times.
// Without the marker an -interval is still checked, so that a bad one is
// refused the same way on every installation, but it has no effect.
bool OptionParser::intervalPasses() {
  bool marker = s_.multipleTimesMarker_;
  if (marker)
    s_.thisIntervalStartId_ = static_cast<std::int16_t>(Utilities::getIntervalId(s_.clock_.now()));
  return pass("-interval", [&](const std::string& v) {
    if (!isNumber(v))
      return reject("ERROR: Please enter a numeric value for the interval ID between 0-47.");
    double id = roundHalfEven(Variant(v).toDouble());
    if (marker) s_.iscmdLineInterval_ = true;
    if (id < 0 || id > 47) return reject("ERROR: The interval ID must be between 0-47.");
    if (marker) s_.thisIntervalStartId_ = static_cast<std::int16_t>(id);
    return true;
  });
}

// Passes 44 to 51: output files and the run date.
bool OptionParser::outputPasses() {
  pass("-fileformat", [&](const std::string& v) {
    if (trimBlanks(v) == "csv")
      s_.attachement_file_format_ = "csv";
    else
      s_.log(
          "WARNING: You specified an unknown value for the -fileformat argument. Please check "
          "the postrix manual for the list of available values.");
    return true;
  });
  value("-format", s_.emailFormat_);
  value("-location", s_.filelocation_);
  value("-filename", s_.filename_);
  flag("-reportname", s_.reportname_);
  flag("-archive", s_.archive_);
  bool ok = pass("-date", [&](const std::string& v) {
    auto date = parseDate(v);
    if (!date)
      return reject("ERROR: The -date value '" + masked(v) +
                    "' is not a date. Please enter a date such as 12/5/2026 or 2026-12-05.");
    s_.getDate_ = *date;
    s_.iscmdLineDate_ = true;
    return true;
  });
  return ok && pass("-wkhtmltopdfauth", [&](const std::string& v) {
           s_.wkhtmltopdfauth_ = v;
           return true;
         });
}

// Passes 52 to 70: status columns, dialect, and the resend modes.
bool OptionParser::modePasses() {
  flag("-laststatus", s_.laststatus_);
  flag("-emailcount", s_.emailcount_);
  pass("-attachfile", [&](const std::string& v) {
    s_.attachfile_ = replaceAll(v, "'", "");
    return true;
  });
  flag("-lastemailed", s_.lastemailed_);
  flag("-emaillog", s_.emaillog_);
  flag("-dryrun", s_.dryrun_);
  flag("-insecuretls", s_.insecureTls_);
  if (s_.insecureTls_)
    s_.log(
        "WARNING: -insecuretls is set: the mail server's certificate is not checked, so "
        "anyone between here and the server can read the mail and the password.");
  flag("-issqlserver", s_.isSQLServer_);
  pass("-connectionstring", [&](const std::string& v) {
    s_.connection_param_ = v;
    return true;
  });
  pass("-reporttimeout", [&](const std::string&) {
    s_.reportTimeout_ = -1;
    return true;
  });
  value("-apppoolname", s_.app_pool_name_);
  flag("-dashboardsonly", s_.dashboardonly_);
  flag("-reportsonly", s_.reportsonly_);
  flag("-easyxls", s_.useeasyxls_);
  value("-excelformat", s_.excelFormat_);
  pass("-wkarg", [&](const std::string& v) {
    s_.wkarg_ = v;
    return true;
  });
  flag("-savemessage", s_.SaveMessage_);
  flag("-sendmessage", s_.SendMessage_);
  pass("-delta", [&](const std::string&) {
    s_.delta_ = 1;
    return true;
  });
  flag("-sendfailed", s_.SendFailed_);
  flag("-generatepdf", s_.generatePDF_);
  value("-heloname", s_.heloName_);
  flag("-sendagain", s_.sendAgain_);
  flag("-failstatus", s_.failStatus_);
  flag("-problemdigest", s_.problemDigest_);
  value("-oauthfile", s_.oauthFile_);
  flag("-plainauthok", s_.plainAuthOk_);
  return pass("-maxpagesize",
              [&](const std::string& v) {
                // Whole megabytes, up to 1 TB: enough for any page, small enough not to overflow.
                bool whole = isNumber(v) && v.find_first_not_of("0123456789") == std::string::npos;
                double megabytes = whole ? Variant(v).toDouble() : 0;
                if (megabytes < 1 || megabytes > 1024 * 1024)
                  return reject(
                      "ERROR: The -maxpagesize value '" + masked(v) +
                      "' is not a size. Please enter the largest report page in megabytes, e.g. "
                      "-maxpagesize 200.");
                s_.maxPageBytes_ = static_cast<std::int64_t>(megabytes) * 1024 * 1024;
                return true;
              }) &&
         waitPasses();
}

// How long a run waits for another run's lock, and for a PDF converter.
bool OptionParser::waitPasses() {
  bool ok = pass("-lockwait", [&](const std::string& v) {
    double minutes = isNumber(v) ? Variant(v).toDouble() : -1;
    if (minutes < 0 || minutes > 24 * 60)
      return reject("ERROR: The -lockwait value '" + masked(v) +
                    "' is not a number of minutes between 0 and 1440, e.g. -lockwait 30.");
    s_.lockWaitMinutes_ = minutes;
    return true;
  });
  return ok && pass("-pdftimeout", [&](const std::string& v) {
           double seconds = isNumber(v) ? Variant(v).toDouble() : -1;
           if (seconds < 1 || seconds > 24 * 3600)
             return reject("ERROR: The -pdftimeout value '" + masked(v) +
                           "' is not a number of seconds between 1 and 86400, e.g. -pdftimeout "
                           "300.");
           s_.pdfTimeoutSeconds_ = seconds;
           return true;
         });
}

// How long a busy system database is waited for: read before the System row
// is, since that is the first wait.
bool OptionParser::dbWaitPass() {
  return pass("-dbwait", [&](const std::string& v) {
    double seconds = isNumber(v) ? Variant(v).toDouble() : -1;
    if (seconds < 0 || seconds > 3600)
      return reject("ERROR: The -dbwait value '" + masked(v) +
                    "' is not a number of seconds between 0 and 3600, e.g. -dbwait 60.");
    s_.dbWaitSeconds_ = seconds;
    return true;
  });
}

}  // namespace postrix
