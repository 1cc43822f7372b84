// The command line: splitting, what options set, rejected values, -pass secrecy, maintenance.
#include "config/option_parser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "run/module_state.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

TEST(OptionParserSplitTest, SplitsOnBlanksAndTabsOnlyAndKeepsAThousandTokens) {
  EXPECT_EQ(splitCommandLine("\t-id \t\t 5  a\r\nb "),
            (std::vector<std::string>{"-id", "5", "a\r\nb"}));
  std::string many;
  for (int i = 0; i < 1005; ++i) many += " t" + std::to_string(i);
  EXPECT_EQ(splitCommandLine(many).back(), "t999");
}

class OptionParserTest : public RunFixture {
 protected:
  void TearDown() override { sleepSeconds.clear(); }
  bool parseWith(const std::string& columns, const std::string& args) {
    sql("UPDATE System SET " + columns);
    newRun();
    return parse(args);
  }
};

TEST_F(OptionParserTest, OptionsSetTheirSettings) {
  using Get = std::function<std::string(const Settings&)>;
  Get server = [](const Settings& s) { return s.smtpServer(); };
  Get ids = [](const Settings& s) { return s.param_id_list(); };
  Get url = [](const Settings& s) { return s.urlOrvanta(); };
  Get auth = [](const Settings& s) { return std::to_string(s.smtpAuth()); };
  Get sender = [](const Settings& s) {
    return "[" + s.senderName() + "]" + (s.debugReport() ? " debug" : "");
  };
  Get interval = [](const Settings& s) {
    return std::to_string(s.thisIntervalStartId()) + (s.iscmdLineInterval() ? " cmd" : "") +
           (s.isMultipleSchedules() ? " multi" : "");
  };
  struct Case {
    std::string args;
    Get got;
    std::string want;
    std::string columns = "smtpauth = 0";  // System columns set before the run
  } cases[] = {
      // Blanks in a quoted value collapse to one; a lone quote ends it.
      {"-fromname \"A  \t B \" -debug", sender, "[A B ] debug"},
      {"-id 12, 15", ids, "12,"},
      {"-id \"12, 15\"", ids, "12, 15"},
      {"-server", server, "mail.example.com"},  // no value
      // What follows a value option is its value, whatever it looks like.
      {"-pass -secret-", [](const Settings& s) { return s.email_password(); }, "-secret-"},
      {"-url http://h/app", url, "http://h/app/"},
      {"", url, "http://localhost/", "smtpauth = 0, urlorvanta = ''"},
      {"-suppress first -suppress \"second one",  // unterminated: to the last token
       [](const Settings& s) {
         return std::to_string(s.num_suppress_strings()) + ":" + s.getSuppresString(0) + "|" +
                s.getSuppresString(1);
       },
       "2:first|second one"},
      {"-auth 2 -cdo", auth, "2", "smtpauth = 1"},
      {"-cdo -auth 4", auth, "2"},  // NTLM by its number in the System table
      {"-cdo", auth, "2", "smtpauth = 4"},
      // Without the multiple-times marker (smtpauth >= 100) both are ignored.
      {"-interval 5 -multitime", interval, "0"},
      {"", interval, "34", "smtpauth = 101"},  // the interval of 17:06
      {"-interval 2.5", interval, "2 cmd", "smtpauth = 101"},
      {"-MultiTime", interval, "34 multi", "smtpauth = 101"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(parseWith(c.columns, c.args)) << c.args;
    EXPECT_EQ(c.got(*settings), c.want) << c.columns << ", args: " << c.args;
  }
}

TEST_F(OptionParserTest, RejectedValueIsLoggedOnceAndStopsBeforeLaterOptions) {
  auto list = [](const std::string& kind, const std::string& option, const std::string& value) {
    return "ERROR: You must specify a numeric list of " + kind + " IDs if you are using -" +
           option + ". You specified: " + value;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"-id 5a", list("favorite", "id", "5a")},
      {"-reportid \"1 or 1\"", list("report", "reportid", "1 or 1")},
      {"-sleep ten",
       "ERROR: You must specify the number of seconds to delay between emails e.g. -sleep 10 "
       "\r\nYou specified: ten"},
      {"-port 65536",
       "ERROR: The -port value '65536' is not a port number. Please enter a number from 1 to "
       "65535, e.g. -port 25."},
      {"-auth 9",
       "ERROR: The -auth value '9' is not an authentication method. Please enter a number from "
       "0 to 6, e.g. -auth 1."},
      {"-date 2026-13-45",
       "ERROR: The -date value '2026-13-45' is not a date. Please enter a date such as "
       "12/5/2026 or 2026-12-05."},
      {"-interval 48", "ERROR: The interval ID must be between 0-47."},
      // The -pass value never shows, quoted or not, and is masked only once.
      {"-pass \"my s3cret\" -id \"my s3cret\"", list("favorite", "id", "XXXXXX")},
      {"-pass X -id X", list("favorite", "id", "XXXXXX")},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args);
    std::filesystem::remove(programFolder() + "/postrix.log");
    // The multiple-times marker lets -interval be read; -generatepdf is read by the last pass.
    EXPECT_TRUE(parseWith("smtpauth = 101", args + " -generatepdf")) << args;
    EXPECT_TRUE(settings->commandLineRejected()) << args;
    EXPECT_FALSE(settings->generatePDF()) << args;
    EXPECT_EQ(logMessages().size(), 4u) << args << ": one message after the header";
    EXPECT_EQ(logMessages().back(), message) << args;
    EXPECT_EQ(logText().find("s3cret"), std::string::npos) << logText();
  }
}

