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

class ChartImagesTest : public RunFixture {
 protected:
  // Runs checkImg over body for a message with its charts as parts; returns its result.
  bool embed(std::string& body, const std::string& args = "") {
    EXPECT_FALSE(parse("-url " + web.url("/") + " " + args));
    email = std::make_unique<Email>();
    email->setUtilities(*utilities);
    email->setSettings(*settings);
    email->initEmail(1);
    return email->checkImg(body, false, false);
  }

  std::string reader() {
    email->setBody("<html><body>x</body></html>");
    return readerView(email->mailBee()->Message().renderForSending());
  }

  WebApp web;
  std::unique_ptr<Email> email;
};

TEST_F(ChartImagesTest, AtMostFiftyChartsAreEmbedded) {
  std::string body;
  for (int i = 1; i <= 51; ++i) body += chart("c" + std::to_string(i));
  EXPECT_FALSE(embed(body, "-deletefile"));
  EXPECT_EQ(occurrences(body, "cid:qx_chart"), 50);
  EXPECT_TRUE(body.find(chart("c51")) != std::string::npos) << "the 51st is left unchanged";
  EXPECT_EQ(occurrences(reader(), "\npart qx_chart"), 50);
  EXPECT_FALSE(fs::exists(programFolder() + "/qx_chart.jpg")) << "-deletefile removes it";
}

TEST_F(ChartImagesTest, UnchangedTagsAreFetchedOnceEach) {
  // With -skip the body keeps its addresses; the scan moves past each tag
  // instead of finding the same one again fifty times.
  std::string body = chart("north") + chart("south");
  const std::string before = body;
  EXPECT_FALSE(embed(body, "-skip"));
  EXPECT_EQ(body, before);
  EXPECT_EQ(web.requests().size(), 2u);
  EXPECT_EQ(occurrences(reader(), "\npart qx_chart"), 2);
}

TEST_F(ChartImagesTest, OtherImagesStayABadTagIsSkippedAndAFailedFetchStopsTheSend) {
  std::string body = "<img src=\"logo.png\" border=0><img src=\"analysis_bad.asp\">" +
                     chart("missing") + chart("south");
  EXPECT_TRUE(embed(body));
  EXPECT_EQ(body,
            "<img src=\"logo.png\" border=0><img src=\"analysis_bad.asp\"><img "
            "src=\"cid:qx_chart1.jpg\" border=0><img src=\"cid:qx_chart2.jpg\" border=0>");
  EXPECT_EQ(web.requests().size(), 2u) << "no piece of markup is fetched as an address";
  EXPECT_TRUE(
      logHas("WARNING: An image tag without \" border=\" after its address is left as "
             "it is."));
  EXPECT_TRUE(
      logHas("ERROR: Unable to download image 'analysis_chart.asp?name=missing'. Server "
             "return code 404."));
  EXPECT_TRUE(logHas("ERROR: Unable to download image. 0 bytes returned."));
}

}  // namespace
}  // namespace postrix::test
