// The mail settings form as an administrator meets it: the real program,
// started with -configure on a test installation, runs in a pane of a
// private tmux server and is steered with keys while the test reads the
// pane, the mail server, the System row and the trace file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "support/run_fixture.h"
#include "support/shell_output.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"
#include "support/token_endpoint.h"
#include "ui/mail_settings_form.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The row of the first line holding text; -1 when none does.
int rowOf(const std::vector<std::string>& lines, const std::string& text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
  return -1;
}

class MailSettingsScreenTest : public ::testing::Test {
 protected:
  MailSettingsScreenTest()
      : socket(dir.file("tmux")),
        program(dir.file("postrix")),
        database(dir.file("qx_data/system33.mdb")),
        exitFile(dir.file("exit")) {
    fs::create_directories(program);
  }
  ~MailSettingsScreenTest() override { shell(tmux("kill-server") + " 2>/dev/null"); }

  void SetUp() override {
    if (shell("tmux -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    ASSERT_EQ(
        shell(shellWord(POSTRIX_SOURCE_DIR "/scripts/initdb") + " " + database + " >/dev/null"), 0);
    ASSERT_EQ(shell(tmux("new-session -d -s keep")), 0);  // keeps the server up between runs
  }

  std::string tmux(const std::string& args) const {
    return "env -u TMUX tmux -S " + socket + " -f /dev/null " + args;
  }

  // Runs postrix -configure in the program folder (where the trace file
  // lands) on a cols x rows pane, and waits for the form.
  void start(int cols, int rows, const std::string& environment = "") {
    std::string run = "cd " + program + " && env POSTRIX_HOME=" + program + " LC_ALL=C.UTF-8 " +
                      environment + " " + POSTRIX_BINARY +
                      " -dsn relativemdb -configure; echo $? >" + exitFile;
    ASSERT_EQ(shell(tmux("new-session -d -s form -x " + std::to_string(cols) + " -y " +
                         std::to_string(rows) + " " + shellWord(run))),
              0);
    ASSERT_TRUE(showing("Creating MailBee component.")) << screen();
  }

  void keys(const std::string& names) { ASSERT_EQ(shell(tmux("send-keys -t form " + names)), 0); }
  void type(const std::string& text) { keys("-l " + shellWord(text)); }

  std::string screen() const {
    return outputOf(tmux("capture-pane -p -t form 2>/dev/null"), false);
  }

  bool showing(const std::string& text) const {
    return eventually([&] { return screen().find(text) != std::string::npos; });
  }

  // Every caption and button label, the title, and the layout of a screen of `rows`
  // and `cols`: the fields reach the right margin, the buttons stand above
  // the two status lines, the trace box takes the rows between.
  void expectWholeForm(int cols, int rows) const {
    // After a resize the pane has the new size before the form is redrawn on it.
    ASSERT_TRUE(eventually([&] { return rowOf(linesOf(screen()), "Send Test Email") == rows - 3; }))
        << screen();
    std::vector<std::string> lines = linesOf(screen());
    ASSERT_EQ(lines.size(), static_cast<size_t>(rows)) << screen();
    EXPECT_NE(lines[0].find(MailSettingsForm::kCaption), std::string::npos) << lines[0];
    // A form as it opens without a method: the OAuth 2.0 rows are hidden.
    FakeClock clock(Date::fromParts(2026, 12, 5, 17, 6, 37));
    MailSettingsForm opened(clock, dir.file("unused.log"));
    for (const ControlInfo& control : mailSettingsControls()) {
      if (!opened.visible(control.id)) continue;
      EXPECT_NE(rowOf(lines, control.caption), -1) << control.caption << "\n" << screen();
    }
    int from = rowOf(lines, "From:");
    ASSERT_NE(from, -1) << screen();
    EXPECT_EQ(lines[from].size(), static_cast<size_t>(cols - 2)) << screen();
    EXPECT_EQ(rowOf(lines, "Send Test Email"), rows - 3) << screen();
    EXPECT_EQ(rowOf(lines, "Trace:"), 10) << screen();
  }

  int exitStatus() const {
    if (!eventually([&] { return !readFile(exitFile).empty(); })) return -1;
    return std::atoi(readFile(exitFile).c_str());
  }

  TempDir dir;
  std::string socket, program, database, exitFile;
};

TEST_F(MailSettingsScreenTest, EveryControlShowsAt80x24AndAfterAResizeTo132x43) {
  runSqlite(database, "UPDATE System SET smtpuser='mailer'");  // for the preset to replace
  start(80, 24);
  expectWholeForm(80, 24);
  // The focused field's help, two lines at this width; then a shorter one, then none.
  EXPECT_EQ(linesOf(screen())[22],
            " Place the from email address here. Most SMTP servers require that the from");
  keys("Tab Tab Tab");
  ASSERT_TRUE(
      showing("\n Place the port on which the SMTP server is running. It is usually port 25.\n"))
      << screen();
  keys("Tab");
  ASSERT_TRUE(eventually([&] { return linesOf(screen())[22].empty(); })) << screen();

  ASSERT_EQ(shell(tmux("resize-window -t form -x 132 -y 43")), 0);
  expectWholeForm(132, 43);

  // Four steps back from the list is From, a fifth wraps round to the last
  // button. The preset then hands the user name over selected: typing replaces it.
  keys("BTab BTab BTab BTab BTab Enter");
  ASSERT_TRUE(showing("[smtp.office365.com ")) << screen();
  type("jo");
  ASSERT_TRUE(showing("User Name:       [jo ")) << screen();
  std::string preset = screen();
  EXPECT_NE(preset.find("[587 "), std::string::npos) << preset;
  EXPECT_NE(preset.find("[6 - OAuth 2.0 (XOAUTH2) "), std::string::npos) << preset;
  EXPECT_NE(preset.find("Provider:        [Microsoft 365 "), std::string::npos) << preset;
  EXPECT_NE(preset.find("[x] Use SSL     [x] Use StartTLS"), std::string::npos) << preset;
  keys("F10");
  EXPECT_EQ(exitStatus(), 0);
}

TEST_F(MailSettingsScreenTest, ATestSendASaveAndTheCommandLineThroughTheKeys) {
  SmtpPeer peer({.tls = "starttls", .auth = "required"});
  std::string port = std::to_string(peer.port());
  runSqlite(database,
            "UPDATE System SET smtpserver='127.0.0.1', smtpport=" + port +
                ", emailsource='sender@example.com', smtpuser='postrix', smtppass='', smtpauth=1,"
                " urlorvanta='http://qx.example/', smtptimeout=5");
  start(132, 43, "SSL_CERT_FILE=" + peer.certificate());

  keys("Tab Tab Tab Tab Tab Tab");  // the password: enabled, as the method is Plain
  type(SmtpPeer::kPassword);
  ASSERT_TRUE(showing("Password:        [****** ")) << screen();
  EXPECT_EQ(screen().find(SmtpPeer::kPassword), std::string::npos);
  keys("BTab BTab Right");
  ASSERT_TRUE(showing("[2 - Login ")) << screen();
  // A two-byte character is typed and taken out again whole.
  keys("Tab Tab Tab End");
  type("aéx");
  keys("Left BSpace Tab Space Tab Space Tab Tab Enter");
  ASSERT_TRUE(showing("Message sent successfully.")) << screen();
  auto mails = peer.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].authUser, SmtpPeer::kUser);
  EXPECT_TRUE(mails[0].tls);
  EXPECT_EQ(mails[0].from, "sender@example.com");

  keys("Tab Enter");
  ASSERT_TRUE(showing("Saved.")) << screen();
  EXPECT_EQ(
      querySqlite(database,
                  "SELECT smtpauth, smtpuser, smtppass, smtpssl, smtpstarttls, urlorvanta, "
                  "smtpserver, smtpport FROM System"),
      std::vector<std::string>{"2|postrix|secret|Yes|Yes|http://qx.example/ax/|127.0.0.1|" + port});
  keys("Enter Tab Enter");
  ASSERT_TRUE(showing(MailSettingsForm::kCommandsCaption)) << screen();
  std::string commands = screen();
  EXPECT_NE(commands.find("postrix -server 127.0.0.1 -port " + port +
                          " -url http://qx.example/ax/ -auth 2 -user postrix -pass secret"
                          " -starttls -ssl"),
            std::string::npos)
      << commands;
  EXPECT_NE(commands.find(MailSettingsForm::kCommandsNote), std::string::npos) << commands;
  keys("Enter Escape");
  EXPECT_EQ(exitStatus(), 0);
  std::string trace = readFile(program + "/postrix.log");
  EXPECT_EQ(trace.substr(trace.size() - std::min<size_t>(trace.size(), 13)), "[Finished.]\r\n");
}

