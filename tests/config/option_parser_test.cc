// The command line: splitting and quoted values, what options set, the values
// it rejects, the secrecy of the -pass value and the maintenance commands
// that end the program.
#include "config/option_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/db/connection.h"
#include "run/module_state.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

TEST(OptionParserSplitTest, SplitsOnBlanksAndTabsAndJoinsQuotedValues) {
  struct Case {
    std::string line;
    size_t tokens;
    std::string firstValue;  // the quoted value starting at the first token
  } cases[] = {
      {"\t-id \t\t 5  ", 2, "-id"}, {"\"New  \t York\" x", 3, "New York"},
      {"\"a b c", 3, "a b c"},  // unterminated: to the last token
      {"\"a \" b\"", 3, "a "},  // a lone quote ends the value
      {"a\r\nb", 1, "a\r\nb"},
  };
  for (const auto& c : cases) {
    auto tokens = splitCommandLine(c.line);
    ASSERT_EQ(tokens.size(), c.tokens) << c.line;
    EXPECT_EQ(Settings::readQuotedParams(tokens, 0), c.firstValue) << c.line;
  }
  std::string many;
  for (int i = 0; i < 1005; ++i) many += " t" + std::to_string(i);
  EXPECT_EQ(splitCommandLine(many).back(), "t999") << "the first thousand tokens are kept";
}

class OptionParserTest : public RunFixture {
 protected:
  void TearDown() override { sleepSeconds.clear(); }
  // Sets System columns ("smtpauth = 101"), then parses in a fresh run.
  bool parseWith(const std::string& columns, const std::string& args) {
    sql("UPDATE System SET " + columns);
    newRun();
    return parse(args);
  }
  Variant systemValue(const std::string& sql, const std::string& field) const {
    auto conn =
        db::Connection::Open("Driver={Microsoft Access Driver (*.mdb)};Dbq=" + databasePath());
    return conn->Execute(sql).Fields(field);
  }
};

