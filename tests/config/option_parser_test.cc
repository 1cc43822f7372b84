// The command line: splitting, quoted values, the option passes, the values
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

std::string yesNo(bool b) { return b ? "true" : "false"; }

TEST(OptionParserSplitTest, SplitsOnRunsOfBlanksAndTabsOnly) {
  struct Case {
    std::string line;
    std::vector<std::string> want;
  } cases[] = {
      {"", {}},
      {" \t  ", {}},
      {"-id 5", {"-id", "5"}},
      {"\t-id \t\t 5  ", {"-id", "5"}},
      {"\"New   York\"", {"\"New", "York\""}},
      {"a\r\nb", {"a\r\nb"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.want) << "line: " << c.line;
}

TEST(OptionParserSplitTest, KeepsTheFirstThousandTokens) {
  std::string line;
  for (int i = 0; i < 1005; ++i) line += " t" + std::to_string(i);
  auto tokens = splitCommandLine(line);
  ASSERT_EQ(tokens.size(), 1000u);
  EXPECT_EQ(tokens.back(), "t999");
  EXPECT_EQ(splitCommandLine("a b c", 2), (std::vector<std::string>{"a", "b"}));
}

TEST(OptionParserSplitTest, ReadQuotedParamsJoinsQuotedTokens) {
  struct Case {
    std::vector<std::string> tokens;
    size_t index;
    std::string want;
  } cases[] = {
      {{"plain", "\"x"}, 0, "plain"},
      {{"-f", "\"New", "York\"", "-debug"}, 1, "New York"},
      {{"\"a", "b", "c"}, 0, "a b c"},  // unterminated: to the last token
      {{"\""}, 0, ""},
      {{"\"\""}, 0, ""},
      {{"\"a\""}, 0, "a"},
      {{"a\""}, 0, "a"},
      {{"\"a", "\"", "b\""}, 0, "a "},  // a lone quote ends the value
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Settings::readQuotedParams(c.tokens, c.index), c.want)
        << "tokens from " << c.tokens[c.index];
  }
}

TEST(OptionParserSplitTest, IdListsAndUrls) {
  struct ListCase {
    std::string list;
    bool want;
  } lists[] = {{"", true},    {"1,2: 3", true}, {"5:9", true},
               {"5a", false}, {"-1", false},    {"1.5", false}};
  for (const auto& c : lists)
    EXPECT_EQ(Settings::checkReportIDList(c.list), c.want) << "list: '" << c.list << "'";
  EXPECT_EQ(Settings::sanitizeUrlOrvanta("  http://h/app  "), "http://h/app/");
  EXPECT_EQ(Settings::sanitizeUrlOrvanta("http://h/"), "http://h/");
  EXPECT_EQ(Settings::sanitizeUrlOrvanta("   "), Settings::DEFAULT_WEB_URL);
}

class OptionParserTest : public RunFixture {
 protected:
  void SetUp() override { sleepSeconds.clear(); }
  void TearDown() override { sleepSeconds.clear(); }

  // One value of the System row, read straight from the database file.
  Variant systemValue(const std::string& sql, const std::string& field) const {
    auto conn =
        db::Connection::Open("Driver={Microsoft Access Driver (*.mdb)};Dbq=" + databasePath());
    return conn->Execute(sql).Fields(field);
  }
};

TEST_F(OptionParserTest, WritesTheHeaderWithTheArguments) {
  EXPECT_FALSE(parse("-emailnow  \t-id 7"));
  EXPECT_EQ(logMessages(),
            (std::vector<std::string>{
                "", "---------------- New Entry ---------------- 12/5/2026 5:06:37 PM",
                "Args: ' -dsn relativemdb -emailnow -id 7'"}));
}

TEST_F(OptionParserTest, NoLogWritesNothingAtAll) {
  EXPECT_TRUE(parse("-nolog -id 5a"));
  EXPECT_TRUE(settings->commandLineRejected());
  EXPECT_FALSE(settings->isDebug());
  EXPECT_FALSE(std::filesystem::exists(programFolder() + "/postrix.log"));
}

TEST_F(OptionParserTest, OptionsSetTheirSettings) {
  using Get = std::function<std::string(const Settings&)>;
  Get server = [](const Settings& s) { return s.smtpServer(); };
  Get sender = [](const Settings& s) { return s.senderName(); };
  Get ids = [](const Settings& s) { return s.param_id_list(); };
  struct Case {
    std::string args;
    Get got;
    std::string want;
  } cases[] = {
      {"-server mx.b.com", server, "mx.b.com"},
      {"-server a -server b", server, "b"},
      {"-server \"mx.b.com\"", server, "mx.b.com"},
      {"-Server mx.b.com", server, "mail.example.com"},
      {"-server", server, "mail.example.com"},
      {"-server -port", server, "-port"},
      {"-fromname \"A B\" -debug", sender, "A B"},
      {"-fromname \"A  \t  B\"", sender, "A B"},
      {"-fromname Ann", sender, "Ann"},
      {"-id 12, 15", ids, "12,"},
      {"-id \"12, 15\"", ids, "12, 15"},
      {"-id 5:9", ids, "5:9"},
      {"-wkarg one", [](const Settings& s) { return s.wkarg(); }, ""},
      {"-wkarg --zoom 2", [](const Settings& s) { return s.wkarg(); }, "--zoom 2"},
      {"-wkhtmltopdfauth u p", [](const Settings& s) { return s.wkhtmltopdfauth(); }, "u p"},
      {"-url http://h/app", [](const Settings& s) { return s.urlOrvanta(); }, "http://h/app/"},
      {"-attachfile 'c:/r.pdf'", [](const Settings& s) { return s.attachfile(); }, "c:/r.pdf"},
      {"-fileformat csv", [](const Settings& s) { return s.attachement_file_format(); }, "csv"},
      {"-c UTF-16", [](const Settings& s) { return s.charset(); }, "UTF-16"},
      {"-apppoolname P1", [](const Settings& s) { return s.app_pool_name(); }, "P1"},
      {"-connectionstring \"dsn=a; uid=b\"", [](const Settings& s) { return s.connection_param(); },
       "dsn=a; uid=b"},
      {"-fromname \"A B\" -debug", [](const Settings& s) { return yesNo(s.debugReport()); },
       "true"},
      {"-fromname \"Ann -emailnow Lee\"", [](const Settings& s) { return yesNo(s.emailNow()); },
       "true"},  // a token inside a value is still seen by the other passes
      {"-port 2525", [](const Settings& s) { return std::to_string(s.smtpPort()); }, "2525"},
      {"-port 65535", [](const Settings& s) { return std::to_string(s.smtpPort()); }, "65535"},
      {"-port 1.5", [](const Settings& s) { return std::to_string(s.smtpPort()); }, "2"},
      {"-smtptimeout -32768", [](const Settings& s) { return std::to_string(s.smtpTimeout()); },
       "-32768"},
      {"-auth 32767", [](const Settings& s) { return std::to_string(s.smtpAuth()); }, "32767"},
      {"-date 2026-12-24", [](const Settings& s) { return sqlDateTime(s.getDate()); },
       "2026-12-24 00:00:00"},
      {"-reporttimeout -delta",
       [](const Settings& s) {
         return std::to_string(s.reportTimeout()) + " " + std::to_string(s.delta());
       },
       "-1 1"},
  };
  for (const auto& c : cases) {
    newRun();
    EXPECT_FALSE(parse(c.args)) << c.args;
    EXPECT_EQ(c.got(*settings), c.want) << "args: " << c.args;
  }
}

TEST_F(OptionParserTest, SuppressStringsKeepTheirOrder) {
  EXPECT_FALSE(parse("-suppress first -suppress \"second one\""));
  EXPECT_EQ(settings->num_suppress_strings(), 2);
  EXPECT_EQ(settings->getSuppresString(0), "first");
  EXPECT_EQ(settings->getSuppresString(1), "second one");
  EXPECT_EQ(settings->getSuppresString(-1), "");
  EXPECT_EQ(settings->getSuppresString(2), "");
}

TEST_F(OptionParserTest, EmptyUrlColumnGivesTheDefaultWebUrl) {
  sql("UPDATE System SET urlorvanta = ''");
  EXPECT_FALSE(parse(""));
  EXPECT_EQ(settings->urlOrvanta(), "http://localhost/");
}

TEST_F(OptionParserTest, CdoConvertsTheAuthenticationOncePerOccurrence) {
  struct Case {
    int column;
    std::string args;
    int want;
  } cases[] = {{4, "-cdo", 2},      {1, "-cdo", 1},         {3, "-cdo", 0},
               {4, "-cdo -cdo", 0}, {4, "-auth 4 -cdo", 4}, {0, "-auth 7", 7}};
  for (const auto& c : cases) {
    sql("UPDATE System SET smtpauth = " + std::to_string(c.column));
    newRun();
    EXPECT_FALSE(parse(c.args));
    EXPECT_EQ(settings->smtpAuth(), c.want) << "smtpauth " << c.column << ", args " << c.args;
  }
}

TEST_F(OptionParserTest, ConfigureInAnyCaseOpensTheFormAndStopsBeforeLaterPasses) {
  sql("UPDATE System SET smtpauth = 4");
  EXPECT_TRUE(parse("-CONFIGURE -cdo -emailnow"));
  EXPECT_FALSE(settings->commandLineRejected());
  EXPECT_TRUE(logHas("Loading configuration interface."));
  EXPECT_FALSE(settings->isCDO());
  EXPECT_EQ(settings->smtpAuth(), 4);
  EXPECT_FALSE(settings->emailNow());
}

TEST_F(OptionParserTest, RejectedValuesAreLoggedAndStopTheRun) {
  const std::string idMessage =
      "ERROR: You must specify a numeric list of favorite IDs if you are using -id. "
      "You specified: ";
  auto port = [](const std::string& v) {
    return "ERROR: The -port value '" + v +
           "' is not a port number. Please enter a number from 1 to 65535, e.g. -port 25.";
  };
  auto auth = [](const std::string& v) {
    return "ERROR: The -auth value '" + v +
           "' is not a number. Please enter the number of the authentication method, "
           "e.g. -auth 1.";
  };
  auto timeout = [](const std::string& v) {
    return "ERROR: The -smtptimeout value '" + v +
           "' is not a number. Please enter the number of seconds, e.g. -smtptimeout 30.";
  };
  auto date = [](const std::string& v) {
    return "ERROR: The -date value '" + v +
           "' is not a date. Please enter a date such as 12/5/2026 or 2026-12-05.";
  };
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"-port abc", port("abc")},
      {"-port 0", port("0")},
      {"-port 65536", port("65536")},
      {"-port 65535.5", port("65535.5")},
      {"-auth x", auth("x")},
      {"-auth 40000", auth("40000")},
      {"-smtptimeout 32768", timeout("32768")},
      {"-smtptimeout 1e9", timeout("1e9")},
      {"-date 2026-13-45", date("2026-13-45")},
      {"-date tomorrow", date("tomorrow")},
      {"-id 5a", idMessage + "5a"},
      {"-excludeid 1;2", idMessage + "1;2"},
      {"-dashboardid x",
       "ERROR: You must specify a numeric list of Dashboard IDs if you are using -dashboardid. "
       "You specified: x"},
      {"-reportid \"1 or 1\"",
       "ERROR: You must specify a numeric list of report IDs if you are using -reportid. "
       "You specified: 1 or 1"},
      {"-mappingid m",
       "ERROR: You must specify a numeric list of mapping IDs if you are using -mappingid. "
       "You specified: m"},
      {"-sleep ten",
       "ERROR: You must specify the number of seconds to delay between emails e.g. -sleep 10 "
       "\r\nYou specified: ten"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(programFolder() + "/postrix.log");
    newRun();
    EXPECT_TRUE(parse(c.args)) << c.args;
    EXPECT_TRUE(settings->commandLineRejected()) << c.args;
    std::vector<std::string> log = logMessages();
    EXPECT_EQ(log.back(), c.message) << "args: " << c.args;
    EXPECT_EQ(log.size(), 4u) << "args: " << c.args << ": one message after the header";
  }
}

