// The program as an administrator starts it: the real executable, an
// installation folder made by scripts/initdb, and the run log it leaves.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/command_line.h"
#include "support/temp_database.h"

namespace postrix::test {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() : program(home.file("postrix")), log(program + "/postrix.log") {
    std::filesystem::create_directories(program);
  }

  // Runs a shell command; returns its exit status.
  static int shell(const std::string& command) {
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  void initdb() {
    ASSERT_EQ(shell(std::string(POSTRIX_SOURCE_DIR) + "/scripts/initdb " +
                    home.file("qx_data/system33.mdb") + " >/dev/null"),
              0);
  }

  // Runs the program with POSTRIX_HOME set; stdout goes to out().
  int postrix(const std::string& args) {
    return shell("POSTRIX_HOME=" + program + " " + POSTRIX_BINARY + " " + args + " >" +
                 home.file("stdout") + " 2>&1");
  }
  std::string out() { return readFile(home.file("stdout")); }

  TempDir home;
  std::string program, log;
};

TEST_F(CliTest, RelativeMdbFindsTheInstallationsDatabase) {
  initdb();
  EXPECT_EQ(postrix("-dsn relativemdb"), 0);
  std::string text = readFile(log);
  EXPECT_NE(text.find(" []\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[---------------- New Entry ---------------- "), std::string::npos);
  EXPECT_NE(text.find("[Args: ' -dsn relativemdb']"), std::string::npos);
  EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
  EXPECT_EQ(text.find("INFO"), std::string::npos) << text;
}

TEST_F(CliTest, AnUnknownDataSourceEndsWithStatus1) {
  EXPECT_EQ(postrix("-dsn nosuchdsn"), 1);
  EXPECT_NE(readFile(log).find("[ERROR: Could not find the system DSN connection: "
                               "'dsn=nosuchdsn;uid=Admin;password=qmw7315'. Please check that "
                               "you have created the System DSN.]"),
            std::string::npos)
      << readFile(log);
}

// A data source that cannot open would end the run with status 1: status 2
// shows the database was never read.
TEST_F(CliTest, AnUnknownOptionStopsTheRunBeforeTheDatabaseIsOpened) {
  EXPECT_EQ(postrix("-dsn nosuchdsn --dryrun -Pass -s3cret-"), 2);
  const std::string line =
      "ERROR: Unknown option '--dryrun'; did you mean -dryrun? Nothing was read or sent. "
      "postrix --help lists the options.";
  EXPECT_EQ(out(), "postrix: " + line +
                       "\npostrix: ERROR: Unknown option '-Pass'; did you mean -pass? Nothing "
                       "was read or sent. postrix --help lists the options.\n");
  std::string text = readFile(log);
  EXPECT_NE(text.find("[" + line + "]\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("nosuchdsn;"), std::string::npos) << text;
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
}

TEST_F(CliTest, HelpAndVersionTouchNeitherLogNorDatabase) {
  for (const char* flag : {"--help", "-help", "-h"}) {
    EXPECT_EQ(postrix(std::string("-dsn nosuchdsn ") + flag), 0);
    EXPECT_NE(out().find("-convertschedules"), std::string::npos) << flag;
  }
  EXPECT_EQ(postrix("--version"), 0);
  EXPECT_EQ(out().rfind("postrix ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST_F(CliTest, ArgumentsWithBlanksReachTheParserQuoted) {
  initdb();
  EXPECT_EQ(postrix("-dsn relativemdb -fromname 'Sales Team' -pass 'two words' -nolog"), 0);
  EXPECT_FALSE(std::filesystem::exists(log));
  EXPECT_EQ(postrix("-dsn relativemdb -fromname 'Sales Team' -pass 'two words'"), 0);
  std::string text = readFile(log);
  EXPECT_NE(text.find("-fromname \"Sales Team\" -pass XXXXXX XXXXXX"), std::string::npos) << text;
  EXPECT_EQ(text.find("words"), std::string::npos);
}

TEST_F(CliTest, InitdbExplainsItselfRefusesUnknownFlagsAndAddsCompaniesOnRequest) {
  std::string initdb = std::string(POSTRIX_SOURCE_DIR) + "/scripts/initdb ";
  std::string db = home.file("qx_data/system33.mdb");
  EXPECT_EQ(shell("cd " + home.path() + " && " + initdb + "--help >" + home.file("stdout")), 0);
  EXPECT_EQ(out().rfind("usage: scripts/initdb [--companies] PATH", 0), 0u) << out();
  EXPECT_EQ(shell(initdb + "--company " + db + " 2>/dev/null"), 2);
  EXPECT_FALSE(std::filesystem::exists(home.file("qx_data")));
  EXPECT_EQ(shell(initdb + "--companies " + db + " >/dev/null"), 0);
  EXPECT_EQ(querySqlite(db, "SELECT count(*) FROM sqlite_master WHERE name='CompanyReports'"),
            std::vector<std::string>{"1"});
}

TEST(CommandLineTest, ArgumentsAreJoinedTheWayTheParserReadsThem) {
  EXPECT_EQ(joinArguments({"-id", "1, 2", "", "-x"}), "-id \"1, 2\" \"\" -x");
  EXPECT_TRUE(asksForHelp({"-server", "s", "-h"}));
  EXPECT_FALSE(asksForHelp({"-H"}));
}

// A new installation has no CompanyReports table, so a due favourite is sent
// to its own recipients.
TEST_F(CliTest, DryRunPrintsTheQueueAndEndsNormally) {
  initdb();
  ASSERT_EQ(shell("sqlite3 " + home.file("qx_data/system33.mdb") +
                  " \"INSERT INTO UserReports (report_id, mapping_id,"
                  " reporttitle, reporturl, format, email, schedule_details, sendreport) VALUES"
                  " (1,1,'Sales','x=1','csv','a@x.com','daily','on')\""),
            0);
  EXPECT_EQ(postrix("-dsn relativemdb -dryrun -oemail o@x.com"), 0);
  EXPECT_EQ(out(),
            "report 1 \"Sales\" to o@x.com format csv company none alert none\n"
            "1 favourite would be sent; nothing was sent and nothing was changed.\n");
}

}  // namespace
}  // namespace postrix::test
