// Chart images of a report body, fetched from the local web application and
// embedded in the message; what a mail reader then sees.
#include <gtest/gtest.h>

#include <filesystem>

#include "mail/email.h"
#include "support/mail_reader.h"
#include "support/run_fixture.h"
#include "support/web_app.h"

namespace postrix::test {
namespace {

namespace fs = std::filesystem;

std::string chart(const std::string& name) {
  return "<img src=\"analysis_chart.asp?name=" + name + "\" border=0>";
}

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ChartImagesTest : public RunFixture {
 protected:
  // Runs checkImg over body on a fresh message; returns its result.
  bool embed(std::string& body, bool hasCharts, const std::string& args = "") {
    newRun();
    EXPECT_FALSE(parse("-url " + web.url("/") + " " + args));
    email = std::make_unique<Email>();
    email->setUtilities(*utilities);
    email->setSettings(*settings);
    email->initEmail(1);
    return email->checkImg(body, false, hasCharts);
  }

  std::string reader() {
    email->setBody("<html><body>x</body></html>");
    return readerView(email->mailBee()->Message().renderForSending());
  }

  size_t chartRequests() const {
    size_t n = 0;
    for (const auto& r : web.requests()) n += r.path.rfind("/analysis_chart.asp", 0) == 0;
    return n;
  }

  WebApp web;
  std::unique_ptr<Email> email;
};

TEST_F(ChartImagesTest, ABodyWithoutChartsIsLeftAloneAndNothingIsFetched) {
  std::string body = "<html><body><img src=\"logo.png\" border=0></body></html>";
  const std::string before = body;
  EXPECT_FALSE(embed(body, false));
  EXPECT_EQ(body, before);
  EXPECT_EQ(chartRequests(), 0u);
}

TEST_F(ChartImagesTest, AtMostFiftyChartsAreEmbedded) {
  std::string body;
  for (int i = 1; i <= 51; ++i) body += chart("c" + std::to_string(i));
  EXPECT_FALSE(embed(body, false, "-deletefile"));
  EXPECT_EQ(count(body, "cid:qx_chart"), 50);
  EXPECT_TRUE(body.find(chart("c51")) != std::string::npos) << "the 51st is left unchanged";
  EXPECT_EQ(count(reader(), "\npart qx_chart"), 50);
  EXPECT_FALSE(fs::exists(programFolder() + "/qx_chart.jpg")) << "-deletefile removes it";
}

TEST_F(ChartImagesTest, UnchangedTagsAreFetchedOnceEach) {
  // With -skip the body keeps its addresses; the scan moves past each tag
  // instead of finding the same one again fifty times.
  std::string body = chart("north") + chart("south");
  const std::string before = body;
  EXPECT_FALSE(embed(body, false, "-skip"));
  EXPECT_EQ(body, before);
  EXPECT_EQ(chartRequests(), 2u);
  EXPECT_EQ(count(reader(), "\npart qx_chart"), 2);
}

TEST_F(ChartImagesTest, ATagWithoutItsOwnBorderIsSkipped) {
  std::string body = "<img src=\"analysis_bad.asp\">" + chart("south");
  EXPECT_FALSE(embed(body, false));
  EXPECT_EQ(body, "<img src=\"analysis_bad.asp\"><img src=\"cid:qx_chart1.jpg\" border=0>");
  EXPECT_EQ(chartRequests(), 1u) << "no piece of markup is fetched as an address";
  EXPECT_TRUE(
      logHas("WARNING: An image tag without \" border=\" after its address is left as "
             "it is."));
}

TEST_F(ChartImagesTest, AChartThatCannotBeFetchedStopsTheSend) {
  std::string body = chart("missing") + chart("south");
  EXPECT_TRUE(embed(body, false));
  EXPECT_TRUE(
      logHas("ERROR: Unable to download image 'analysis_chart.asp?name=missing'. Server "
             "return code 404."));
  EXPECT_TRUE(logHas("ERROR: Unable to download image. 0 bytes returned."));
  EXPECT_EQ(chartRequests(), 2u) << "the other charts are still handled";
}

}  // namespace
}  // namespace postrix::test