TEST_F(OptionParserTest, HeaderMasksThePasswordInEveryToken) {
  EXPECT_FALSE(parse("-pass s3cret -emailnow -connectionstring \"Uid=sa;Pwd=s3cret\""));
  EXPECT_EQ(settings->email_password(), "s3cret");
  EXPECT_EQ(logMessages(),
            (std::vector<std::string>{
                "", "---------------- New Entry ---------------- 12/5/2026 5:06:37 PM",
                "Args: ' -dsn relativemdb -pass XXXXXX -emailnow -connectionstring "
                "\"Uid=sa;Pwd=XXXXXX\"'"}));
}

TEST_F(OptionParserTest, NoLogWritesNothingAtAll) {
  EXPECT_TRUE(parse("-nolog -id 5a"));
  EXPECT_TRUE(settings->commandLineRejected());
  EXPECT_FALSE(std::filesystem::exists(programFolder() + "/postrix.log"));
}

TEST_F(OptionParserTest, MaintenanceCommandsActThenEndOrStop) {
  // Without a terminal the form would wait for keys nobody can type: it ends the program.
  int savedInput = dup(STDIN_FILENO), nothing = open("/dev/null", O_RDONLY);
  dup2(nothing, STDIN_FILENO);
  EXPECT_TRUE(parse("-CONFIGURE -emailnow"));
  dup2(savedInput, STDIN_FILENO);
  close(nothing);
  close(savedInput);
  EXPECT_EQ(endStatus, 4);
  EXPECT_TRUE(logHas("Loading configuration interface."));
  EXPECT_TRUE(
      logHas("ERROR: The mail settings form (-configure) needs a terminal, and standard "
             "input is not a terminal. Run postrix -configure from an interactive shell, "
             "e.g. ssh -t."));
  EXPECT_FALSE(settings->emailNow());

  newRun();
  sql("DROP TABLE mass_reports_to_email");
  EXPECT_TRUE(parse("-alerts"));
  EXPECT_EQ(endStatus, 2);
  EXPECT_EQ(logMessages().back(),
            "ERROR: The mass_reports_to_email table does not exist in your QX system database. "
            "You cannot use the -alerts option if this table does not exist. "
            "Please update your version of Quarvex to the latest version.");
}

}  // namespace
}  // namespace postrix::test