TEST_F(OptionParserTest, StopEndsParsingBeforeLaterPasses) {
  // -emailnow's pass runs before -id's; -location's and -generatepdf's after.
  EXPECT_TRUE(parse("-generatepdf -id 5a -emailnow -location /x"));
  EXPECT_TRUE(settings->emailNow());
  EXPECT_EQ(settings->filelocation(), "");
  EXPECT_FALSE(settings->generatePDF());
  newRun();
  EXPECT_TRUE(parse("-sleep x -id 7 -generatepdf"));
  EXPECT_EQ(sleepSeconds, "x");
  EXPECT_EQ(settings->param_id_list(), "");
  EXPECT_FALSE(settings->generatePDF());
}

TEST_F(OptionParserTest, SleepValueIsKept) {
  EXPECT_FALSE(parse("-sleep \"10\""));
  EXPECT_EQ(sleepSeconds, "10");
}

TEST_F(OptionParserTest, FileformatWarnsButGoesOn) {
  EXPECT_FALSE(parse("-fileformat xls -emailnow"));
  EXPECT_EQ(settings->attachement_file_format(), "");
  EXPECT_TRUE(settings->emailNow());
  EXPECT_TRUE(logHas(
      "WARNING: You specified an unknown value for the -fileformat argument. Please check the "
      "postrix manual for the list of available values."));
}

