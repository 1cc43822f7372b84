// Saving the form into real embedded system databases of several versions,
// read back row by row, and the command line the form shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_fixture.h"
#include "support/temp_database.h"
#include "ui/mail_settings_form.h"
#include "util/text.h"

namespace postrix::test {
namespace {

constexpr const char* kOlder =
    "Some fields could not be saved because you are running an earlier version of Quarvex. "
    "Please add the below options to the command line options when calling the Postrix.\r\n\r\n";
constexpr const char* kAuthColumns = "smtpauth, smtpuser, smtppass, smtpssl, smtpstarttls";
constexpr const char* kAddressColumns = "emailsource, urlorvanta, smtpserver, smtpport";
const std::string kAllColumns = std::string(kAddressColumns) + ", " + kAuthColumns;
constexpr const char* kOldRow = "old@example.com|http://old/|oldhost|25|0|olduser|oldpass|Yes|Yes";
constexpr const char* kUrl = "http://qx.example.com/app/";

class MailSettingsSaveTest : public ::testing::Test {
 protected:
  MailSettingsSaveTest() : form(clock, dir.file("postrix.log")) {
    form.showMessage = [this](const std::string& text) { messages.push_back(text); };
  }

  // A database of the version, without the columns later versions brought.
  void makeDatabase(const std::string& version, int storedAuth = 0) {
    form.setDSN(createSystemDatabase(database));
    runSqlite(database, "INSERT INTO System (db_version, " + kAllColumns + ") VALUES ('" + version +
                            "', 'old@example.com', 'http://old/', 'oldhost', 25, " +
                            std::to_string(storedAuth) + ", 'olduser', 'oldpass', 'Yes', 'Yes')");
    double number = MailSettingsForm::dbVersionNumber(version);
    if (number < 3.2) dropColumns(kAuthColumns);
    if (number < 2.4) dropColumns(kAddressColumns);
  }
  void dropColumns(const std::string& list) {
    for (const auto& column : split(list, ", "))
      runSqlite(database, "ALTER TABLE System DROP COLUMN " + column);
  }
  std::string row(const std::string& columns = kAllColumns) {
    auto rows = querySqlite(database, "SELECT " + columns + " FROM System");
    return rows.size() == 1 ? rows[0] : "rows: " + std::to_string(rows.size());
  }
  void fill() {
    form.txtFrom = "sender@example.com";
    form.txtQXURL = kUrl;
    form.txtMailServer = " mail.example.com ";
    form.txtPort = " 587 ";
    form.cboAuth = 2;
    form.txtUName = "user";
    form.txtPassw = "secret";
    form.chkSSL = form.chkStartTLS = true;
  }

