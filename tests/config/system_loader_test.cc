#include <gtest/gtest.h>

#include "support/run_fixture.h"

namespace postrix::test {
namespace {

using SystemLoaderTest = RunFixture;

TEST_F(SystemLoaderTest, RequiredColumnsOnlyGiveDefaultsAndTheInfoLine) {
  sql("DROP TABLE System; CREATE TABLE System (urlorvanta, emailsource, emailproblemreports,"
      " smtpserver, smtpport, char_set); INSERT INTO System VALUES ('http://qx/',"
      " 'me@example.com', '', 'smtp.example.com', 587, 'UTF-8');");
  ASSERT_FALSE(parse(""));
  EXPECT_TRUE(logHas("INFO: System database does not contain extra postrix config fields."));
  EXPECT_EQ(settings->smtpUser(), "me@example.com");
  EXPECT_EQ(settings->smtpPort(), 587);
  EXPECT_EQ(settings->smtpAuth(), 0);
  EXPECT_EQ(settings->smtpTimeout(), 30);
  EXPECT_FALSE(settings->useSSL());
  EXPECT_EQ(settings->senderName(), "Quarvex");
}

TEST_F(SystemLoaderTest, ADamagedSystemTableIsReported) {
  sql("UPDATE System SET smtpport='abc', smtpserver=NULL");
  EXPECT_FALSE(parse(""));
  EXPECT_TRUE(
      logHas("WARNING: The System table's smtpport value 'abc' is not a port number; "
             "port 25 is used."));
  EXPECT_TRUE(logHas("WARNING: The System table holds no value for smtpserver."));

  sql("DELETE FROM System");  // no row at all: nothing to run with
  newRun();
  parse("");
  EXPECT_EQ(endStatus, 1);
  EXPECT_EQ(logMessages().back().rfind("ERROR: The System table of the system database", 0), 0u);

  sql("DROP TABLE System");  // no table: the defaults and the command line
  newRun();
  EXPECT_FALSE(parse(""));
  EXPECT_TRUE(logHas("ERROR: System Database Unavailable."));
  EXPECT_EQ(settings->urlOrvanta(), "http://localhost/");
}

TEST_F(SystemLoaderTest, LoadsTheSystemRowThroughAnOdbcDataSource) {
  runSqlite(odbcSystemDatabase(),
            "DELETE FROM System; INSERT INTO System (urlorvanta, emailsource,"
            " emailproblemreports, smtpserver, smtpport, char_set, smtpauth, smtpssl)"
            " VALUES ('http://odbc/', 'odbc@example.com', '', 'odbc-mail', 2525, 'UTF-8', 104,"
            " 'yes')");
  ASSERT_FALSE(parse("-dsn SystemDB"));
  EXPECT_EQ(settings->smtpServer(), "odbc-mail");
  EXPECT_EQ(settings->smtpPort(), 2525);
  EXPECT_EQ(settings->smtpAuth(), 4);
  EXPECT_TRUE(settings->hasMultipleTimesMarker());
  EXPECT_TRUE(settings->useSSL());
  EXPECT_TRUE(utilities->checkTableExists("mass_reports_to_email", utilities->getSystemConn()));
}

}  // namespace
}  // namespace postrix::test
