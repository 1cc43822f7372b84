// Fetching report pages from a local web application.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/run_fixture.h"
#include "support/web_app.h"

namespace postrix::test {
namespace {

class ReportBodyTest : public RunFixture {
 protected:
  std::string fetch(const std::string& args, const std::string& path, bool dashboard = false,
                    const std::string& form = "a=1") {
    newRun();
    utilities->setRequestTimeouts(1000, 1000, 1000, 700);
    EXPECT_FALSE(parse(args));
    return utilities->getReportBody(web.url(path), form, dashboard);
  }

  // Lines of the log that start with prefix.
  int count(const std::string& prefix) const {
    int n = 0;
    for (const auto& m : logMessages()) n += m.rfind(prefix, 0) == 0;
    return n;
  }

  WebApp web;
};

TEST_F(ReportBodyTest, PostsTheFormDataAndLogsTheSize) {
  std::string form = "a=1&r_title=Sales+%C3%A9&b=x%26y";
  std::string body = fetch("-debug", "/analysis.asp?email_report=1&reportid=12", false, form);
  ASSERT_EQ(web.requests().size(), 1u);
  WebRequest got = web.requests()[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, "/analysis.asp?email_report=1&reportid=12");
  EXPECT_EQ(got.contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(got.body, form);
  EXPECT_NE(body.find("<td>Report</td>"), std::string::npos);
  auto log = logMessages();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[3], "Posting url: " + web.url("/analysis.asp?email_report=1&reportid=12"));
  EXPECT_EQ(log[4], "Post data: " + form);
  EXPECT_EQ(log[5].rfind("Returned " + std::to_string(body.size()) + " characters. Took ", 0), 0u);
  EXPECT_EQ(log[6], "Status Code: 200");
  EXPECT_EQ(log[7], "Report Body: \r\n" + body);
}

TEST_F(ReportBodyTest, ErrorPagesAndStatusesAreNotMailedUnlessForced) {
  EXPECT_EQ(fetch("", "/status?code=500"), "No Matching Records");
  EXPECT_TRUE(logHas("ERROR: Server return code 500. Not sending the email."));
  EXPECT_NE(fetch("-fsend", "/status?code=500").find("Internal error"), std::string::npos);

  EXPECT_EQ(fetch("", "/error-page"), "No Matching Records");
  EXPECT_TRUE(
      logHas("ERROR: Discovered tag containing errorMessage class. Not sending the email."));
  EXPECT_NE(fetch("", "/error-page", true).find("errorMessage"), std::string::npos);
  // A dashboard's error box is its own business.
  EXPECT_EQ(count("ERROR: Discovered tag containing errorMessage class."), 1);
}

TEST_F(ReportBodyTest, ATimeOutEndsTheReportAndRestartsThePoolOnce) {
  const std::string timedOut = "ERROR: Connection to the server timed out.";
  EXPECT_EQ(fetch("", "/stall"), "No Matching Records");
  EXPECT_EQ(count(timedOut), 1);
  std::string marker = home.file("restarted"), script = programFolder() + "/restartapppool.sh";
  std::ofstream(script) << "#!/bin/sh\necho \"$1\" >> " << marker << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  EXPECT_EQ(fetch("-reporttimeout -apppoolname Pool7", "/stall"), "No Matching Records");
  EXPECT_EQ(count(timedOut), 3);
  EXPECT_EQ(count("Restart application pool and try again."), 1);
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(readFile(marker), "Pool7\n");
  EXPECT_EQ(web.requests().size(), 3u);
}

}  // namespace
}  // namespace postrix::test
