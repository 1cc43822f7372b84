// Loading the site-wide settings of the System table, and finding the
// system database.
#include <string>

#include "config/settings.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {

// Reads the System row into a Settings object. Required columns must be
// readable; the optional ones stop the reading at the first that fails.
class SystemLoader {
 public:
  SystemLoader(Settings& s, const db::Recordset& row) : s_(s), row_(row) {}

  void readRequired() {
    s_.urlOrvanta_ = text("urlorvanta");
    s_.emailSource_ = text("emailsource");
    s_.emailProblemReports_ = text("emailproblemreports");
    s_.smtpServer_ = text("smtpserver");
    readPort(row_.Fields("smtpport"));
    s_.charset_ = text("char_set");
  }

  void readOptional() {
    readAuthentication(row_.Fields("smtpauth").toInt16());
    s_.useSSL_ = yesNo("smtpssl");
    s_.UseStartTLS_ = yesNo("smtpstarttls");
    s_.email_password_ = trimmed("smtppass");
    if (std::string name = trimmed("emailfromname"); !name.empty()) s_.senderName_ = name;
    s_.skipUnicode_ = yesNo("emailskipunicode");
    s_.allowExcel_ = yesNo("emailexcel");
    if (const Variant& timeout = row_.Fields("smtptimeout"); timeout.isNumeric())
      s_.smtpTimeout_ = timeout.toInt16();
    s_.smtpUser_ = trimmed("smtpuser");
  }

 private:
  // A required text column left empty is reported and read as "".
  std::string text(std::string_view column) {
    const Variant& v = row_.Fields(column);
    if (!v.isNull()) return v.toText();
    s_.log("WARNING: The System table holds no value for " + std::string(column) + ".");
    return "";
  }

  void readPort(const Variant& value) {
    if (Settings::isPortNumber(value)) {
      s_.smtpPort_ = value.toInt32();
      return;
    }
    s_.log("WARNING: The System table's smtpport value '" +
           (value.isNull() ? std::string("NULL") : value.toText()) +
           "' is not a port number; port 25 is used.");
  }

  // A NULL leaves the property without a value.
  std::string trimmed(std::string_view column) {
    const Variant& v = row_.Fields(column);
    return v.isNull() ? "" : trimBlanks(v.toText());
  }

  bool yesNo(std::string_view column) {
    const Variant& v = row_.Fields(column);
    return !v.isNull() && Settings::setYesNoField(trimBlanks(v.toText()));
  }

  // The hundreds of smtpauth mark multiple send times; the rest is the method.
  void readAuthentication(std::int16_t auth) {
    s_.smtpAuth_ = auth;
    if (roundHalfEven(auth / 100.0) != 0) {
      s_.multipleTimesMarker_ = true;
      s_.smtpAuth_ = static_cast<std::int16_t>(auth % 100);
    }
  }

  Settings& s_;
  const db::Recordset& row_;
};

bool Settings::isPortNumber(const Variant& value) {
  if (value.isEmpty() || !value.isNumeric()) return false;
  double port = roundHalfEven(value.toDouble());
  return port >= 1 && port <= 65535;
}

bool Settings::setYesNoField(const Variant& value) {
  return !value.isNull() && toLower(value.toText()) == "yes";
}

std::string Settings::getSystemDSN() const {
  if (systemDSN_ == "relativemdb")
    return "Driver={Microsoft Access Driver (*.mdb)};Dbq=" + getDataDir() +
           ";Uid=Admin;Pwd=qmw7315";
  return systemDSN_;
}

std::string Settings::getDataDir() const {
  auto parts = split(programFolder_ + "/", "/");
  std::string dir;
  for (size_t i = 0; i + 2 < parts.size(); ++i) dir += parts[i] + "/";
  return dir + "qx_data/system33.mdb";
}

void Settings::LoadSystemDefaults() {
  db::Recordset rs;
  try {
    rs = utilities().getSystemConn().Execute("SELECT * FROM System");
  } catch (const Failure& failure) {
    log("ERROR: System Database Unavailable.");
    log("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
        " while executing 'SELECT * FROM System'");
    return;
  }
  SystemLoader loader(*this, rs);
  try {
    loader.readRequired();
  } catch (const Failure& failure) {
    // Without its required settings the system database cannot serve a run.
    log("ERROR: The System table of the system database could not be read: " +
        std::to_string(failure.number()) + " " + failure.description());
    throw ProgramEnd{exit_status::kNoSystemDatabase};
  }
  try {
    loader.readOptional();
  } catch (const Failure& failure) {
    if (failure.number() == err::kFieldNotFound)
      log("INFO: System database does not contain extra postrix config fields.");
    else
      log("An error occured while trying to access the postrix config fields. " +
          std::to_string(failure.number()) + " " + failure.description());
    smtpUser_ = emailSource_;
  }
  rs.Close();
}

}  // namespace postrix
