#include "platform/http/http_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "support/web_app.h"
#include "util/failure.h"

namespace postrix::http {
namespace {

using std::chrono::milliseconds;

// Runs a request that must fail; returns the failure and how long it took.
Failure failureOf(HttpRequest& request, std::string_view method, const std::string& to,
                  std::string_view body, milliseconds& took) {
  auto start = std::chrono::steady_clock::now();
  try {
    request.open(method, to);
    request.send(body);
  } catch (const Failure& failure) {
    took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    return failure;
  }
  ADD_FAILURE() << method << " " << to << " did not fail";
  return {0, ""};
}

class HttpRequestTest : public ::testing::Test {
 protected:
  test::WebApp app;
};

TEST_F(HttpRequestTest, PostsTheBodyByteForByteAndDecodesTheAnswer) {
  const std::string form("user=a%26b&x==1&name=Ren\xC3\xA9&raw=\xE9\xFF\0end", 40);
  HttpRequest request;
  request.open("post", app.url("/analysis.asp?ReportID=7&Format=html%20x"));
  request.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  request.send(form);
  EXPECT_EQ(request.status(), 200);
  for (const char* path : {"/latin1", "/latin1-meta"}) {  // declared in the header, in the page
    request.open("GET", app.url(path));
    request.send();
    EXPECT_EQ(request.responseCharset(), "iso-8859-1") << path;
    EXPECT_NE(request.responseText().find("Caf\xC3\xA9 na\xC3\xAFve \xC3\x89t\xC3\xA9"),
              std::string::npos)
        << path;
    EXPECT_NE(request.responseBody().find("Caf\xE9 na\xEFve"), std::string::npos) << path;
  }

  std::vector<test::WebRequest> got = app.requests();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].method, "POST");
  EXPECT_EQ(got[0].path, "/analysis.asp?ReportID=7&Format=html%20x");
  EXPECT_EQ(got[0].contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(got[0].body, form);
  EXPECT_EQ(got[1].method, "GET");
  EXPECT_EQ(got[1].body, "");
}

// A redirect to another protocol is refused, not tried.
TEST_F(HttpRequestTest, ARedirectStaysOnTheWeb) {
  HttpRequest request;
  milliseconds took{};
  Failure failure =
      failureOf(request, "GET", app.url("/redirect?code=302&to=ftp://127.0.0.1/x"), "", took);
  EXPECT_EQ(failure.number(), err::kCannotOpen);
  EXPECT_NE(failure.description().find("ftp"), std::string::npos) << failure.description();
}

TEST_F(HttpRequestTest, AnAnswerOverTheLimitFailsAtTheLimit) {
  constexpr size_t kLimit = 1024 * 1024;
  HttpRequest request;
  request.setMaxAnswerBytes(kLimit);
  // Without a limit the first two would never end; the third declares its length, the
  // last comes in chunks and ends one byte past the limit.
  for (const char* path :
       {"/endless", "/gzip-bomb", "/exact?bytes=1048577", "/exact?bytes=1048577&mode=chunked"}) {
    milliseconds took{};
    Failure failure = failureOf(request, "GET", app.url(path), "", took);
    EXPECT_EQ(failure.number(), kAnswerTooLarge) << path << ": " << failure.description();
    EXPECT_EQ(failure.description(), "The answer is larger than 1048576 bytes") << path;
    EXPECT_EQ(request.responseBody(), "") << path;
  }
  for (const char* mode : {"length", "chunked", "gzip"}) {
    request.open("GET", app.url("/exact?bytes=1048576&mode=" + std::string(mode)));
    request.send();
    EXPECT_EQ(request.responseText().size(), kLimit) << mode << ": a page of the limit is whole";
  }
}

TEST_F(HttpRequestTest, ReceiveTimeOutCountsFromTheLastProgress) {
  HttpRequest request;
  request.setTimeouts(1000, 1000, 1000, 600);
  milliseconds took{};
  Failure failure = failureOf(request, "GET", app.url("/stall"), "", took);
  EXPECT_EQ(failure.number(), kTimedOut);
  EXPECT_EQ(failure.description(), "The operation timed out");
  EXPECT_GE(took, milliseconds(550));
  EXPECT_LT(took, milliseconds(2000));

  // 6 pieces 250 ms apart take longer than the time-out, but none is late.
  request.open("GET", app.url("/trickle?chunks=6&ms=250"));
  request.send();
  EXPECT_NE(request.responseText().find("<p>5</p>"), std::string::npos);

  // An upload the server never reads ends by the send time-out: more than the
  // loopback socket buffers take in.
  request.setTimeouts(1000, 1000, 500, 5000);
  EXPECT_EQ(
      failureOf(request, "POST", app.url("/stall"), std::string(48 << 20, 'x'), took).number(),
      kTimedOut);
  EXPECT_LT(took, milliseconds(2500)) << "the receive time-out ran instead";
}

TEST(CharsetTest, FindsTheDeclaredCharsetAndDecodesIntoValidUtf8) {
  const std::tuple<const char*, std::string, const char*> declared[] = {
      {"text/html; charset = 'utf-8' ; q=1", "", "utf-8"},
      {"text/html", "<head><META CHARSET=Shift_JIS></head>", "shift_jis"},
      {"text/html",
       "<meta name=\"x\" content=\"charset notes\"><meta http-equiv=Content-Type "
       "content='text/html; charset=windows-1251'>",
       "windows-1251"},
      {"text/html; charset=utf-8", "<meta charset=\"iso-8859-1\">", "utf-8"},
      {"text/html", std::string(5000, ' ') + "<meta charset=\"koi8-r\">", ""},  // too far in
  };
  for (const auto& [contentType, page, charset] : declared)
    EXPECT_EQ(declaredCharset(contentType, page), charset) << contentType << page;

  const std::string bad = "\xEF\xBF\xBD";
  const std::tuple<std::string, const char*, std::string> decoded[] = {
      {"\x80 \xE9", "ISO-8859-1", "\xE2\x82\xAC \xC3\xA9"},  // read as browsers do
      {"\x81", "windows-1252", bad},                         // unassigned
      {"a\xE9z", "", "a" + bad + "z"},
      {"a\xE2\x82z", "utf-8", "a" + bad + "z"},  // cut-short sequence: one mark
      {"\xC0\xAF\xED\xA0\x80", "utf8", bad + bad + bad + bad + bad},  // overlong, surrogate
      {"end \xF0\x9F", "utf-8", "end " + bad},
      {"Caf\xC3\xA9 \xE9", "no-such-charset", "Caf\xC3\xA9 " + bad},
      {"a\xFFz", "utf-8//IGNORE", "a" + bad + "z"},  // no iconv options from a page
  };
  for (const auto& [bytes, charset, text] : decoded)
    EXPECT_EQ(decodeToUtf8(bytes, charset), text) << charset << " " << bytes;
}

}  // namespace
}  // namespace postrix::http
