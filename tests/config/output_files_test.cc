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
      {"A - B", true, "A_-_B"},
      {"A  B", true, "A_B"},
      {"monthly.csv", true, "monthly_csv"},
      {"<a>|b?*\"[c]:\\", true, "_a_b_c_"},
      // A control character becomes a blank, and a blank becomes "_" only
      // when one is met at a later position.
      {"a\tb", true, "a b"},
      {"a\tb c", true, "a_b_c"},
      {"   ", false, "   "},
  };
  for (auto c : cases) {
    std::string name = c.name;
    EXPECT_EQ(Settings::IsValidFileName(name), c.valid) << "name '" << c.name << "'";
    EXPECT_EQ(name, c.want) << "name '" << c.name << "'";
  }
}

using OutputFilesTest = RunFixture;

TEST_F(OutputFilesTest, ReportFileNameComesFromNameThenFilenameThenRunKind) {
  using NameOp = std::string (Settings::*)(std::string&);
  clock.set(Date::fromParts(2027, 1, 2, 3, 4, 5));
  struct Case {
    std::string args;
    std::string name;
    NameOp op;
    std::string want;
  } cases[] = {
      {"-filename monthly.csv", "Daily Sales", &Settings::TEMP_HTML_FILE, "Daily_Sales.html"},
      {"-filename monthly.csv", "  ", &Settings::CSV_TEMP_FILE, "monthly_csv.csv"},
      {"", "", &Settings::PDF_TEMP_FILE, "scheduled_report.pdf"},
      {"-emailnow", "", &Settings::PDF_TEMP_FILE, "scheduled_report_now.pdf"},
      {"-alerts", "", &Settings::XLS_TEMP_HTML_FILE, "scheduled_report_alert.html"},
      {"-alerts -emailnow", " ", &Settings::CSV_TEMP_FILE, "scheduled_report_now.csv"},
      {"-includedate -includetime", "", &Settings::TEMP_HTML_FILE,
       "scheduled_report_270102_030405.html"},
      {"-emailnow -includedate", "", &Settings::CSV_TEMP_FILE, "scheduled_report_now_270102.csv"},
      {"-includetime", "Book 1", &Settings::XLS_TEMP_FILE, "Book_1_030405"},
  };
  for (const auto& c : cases) {
    newRun();
    ASSERT_FALSE(parse(c.args)) << c.args;
    std::string name = c.name;
    EXPECT_EQ((settings.get()->*c.op)(name), c.want)
        << "args '" << c.args << "', name '" << c.name << "'";
  }
}

TEST_F(OutputFilesTest, DestinationFolderIsCreatedWhenMissing) {
  const std::string reports = programFolder() + "/Reports";
  ASSERT_FALSE(parse("-archive"));
  EXPECT_EQ(settings->PDF_TEMP_FILE_WITH_PATH("Q1 Sales"), reports + "/scheduled_report.pdf");
  EXPECT_TRUE(std::filesystem::is_directory(reports));

  const std::string location = home.file("out") + "/";
  newRun();
  ASSERT_FALSE(parse("-archive -location " + location));
  EXPECT_EQ(settings->filedestination(), location) << "returned exactly as given";
  EXPECT_TRUE(std::filesystem::is_directory(location));

  newRun();
  ASSERT_FALSE(parse("-location " + home.file("missing/out")));
  try {
    settings->filedestination();
    ADD_FAILURE() << "no failure for a missing parent";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 76);
  }
  EXPECT_FALSE(std::filesystem::exists(home.file("missing")));
}

TEST_F(OutputFilesTest, SettingsDumpNeverShowsThePassword) {
  ASSERT_FALSE(parse("-user bob77 -pass pw77 -port 2525"));
  settings->printSettingsToLog();
  EXPECT_EQ(logMessages().back(), "Server: mail.example.com. Port: 2525. Timeout: 30");
  EXPECT_EQ(logText().find("pw77"), std::string::npos);
}

}  // namespace
}  // namespace postrix::test
