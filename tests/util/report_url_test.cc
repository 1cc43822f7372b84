// Report addresses, form data and query-string values.
#include <gtest/gtest.h>

#include "support/run_fixture.h"

namespace postrix::test {
namespace {

using ReportUrlTest = RunFixture;

TEST_F(ReportUrlTest, AddressesOfReportsDashboardsAndExternalPages) {
  parse("");
  const std::string base = "http://qx.example/";
  struct Case {
    const char* url;
    int id, mapping;
    const char* format;
    bool dashboard;
    int company;
    const char* filter;
    std::string want;
  } cases[] = {
      {"http://files.example/r.html?a=1", 1, 1, "html", false, 3, "",
       "http://files.example/r.html"},
      {"HTTP://x?a=1", 12, 7, "csv", false, -1, "",
       base + "analysis.asp?email_report=1&mapping_id=7&reportid=12&format=csv"},
      {"a=1", 12, 7, "CSV", false, 0, "",
       base + "analysis.asp?email_report=1&mapping_id=7&reportid=12&company_id=0"},
      {"", 5, 0, "", true, 0, "region=3&storeaction=1",
       base + "dashboard.asp?email_report=1&dashboard_id=5&company_id=0&region=3"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(utilities->buildReportURL(c.url, c.id, c.mapping, c.format, c.dashboard, c.company,
                                        c.filter),
              c.want)
        << c.url;
  newRun();
  parse("-emailnow");
  EXPECT_EQ(utilities->buildReportURL("a=1", 2, 3, "html", false, -1, ""),
            base + "analysis.asp?email_report=1&mapping_id=3&reportid=2&email_now=true");
}

TEST(ReportUrlStaticTest, FormDataAndEncoding) {
  EXPECT_EQ(Utilities::buildReportQS("http://x/r?a=1&b=2?c"), "a=1&b=2?c");
  EXPECT_EQ(Utilities::buildReportQS("a=1&b=2"), "a=1&b=2");
  struct {
    std::string in, want;
  } encodings[] = {{" a.b ", "a%2Eb"},
                   {"a b", "a+b"},
                   {"\xE2\x82\xAC", "%E2%82%AC"},
                   {"\xF0\x9F\x98\x80", "%F0%9F%98%80"},  // one character, not two halves
                   {std::string("x\0y-_~", 6), "xy%2D%5F%7E"}};
  for (const auto& e : encodings) EXPECT_EQ(Utilities::URLEncode(e.in), e.want) << e.in;
}

TEST(ReportUrlStaticTest, ReadingAndReplacingValues) {
  std::string qs = "&x=1&y=2&x=3&";
  EXPECT_EQ(Utilities::getQSVariable(qs, "x"), "1,3");
  EXPECT_EQ(qs, "x=1&y=2&x=3");
  std::string other = "k=a=b&K=c&k";
  EXPECT_EQ(Utilities::getQSVariable(other, "k"), "a=b");

  struct {
    const char *in, *want;
  } changes[] = {{"x=1", "x=1&r_title=New"},
                 {"", "&r_title=New"},
                 {"a?r_title=Old?y=2", "a?r_title=New&y=2"},
                 {"my_r_title=1&r_title=", "my_r_title=1&r_title=New"}};
  for (const auto& c : changes)
    EXPECT_EQ(Utilities::changeQSVariable(c.in, "r_title", "New"), c.want) << c.in;
}

}  // namespace
}  // namespace postrix::test
