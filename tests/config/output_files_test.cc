// Output file names: sanitised, and chosen from the report, -filename and the run kind.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "config/settings.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

TEST(OutputFilesNameTest, IsValidFileNameSanitisesInPlace) {
  // A control character becomes a blank, which becomes "_" only when met at a later position.
  const std::tuple<std::string, bool, std::string> cases[] = {
      {"Q1/Q2 results", true, "Q1_Q2_results"},
      {"A  B", true, "A_B"},
      {"<a>|b?*\"[c]:\\", true, "_a_b_c_"},
      {"a\tb", true, "a b"},
      {"a\tb c", true, "a_b_c"},
      {"   ", false, "   "},
  };
  for (const auto& [given, valid, want] : cases) {
    std::string name = given;
    EXPECT_EQ(Settings::IsValidFileName(name), valid) << "name '" << given << "'";
    EXPECT_EQ(name, want) << "name '" << given << "'";
  }
}

using OutputFilesTest = RunFixture;

TEST_F(OutputFilesTest, ReportFileNameComesFromNameThenFilenameThenRunKind) {
  using NameOp = std::string (Settings::*)(std::string&);
  clock.set(Date::fromParts(2027, 1, 2, 3, 4, 5));
  const std::tuple<std::string, std::string, NameOp, std::string> cases[] = {
      {"-filename monthly.csv", "Daily Sales", &Settings::TEMP_HTML_FILE, "Daily_Sales.html"},
      {"-filename monthly.csv", "  ", &Settings::CSV_TEMP_FILE, "monthly_csv.csv"},
      {"", "", &Settings::PDF_TEMP_FILE, "scheduled_report.pdf"},
      {"-alerts", "", &Settings::XLS_TEMP_HTML_FILE, "scheduled_report_alert.html"},
      {"-alerts -emailnow", " ", &Settings::CSV_TEMP_FILE, "scheduled_report_now.csv"},
      {"-includedate -includetime", "", &Settings::TEMP_HTML_FILE,
       "scheduled_report_270102_030405.html"},
      {"-includetime", "Book 1", &Settings::XLS_TEMP_FILE, "Book_1_030405"},
  };
  for (const auto& [args, given, op, want] : cases) {
    newRun();
    ASSERT_FALSE(parse(args)) << args;
    std::string name = given;
    EXPECT_EQ((settings.get()->*op)(name), want) << "args '" << args << "', name '" << given << "'";
  }
}

}  // namespace
}  // namespace postrix::test
