// Output file names and folders, and the one-line settings dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/settings.h"
#include "support/run_fixture.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

TEST(OutputFilesNameTest, IsValidFileNameSanitisesInPlace) {
  struct Case {
    std::string name;
    bool valid;
    std::string want;
  } cases[] = {
      {"Q1/Q2 results", true, "Q1_Q2_results"},
      {"Sales report 1.2 (EU)", true, "Sales_report_1_2_(EU)"},
      {"A - B", true, "A_-_B"},
      {"A  B", true, "A_B"},
      {"a__b", true, "a_b"},
      {"monthly.csv", true, "monthly_csv"},
      {"<a>|b?*\"[c]:\\", true, "_a_b_c_"},
      {"caf\xc3\xa9 m\xc3\xa9nu", true, "caf\xc3\xa9_m\xc3\xa9nu"},
      // A control character becomes a blank, and a blank becomes "_" only
      // when one is met at a later position.
      {"a\tb", true, "a b"},
      {"a\tb c", true, "a_b_c"},
      {"   ", false, "   "},
      {"", false, ""},
  };
  for (auto c : cases) {
    std::string name = c.name;
    EXPECT_EQ(Settings::IsValidFileName(name), c.valid) << "name '" << c.name << "'";
    EXPECT_EQ(name, c.want) << "name '" << c.name << "'";
  }
}

class OutputFilesTest : public RunFixture {
 protected:
  using NameOp = std::string (Settings::*)(std::string&);
};

TEST_F(OutputFilesTest, ReportFileNameComesFromNameThenFilenameThenRunKind) {
  struct Case {
    std::string args;
    std::string name;
    NameOp op;
    std::string want;
  } cases[] = {
      {"", "Daily Sales", &Settings::TEMP_HTML_FILE, "Daily_Sales.html"},
      {"-filename monthly.csv", "Daily Sales", &Settings::CSV_TEMP_FILE, "Daily_Sales.csv"},
      {"-filename monthly.csv", "  ", &Settings::CSV_TEMP_FILE, "monthly_csv.csv"},
      {"", "", &Settings::PDF_TEMP_FILE, "scheduled_report.pdf"},
      {"-emailnow", "", &Settings::PDF_TEMP_FILE, "scheduled_report_now.pdf"},
      {"-alerts", "", &Settings::XLS_TEMP_HTML_FILE, "scheduled_report_alert.html"},
      {"-alerts -emailnow", " ", &Settings::CSV_TEMP_FILE, "scheduled_report_now.csv"},
      {"-includedate -includetime", "", &Settings::TEMP_HTML_FILE,
       "scheduled_report_261205_170637.html"},
      {"-emailnow -includedate", "", &Settings::CSV_TEMP_FILE, "scheduled_report_now_261205.csv"},
      {"-includetime", "Book 1", &Settings::XLS_TEMP_FILE, "Book_1_170637"},
      {"", "", &Settings::XLS_TEMP_FILE, "scheduled_report"},
  };
  for (const auto& c : cases) {
    newRun();
    ASSERT_FALSE(parse(c.args)) << c.args;
    std::string name = c.name;
    EXPECT_EQ((settings.get()->*c.op)(name), c.want)
        << "args '" << c.args << "', name '" << c.name << "'";
  }
}

TEST_F(OutputFilesTest, NameArgumentAndFilenameAreSanitisedInPlace) {
  ASSERT_FALSE(parse("-filename q1.sales"));
  std::string name = "Q1/Q2";
  EXPECT_EQ(settings->TEMP_HTML_FILE(name), "Q1_Q2.html");
  EXPECT_EQ(name, "Q1_Q2");
  EXPECT_EQ(settings->filename(), "q1_sales");
}