TEST_F(OptionParserTest, IntervalAndMultitimeNeedTheMarker) {
  EXPECT_FALSE(parse("-interval 5 -multitime"));
  EXPECT_EQ(settings->thisIntervalStartId(), 0);
  EXPECT_FALSE(settings->iscmdLineInterval());
  EXPECT_FALSE(settings->isMultipleSchedules());
  newRun();
  EXPECT_FALSE(parse("-interval x"));
}

TEST_F(OptionParserTest, IntervalWithTheMarker) {
  sql("UPDATE System SET smtpauth = 101");
  const std::string numeric =
      "ERROR: Please enter a numeric value for the interval ID between 0-47.";
  const std::string range = "ERROR: The interval ID must be between 0-47.";
  struct Case {
    std::string args;
    bool stop;
    int interval;
    std::string message;
  } cases[] = {
      {"", false, 34, ""},
      {"-interval 2.5", false, 2, ""},
      {"-interval 3.5", false, 4, ""},
      {"-interval 0", false, 0, ""},
      {"-interval 47", false, 47, ""},
      {"-interval 48", true, -1, range},
      {"-interval -1", true, -1, range},
      {"-interval x", true, -1, numeric},
  };
  for (const auto& c : cases) {
    newRun();
    EXPECT_EQ(parse(c.args), c.stop) << c.args;
    EXPECT_EQ(settings->smtpAuth(), 1) << "the hundreds are the marker";
    EXPECT_EQ(settings->commandLineRejected(), c.stop) << c.args;
    if (c.interval >= 0) {
      EXPECT_EQ(settings->thisIntervalStartId(), c.interval) << c.args;
    }
    if (!c.message.empty()) {
      EXPECT_EQ(logMessages().back(), c.message) << c.args;
    }
    EXPECT_EQ(settings->iscmdLineInterval(), !c.args.empty() && c.message != numeric) << c.args;
  }
  newRun();
  EXPECT_FALSE(parse("-MultiTime"));
  EXPECT_TRUE(settings->isMultipleSchedules());
}