// An installation that logs in with OAuth 2.0: the form opens with the
// secrets file's fields, shows no secret, test-sends and saves through the keys.
TEST_F(MailSettingsScreenTest, TheOAuthFieldsComeFromTheSecretsFileAndASendUsesThem) {
  SmtpPeer peer({.auth = "required", .oauthTokens = {"tok.screen"}});
  TokenEndpoint endpoint({.tokens = {"tok.screen"}});
  std::string secrets = program + "/oauth.conf";
  endpoint.writeSecrets(secrets);
  runSqlite(database,
            "UPDATE System SET smtpserver='127.0.0.1', smtpport=" + std::to_string(peer.port()) +
                ", emailsource='sender@example.com', smtpuser='postrix', smtppass='',"
                " smtpauth=6, urlorvanta='http://qx.example/', smtptimeout=5");
  start(100, 30, "CREDENTIALS_DIRECTORY=");  // empty: the secrets are in the program folder
  std::string opened = screen();
  EXPECT_NE(opened.find("[6 - OAuth 2.0 (XOAUTH2) "), std::string::npos) << opened;
  EXPECT_NE(opened.find("Provider:        [Microsoft 365  v]  Tenant:        "
                        "[contoso.onmicrosoft.com"),
            std::string::npos)
      << opened;
  EXPECT_NE(opened.find("Client ID:       [app-id "), std::string::npos) << opened;
  EXPECT_NE(opened.find("Client Secret:   [********** "), std::string::npos) << opened;
  EXPECT_EQ(opened.find(TokenEndpoint::kClientSecret), std::string::npos) << opened;

  keys("BTab BTab BTab BTab Enter");  // From, back round to the send button
  ASSERT_TRUE(showing("Message sent successfully.")) << screen();
  EXPECT_EQ(peer.waitForMessages(1).at(0).authUser, SmtpPeer::kUser);
  EXPECT_NE(screen().find("Access token received, valid for 3599 seconds."), std::string::npos);

  keys("Tab Enter");
  ASSERT_TRUE(showing("The OAuth 2.0 secrets are in")) << screen();
  EXPECT_EQ(querySqlite(database, "SELECT smtpauth, smtpuser, smtppass FROM System"),
            std::vector<std::string>{"6|postrix|"});
  EXPECT_NE(readFile(secrets).find("client_secret = app-secret\n"), std::string::npos);
  keys("Enter Escape");
  EXPECT_EQ(exitStatus(), 0);
  std::string trace = readFile(program + "/postrix.log");
  EXPECT_EQ(trace.find(TokenEndpoint::kClientSecret), std::string::npos) << trace;
  EXPECT_EQ(trace.find("tok.screen"), std::string::npos) << trace;
}

}  // namespace
}  // namespace postrix::test