TEST_F(OptionParserTest, OptionsSetTheirSettings) {
  using Get = std::function<std::string(const Settings&)>;
  Get server = [](const Settings& s) { return s.smtpServer(); };
  Get ids = [](const Settings& s) { return s.param_id_list(); };
  Get url = [](const Settings& s) { return s.urlOrvanta(); };
  Get auth = [](const Settings& s) { return std::to_string(s.smtpAuth()); };
  Get interval = [](const Settings& s) {
    return std::to_string(s.thisIntervalStartId()) + (s.iscmdLineInterval() ? " cmd" : "") +
           (s.isMultipleSchedules() ? " multi" : "");
  };
  struct Case {
    std::string columns;  // System columns set before the run
    std::string args;
    Get got;
    std::string want;
  } cases[] = {
      {"smtpauth = 0", "-fromname \"A B\" -debug",
       [](const Settings& s) { return s.senderName() + (s.debugReport() ? " debug" : ""); },
       "A B debug"},
      {"smtpauth = 0", "-id 12, 15", ids, "12,"},
      {"smtpauth = 0", "-id \"12, 15\"", ids, "12, 15"},
      {"smtpauth = 0", "-id 5:9", ids, "5:9"},
      {"smtpauth = 0", "-Server mx.b.com", server, "mail.example.com"},
      {"smtpauth = 0", "-server", server, "mail.example.com"},  // no value: ignored
      {"smtpauth = 0", "-wkarg one", [](const Settings& s) { return s.wkarg(); }, ""},
      {"smtpauth = 0", "-url http://h/app", url, "http://h/app/"},
      {"smtpauth = 0", "-suppress first -suppress \"second one\"",
       [](const Settings& s) {
         return std::to_string(s.num_suppress_strings()) + ":" + s.getSuppresString(0) + "|" +
                s.getSuppresString(1);
       },
       "2:first|second one"},
      {"smtpauth = 0", "-auth 4 -cdo", auth, "4"},
      {"smtpauth = 4", "-cdo", auth, "2"},
      {"smtpauth = 1", "-cdo", auth, "1"},
      // Without the multiple-times marker (smtpauth >= 100) both are ignored.
      {"smtpauth = 0", "-interval 5 -multitime", interval, "0"},
      {"smtpauth = 101", "", interval, "34"},  // the interval of 17:06
      {"smtpauth = 101", "-interval 2.5", interval, "2 cmd"},
      {"smtpauth = 101", "-MultiTime", interval, "34 multi"},
      {"smtpauth = 0, urlorvanta = ''", "", url, "http://localhost/"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(parseWith(c.columns, c.args)) << c.args;
    EXPECT_EQ(c.got(*settings), c.want) << c.columns << ", args: " << c.args;
  }
}

TEST_F(OptionParserTest, RejectedValueIsLoggedOnceAndStopsBeforeLaterOptions) {
  const std::string id =
      "ERROR: You must specify a numeric list of favorite IDs if you are using -id. "
      "You specified: ";
  const std::string port =
      "' is not a port number. Please enter a number from 1 to 65535, e.g. -port 25.";
  struct Case {
    std::string columns;
    std::string args;
    std::string message;
  } cases[] = {
      {"smtpauth = 0", "-id 5a", id + "5a"},
      {"smtpauth = 0", "-excludeid 1;2", id + "1;2"},
      {"smtpauth = 0", "-dashboardid x",
       "ERROR: You must specify a numeric list of Dashboard IDs if you are using -dashboardid. "
       "You specified: x"},
      {"smtpauth = 0", "-reportid \"1 or 1\"",
       "ERROR: You must specify a numeric list of report IDs if you are using -reportid. "
       "You specified: 1 or 1"},
      {"smtpauth = 0", "-mappingid m",
       "ERROR: You must specify a numeric list of mapping IDs if you are using -mappingid. "
       "You specified: m"},
      {"smtpauth = 0", "-sleep ten",
       "ERROR: You must specify the number of seconds to delay between emails e.g. -sleep 10 "
       "\r\nYou specified: ten"},
      {"smtpauth = 0", "-port 65536", "ERROR: The -port value '65536" + port},
      {"smtpauth = 0", "-auth 40000",
       "ERROR: The -auth value '40000' is not a number. Please enter the number of the "
       "authentication method, e.g. -auth 1."},
      {"smtpauth = 0", "-smtptimeout 32768",
       "ERROR: The -smtptimeout value '32768' is not a number. Please enter the number of "
       "seconds, e.g. -smtptimeout 30."},
      {"smtpauth = 0", "-date 2026-13-45",
       "ERROR: The -date value '2026-13-45' is not a date. Please enter a date such as "
       "12/5/2026 or 2026-12-05."},
      {"smtpauth = 101", "-interval 48", "ERROR: The interval ID must be between 0-47."},
      {"smtpauth = 101", "-interval x",
       "ERROR: Please enter a numeric value for the interval ID between 0-47."},
      // The -pass value never shows, quoted or not, and is masked only once.
      {"smtpauth = 0", "-pass s3cret -port s3cret", "ERROR: The -port value 'XXXXXX" + port},
      {"smtpauth = 0", "-pass \"my s3cret\" -id \"my s3cret\"", id + "XXXXXX"},
      {"smtpauth = 0", "-pass X -id X", id + "XXXXXX"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(programFolder() + "/postrix.log");
    // -generatepdf is read by the last pass, after every check.
    EXPECT_TRUE(parseWith(c.columns, c.args + " -generatepdf")) << c.args;
    EXPECT_TRUE(settings->commandLineRejected()) << c.args;
    EXPECT_FALSE(settings->generatePDF()) << c.args;
    auto log = logMessages();
    EXPECT_EQ(log.size(), 4u) << c.args << ": one message after the header";
    EXPECT_EQ(log.back(), c.message) << c.args;
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

TEST_F(OptionParserTest, ConfigureInAnyCaseOpensTheFormAndStops) {
  EXPECT_TRUE(parse("-CONFIGURE -emailnow"));
  EXPECT_FALSE(settings->commandLineRejected());
  EXPECT_TRUE(logHas("Loading configuration interface."));
  EXPECT_FALSE(settings->emailNow());
}

TEST_F(OptionParserTest, AlertsWithoutTheirTableEndTheProgram) {
  sql("DROP TABLE mass_reports_to_email");
  EXPECT_TRUE(parse("-alerts"));
  EXPECT_EQ(endStatus, 2);
  EXPECT_EQ(logMessages().back(),
            "ERROR: The mass_reports_to_email table does not exist in your QX system database. "
            "You cannot use the -alerts option if this table does not exist. "
            "Please update your version of Quarvex to the latest version.");
}

TEST_F(OptionParserTest, ConvertSchedulesConvertsThenEnds) {
  sql("INSERT INTO UserReports (report_id, schedule_details) VALUES (7, 'daily')");
  const std::string schedule = "SELECT schedule_details FROM UserReports WHERE report_id=7";
  EXPECT_TRUE(parse("-convertschedules banana"));
  EXPECT_EQ(endStatus, 2);
  EXPECT_EQ(logMessages().back(),
            "ERROR: Invalid default time specified. Use: -convertschedules 08:00 for example.");
  EXPECT_EQ(systemValue(schedule, "schedule_details"), Variant("daily"));

  newRun();
  EXPECT_TRUE(parse("-ConvertSchedules 08:15"));
  EXPECT_EQ(endStatus, 0);
  EXPECT_EQ(systemValue(schedule, "schedule_details"), Variant("1025 65536 0"));
  EXPECT_TRUE(
      logHas("Warning: The postrix can only be run at 30 minute intervals. The time of 8:15:00 AM "
             "will be rounded down to the nearest interval."));
}

TEST_F(OptionParserTest, EnableMultitimeMarksTheSystemTableThenEnds) {
  EXPECT_TRUE(parse("-EnableMultiTime -emailnow"));
  EXPECT_EQ(endStatus, 0);
  EXPECT_FALSE(settings->emailNow());
  EXPECT_EQ(systemValue("SELECT smtpauth FROM System", "smtpauth").toInt16(), 100);
}

}  // namespace
}  // namespace postrix::test