TEST_F(OptionParserTest, PasswordNeverReachesTheLog) {
  struct Case {
    std::string args;
    std::string argsLine;
    std::string message;
  } cases[] = {
      {"-pass hunter2 -port hunter2", "Args: ' -dsn relativemdb -pass XXXXXX -port XXXXXX'",
       "ERROR: The -port value 'XXXXXX' is not a port number. Please enter a number from 1 to "
       "65535, e.g. -port 25."},
      {"-pass \"two words\" -port words\"",
       "Args: ' -dsn relativemdb -pass XXXXXX XXXXXX -port XXXXXX'",
       "ERROR: The -port value 'XXXXXX' is not a port number. Please enter a number from 1 to "
       "65535, e.g. -port 25."},
      {"-pass pw9 -id \"1 pw9 2\"", "Args: ' -dsn relativemdb -pass XXXXXX -id \"1 XXXXXX 2\"'",
       "ERROR: You must specify a numeric list of favorite IDs if you are using -id. "
       "You specified: 1 XXXXXX 2"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(programFolder() + "/postrix.log");
    newRun();
    EXPECT_TRUE(parse(c.args));
    auto log = logMessages();
    ASSERT_EQ(log.size(), 4u) << c.args;
    EXPECT_EQ(log[2], c.argsLine);
    EXPECT_EQ(log[3], c.message);
  }
}

// Regression: the Args line masked only tokens equal to the password, so a
// token that merely contained it (here a connection string) was logged in clear.
TEST_F(OptionParserTest, PasswordInsideAnotherTokenIsMasked) {
  EXPECT_FALSE(parse("-pass s3cret -connectionstring \"Uid=sa;Pwd=s3cret\""));
  EXPECT_EQ(settings->email_password(), "s3cret");
  EXPECT_EQ(logText().find("s3cret"), std::string::npos) << logText();
}

// Fault: a password written in quotes over two tokens is masked only with
// its quotes, so a value that repeats it, read without them, shows it.
TEST_F(OptionParserTest, QuotedPasswordIsMaskedWithoutItsQuotes) {
  EXPECT_TRUE(parse("-pass \"my s3cret\" -id \"my s3cret\""));
  EXPECT_EQ(logText().find("s3cret"), std::string::npos) << logText();
}

// Regression: every token equal to the password was masked again in turn, so
// a password that is part of the mask ("X") multiplied the mask: 36 X for two
// tokens, sixfold more with each further one.
TEST_F(OptionParserTest, RejectionMasksAPasswordOnceHoweverOftenItRepeats) {
  EXPECT_TRUE(parse("-pass X -id X"));
  EXPECT_EQ(logMessages().back(),
            "ERROR: You must specify a numeric list of favorite IDs if you are using -id. "
            "You specified: XXXXXX");
}

TEST_F(OptionParserTest, AlertsNeedTheirTable) {
  EXPECT_FALSE(parse("-alerts"));
  EXPECT_TRUE(settings->isAlerts());
  sql("DROP TABLE mass_reports_to_email");
  newRun();
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
  EXPECT_TRUE(parse("-convertschedules banana -emailnow"));
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
