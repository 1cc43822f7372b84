// The program as an administrator starts it: the real executable and the
// run log it leaves.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "support/shell_output.h"
#include "support/temp_database.h"

namespace postrix::test {
namespace {

class CliTest : public ::testing::Test {
 protected:
  CliTest() : program(home.file("postrix")), log(program + "/postrix.log") {
    std::filesystem::create_directories(program);
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

TEST_F(CliTest, AnUnknownDataSourceEndsWithStatus1) {
  EXPECT_EQ(postrix("-dsn nosuchdsn"), 1);
  EXPECT_NE(readFile(log).find("[ERROR: Could not find the system DSN connection: "
                               "'dsn=nosuchdsn;uid=Admin;password=XXXXXX'. Please check that "
                               "you have created the System DSN.]"),
            std::string::npos)
      << readFile(log);
  // The designed line names no cause; the driver manager's own words do.
  EXPECT_NE(readFile(log).find("[ERROR: The ODBC driver manager said: "), std::string::npos);
  EXPECT_NE(readFile(log).find("Data source name not found"), std::string::npos) << readFile(log);
  // A password of a connection string never reaches the log.
  EXPECT_EQ(postrix("-dsn 'Driver={NoSuchDriver};Server=db;UID=sa;PWD=s3cret;Timeout=5'"), 1);
  EXPECT_NE(readFile(log).find("'Driver={NoSuchDriver};Server=db;UID=sa;PWD=XXXXXX;Timeout=5'"),
            std::string::npos)
      << readFile(log);
  EXPECT_EQ(readFile(log).find("s3cret"), std::string::npos);
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

}  // namespace
}  // namespace postrix::test