  FakeClock clock{Date::fromParts(2026, 12, 5, 17, 6, 37)};
  TempDir dir;
  std::string database = dir.file("system33.mdb");
  MailSettingsForm form;
  std::vector<std::string> messages;
};

// Each case on a fresh database; an empty row means the row stays as it was.
TEST_F(MailSettingsSaveTest, SavesWhatTheDatabaseVersionCanHold) {
  const std::string saved = "sender@example.com|" + std::string(kUrl) + "|mail.example.com|587";
  const std::string options = std::string(kOlder) + "-emailsource sender@example.com -url " + kUrl +
                              " -server mail.example.com -port 587";
  const struct {
    const char *name, *version;
    int storedAuth;
    void (*edit)(MailSettingsForm&);
    std::string row, message, urlBox = kUrl;
    bool ssl = true, startTls = true;
  } cases[] = {
      {"login, SSL, StartTLS", "3.3.0", 0, [](MailSettingsForm&) {},
       saved + "|2|user|secret|Yes|Yes", "Saved."},
      {"marker kept", "3.2.0", 101, [](MailSettingsForm&) {}, saved + "|102|user|secret|Yes|Yes",
       "Saved."},
      {"no auth", "3.3.0", 0, [](MailSettingsForm& f) { f.cboAuth = 0; },
       saved + "|0|olduser|oldpass|No|No", "Saved.", kUrl, false, false},
      {"slash added, quotes and line breaks kept", "3.3.0", 0,
       [](MailSettingsForm& f) {
         f.txtQXURL = " http://qx/app ";
         f.txtFrom = "o'brien@example.com";
         f.txtPassw = " it's\r\n'; --";
         f.chkStartTLS = false;
       },
       "o'brien@example.com|http://qx/app/|mail.example.com|587|2|user|it's\r\n'; --|Yes|No",
       "Saved.", "http://qx/app/", true, false},
      {"2.4: authentication as options", "2.4.0", 0, [](MailSettingsForm&) {}, saved,
       std::string(kOlder) + "-auth 2 -user user -pass secret -ssl -starttls"},
      {"2.3: nothing written", "2.3.0", 0, [](MailSettingsForm& f) { f.chkSSL = false; }, "",
       options + " -auth 2 -user user -pass secret", kUrl, false},
      {"2.0: nothing written", "2.0.0", 0, [](MailSettingsForm& f) { f.cboAuth = 0; }, "", options},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(database);
    messages.clear();
    makeDatabase(c.version, c.storedAuth);
    std::string before = row("*");
    fill();
    c.edit(form);
    form.cmdSave();
    bool authColumns = MailSettingsForm::dbVersionNumber(c.version) >= 3.2;
    EXPECT_EQ(c.row.empty() ? row("*") : row(authColumns ? kAllColumns : kAddressColumns),
              c.row.empty() ? before : c.row);
    EXPECT_EQ(messages, std::vector<std::string>{c.message});
    EXPECT_EQ(form.txtQXURL, c.urlBox);
    EXPECT_EQ(form.chkSSL, c.ssl);
    EXPECT_EQ(form.chkStartTLS, c.startTls);
  }
}

// A port goes into the SQL unquoted: only 1 to 65535 in plain digits passes.
TEST_F(MailSettingsSaveTest, RefusesIncompleteFieldsAllAtOnceAndWritesNothing) {
  makeDatabase("3.3.0");
  const std::string missing =
      "Please specify a value for the from address first.\r\nPlease specify a value for the "
      "mail server first.\r\nPlease specify a numberic value for the mail server port first.\r\n";
  for (const char* port : {"25a", " ", "0x19", "1e3", "-1", "0", "65536", "25;DROP", "25\t"}) {
    SCOPED_TRACE(port);
    messages.clear();
    fill();
    form.txtFrom = " ";
    form.txtMailServer = "";
    form.txtPort = port;
    form.cmdSave();
    EXPECT_EQ(messages, std::vector<std::string>{missing});
    EXPECT_EQ(row(), kOldRow);
  }
  messages.clear();
  fill();
  form.txtUName = form.txtPassw = "  ";
  form.cmdSave();
  EXPECT_EQ(messages, std::vector<std::string>{"Please specify a value for the user name.\r\n"
                                               "Please specify a value for the password.\r\n"});
  EXPECT_EQ(row(), kOldRow);
}

// The secrets go into their own owner-only file, the method and the user
// into the row; what the administrator wrote into the file stays.
TEST_F(MailSettingsSaveTest, OAuthSecretsGoIntoTheirFileAndNotIntoTheRow) {
  makeDatabase("3.3.0");
  std::string secrets = dir.file("oauth.conf");
  {
    std::ofstream(secrets) << "# written by hand\nscope = https://outlook.office365.com/.default\n";
  }
  std::filesystem::permissions(
      secrets, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  form.setCDO(false);
  form.setOAuthFile(secrets);
  fill();
  form.cboAuth = MailSettingsForm::kOAuthMethod;
  form.txtPassw = "app-secret";
  form.txtClientId = "app-id";
  form.cmdSave();
  EXPECT_EQ(messages, std::vector<std::string>{"Please complete the OAuth 2.0 settings: they "
                                               "name no tenant.\r\n"});
  EXPECT_EQ(row(), kOldRow);

  messages.clear();
  form.txtTenant = "contoso.onmicrosoft.com";
  form.cmdSave();
  EXPECT_EQ(messages, std::vector<std::string>{"Saved.\r\n\r\nThe OAuth 2.0 secrets are in '" +
                                               secrets + "', for its owner only."});
  EXPECT_EQ(row(),
            "sender@example.com|" + std::string(kUrl) + "|mail.example.com|587|6|user||Yes|Yes");
  EXPECT_EQ(readFile(secrets),
            "# written by hand\nscope = https://outlook.office365.com/.default\nprovider = "
            "microsoft\ntenant = contoso.onmicrosoft.com\nclient_id = app-id\nclient_secret = "
            "app-secret\n");
  EXPECT_EQ(std::filesystem::status(secrets).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A file others may read is not written to, and neither is the row.
  messages.clear();
  std::filesystem::permissions(secrets, std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  runSqlite(database, "UPDATE System SET smtpauth=0");
  form.cmdSave();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("The settings were not saved: the OAuth 2.0 secrets file '" + secrets +
                             "' may be read or changed by other accounts (mode 0604)"),
            std::string::npos)
      << messages[0];
  EXPECT_EQ(querySqlite(database, "SELECT smtpauth FROM System"), std::vector<std::string>{"0"});
}

// Each failure is one message; none of them throws or says "Saved.".
TEST_F(MailSettingsSaveTest, ADatabaseThatCannotBeReadOrWrittenIsAMessage) {
  auto expectNotSaved = [&](const std::string& start) {
    messages.clear();
    EXPECT_NO_THROW(form.cmdSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].substr(0, start.size()), start) << messages[0];
  };
  fill();
  form.setDSN("Driver={Microsoft Access Driver (*.mdb)};Dbq=" + dir.file("missing.mdb"));
  expectNotSaved("The settings were not saved: -2147467259 Could not find file '" +
                 dir.file("missing.mdb") + "'.");
  makeDatabase("3.3.0");
  // A NUL cannot go into SQL text: the statement is refused whole.
  form.txtPassw = std::string("se\0cret", 7);
  expectNotSaved("The settings were not saved: -2147217900 ");
  EXPECT_EQ(row(), kOldRow);
  form.txtPassw = "secret";
  runSqlite(database, "ALTER TABLE System DROP COLUMN smtpstarttls");  // the UPDATE fails
  expectNotSaved("The settings were not saved: -2147217904 ");
  EXPECT_EQ(row(kAddressColumns), "old@example.com|http://old/|oldhost|25");
  runSqlite(database, "DROP TABLE System");
  expectNotSaved("The settings were not saved: -2147217865 ");
}

TEST_F(MailSettingsSaveTest, CommandLineCarriesTheEnteredSettings) {
  const struct {
    bool cdo;
    int auth;
    const char *user, *password;
    bool ssl, startTls;
    std::string options;
  } cases[] = {
      {false, 2, "user", "secret", true, true, " -auth 2 -user user -pass secret -starttls -ssl"},
      {true, 2, "sender@example.com", "secret", false, false, " -auth 4 -pass secret -cdo"},
      {true, 1, "  ", "", true, false, " -auth 1 -ssl -cdo"},
      {false, 0, "user", "secret", true, true, " -ssl"},
      // The client secret stays in its file.
      {false, 6, "user", "app-secret", true, true, " -auth 6 -user user -starttls -ssl"},
  };
  for (const auto& c : cases) {
    form.setCDO(c.cdo);
    fill();
    form.cboAuth = c.auth;
    form.txtUName = c.user;
    form.txtPassw = c.password;
    form.chkSSL = c.ssl;
    form.chkStartTLS = c.startTls;
    std::string shown;
    form.showCommands = [&](const std::string& text) { shown = text; };
    form.cmdShowCmds();
    EXPECT_EQ(shown,
              "postrix -server mail.example.com -port 587 -url " + std::string(kUrl) + c.options);
  }
}

TEST_F(MailSettingsSaveTest, DatabaseVersionIsItsFirstTwoParts) {
  const std::pair<const char*, double> texts[] = {
      {"3.2.0", 3.2}, {"3.10.1", 4}, {"3.2.0.7", 3.2}, {"3.2", 0}, {"", 0}, {"x.2.0", 0},
  };
  for (const auto& [text, number] : texts)
    EXPECT_EQ(MailSettingsForm::dbVersionNumber(text), number) << text;
  makeDatabase("3.3.0");
  EXPECT_EQ(form.getDbVersion(), 3.3);
  runSqlite(database, "UPDATE System SET db_version = NULL");
  EXPECT_EQ(form.getDbVersion(), 0);
  runSqlite(database, "DELETE FROM System");
  EXPECT_EQ(form.getDbVersion(), 0);
  EXPECT_EQ(MailSettingsForm::escapeSqlValue("  o'brien's  "), "o''brien''s");
}

}  // namespace
}  // namespace postrix::test