TEST_F(OutputFilesTest, ChartImageNames) {
  struct Case {
    std::string args;
    std::string want;
  } cases[] = {
      {"", "qx_chart.jpg"},
      {"-emailnow", "qx_chart_now.jpg"},
      {"-alerts", "qx_chart_alert.jpg"},
      {"-filename sales.q1 -includedate -includetime", "sales_q1_261205_170637.jpg"},
  };
  for (const auto& c : cases) {
    newRun();
    ASSERT_FALSE(parse(c.args)) << c.args;
    EXPECT_EQ(settings->IMG_TEMP_FILE(), c.want) << "args '" << c.args << "'";
  }
}

TEST_F(OutputFilesTest, DateAndTimeHaveTwoDigitsEach) {
  clock.set(Date::fromParts(2027, 1, 2, 3, 4, 5));
  EXPECT_EQ(settings->filedate(), "270102");
  EXPECT_EQ(settings->filetime(), "030405");
}

TEST_F(OutputFilesTest, ReportNameIsUsedAndLoggedOnlyWithTheOption) {
  ASSERT_FALSE(parse(""));
  EXPECT_EQ(settings->GetReportName("Daily Sales", true), "");
  EXPECT_FALSE(logHas("Renaming report to: Daily Sales"));

  newRun();
  ASSERT_FALSE(parse("-reportname -emailnow -includedate"));
  EXPECT_EQ(settings->GetReportName("Daily Sales", false), "Daily Sales");
  EXPECT_FALSE(logHas("Renaming report to: Daily Sales"));
  std::string name = settings->GetReportName("Daily Sales", true);
  EXPECT_TRUE(logHas("Renaming report to: Daily Sales"));
  EXPECT_EQ(settings->CSV_TEMP_FILE(name), "Daily_Sales_261205.csv");
}

TEST_F(OutputFilesTest, DestinationIsCreatedWhenMissing) {
  const std::string reports = programFolder() + "/Reports";
  ASSERT_FALSE(parse(""));
  EXPECT_EQ(settings->filedestination(), programFolder());
  EXPECT_FALSE(std::filesystem::exists(reports));

  newRun();
  ASSERT_FALSE(parse("-archive"));
  EXPECT_EQ(settings->filedestination(), reports);
  EXPECT_TRUE(std::filesystem::is_directory(reports));

  const std::string location = home.file("out") + "/";
  newRun();
  ASSERT_FALSE(parse("-archive -location " + location));
  EXPECT_EQ(settings->filedestination(), location) << "returned exactly as given";
  EXPECT_TRUE(std::filesystem::is_directory(location));
}

TEST_F(OutputFilesTest, LocationWithAMissingParentFails) {
  const std::string location = home.file("missing/out");
  ASSERT_FALSE(parse("-location " + location));
  try {
    settings->filedestination();
    ADD_FAILURE() << "no failure for " << location;
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 76);
  }
  EXPECT_FALSE(std::filesystem::exists(home.file("missing")));
}

TEST_F(OutputFilesTest, PdfWithPathJoinsTheDestination) {
  ASSERT_FALSE(parse("-reportname -archive"));
  EXPECT_EQ(settings->PDF_TEMP_FILE_WITH_PATH("Q1 Sales"),
            programFolder() + "/Reports/Q1_Sales.pdf");
  EXPECT_FALSE(logHas("Renaming report to: Q1 Sales"));

  newRun();
  ASSERT_FALSE(parse(""));
  EXPECT_EQ(settings->PDF_TEMP_FILE_WITH_PATH("Q1 Sales"),
            programFolder() + "/scheduled_report.pdf");
}

TEST_F(OutputFilesTest, SettingsDumpShowsServerPortAndTimeoutOnly) {
  ASSERT_FALSE(parse("-user bob77 -pass pw77"));
  settings->printSettingsToLog();
  EXPECT_EQ(logMessages().back(), "Server: mail.example.com. Port: 25. Timeout: 30");

  newRun();
  ASSERT_FALSE(parse("-server mx.b.com -port 2525 -smtptimeout 60"));
  settings->printSettingsToLog();
  EXPECT_EQ(logMessages().back(), "Server: mx.b.com. Port: 2525. Timeout: 60");
}

}  // namespace
}  // namespace postrix::test
