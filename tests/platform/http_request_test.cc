#include "platform/http/http_request.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "support/web_app.h"
#include "util/failure.h"

namespace postrix::http {
namespace {

using std::chrono::milliseconds;

// A port on 127.0.0.1 for fd, which is bound to it.
sockaddr_in bindLoopback(int fd) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  return address;
}

std::string urlOf(const sockaddr_in& address) {
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
}

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
  std::string url(std::string_view path) const { return app.url(path); }

  test::WebApp app;
};

TEST_F(HttpRequestTest, PostsTheBodyByteForByte) {
  const std::string form("user=a%26b&x==1&name=Ren\xC3\xA9&raw=\xE9\xFF\0end", 40);
  HttpRequest request;
  request.open("post", url("/analysis.asp?ReportID=7&Format=html%20x"));
  request.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  request.send(form);
  EXPECT_EQ(request.status(), 200);
  request.open("GET", url("/report?page=2"));
  request.send();

  std::vector<test::WebRequest> got = app.requests();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].method, "POST");
  EXPECT_EQ(got[0].path, "/analysis.asp?ReportID=7&Format=html%20x");
  EXPECT_EQ(got[0].contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(got[0].body, form);
  EXPECT_EQ(got[1].method, "GET");
  EXPECT_EQ(got[1].body, "");
}

TEST_F(HttpRequestTest, KeepsAnswersOfEveryStatus) {
  HttpRequest request;
  request.open("GET", url("/status?code=500"));
  request.send();
  EXPECT_EQ(request.status(), 500);
  EXPECT_EQ(request.responseText(), "<html><body>Internal error</body></html>");

  request.open("GET", url("/large?mb=4"));
  request.send();
  EXPECT_GE(request.responseBody().size(), 4u * 1024 * 1024 - 100);
  EXPECT_EQ(request.responseText(), request.responseBody());

  request.open("GET", url("/report"));
  EXPECT_EQ(request.status(), 0) << "open forgets the last answer";
  EXPECT_EQ(request.responseBody(), "");

  request.setRequestHeader("Content-Type", "text/plain");
  request.reset();
  EXPECT_THROW(request.send(), Failure) << "a wiped object has no request to send";
  request.open("GET", url("/report?after=reset"));
  request.send();
  EXPECT_EQ(request.status(), 200);
  EXPECT_EQ(app.requests().back().contentType, "") << "no header of the request before";
}

TEST_F(HttpRequestTest, FollowsRedirectsTheWayBrowsersDo) {
  HttpRequest request;
  for (std::string code : {"301", "302", "303", "307", "308"}) {
    bool repeated = code >= "307";
    request.open("POST", url("/redirect?code=" + code + "&to=/report?next"));
    request.send("a=1&b=2");
    EXPECT_EQ(request.status(), 200) << code;
    test::WebRequest target = app.requests().back();
    EXPECT_EQ(target.path, "/report?next") << code;
    EXPECT_EQ(target.method, repeated ? "POST" : "GET") << code;
    EXPECT_EQ(target.body, repeated ? "a=1&b=2" : "") << code;
  }
  EXPECT_EQ(app.requests().size(), 10u);

  // Another protocol is refused, not tried.
  milliseconds took{};
  Failure failure =
      failureOf(request, "GET", url("/redirect?code=302&to=ftp://127.0.0.1/x"), "", took);
  EXPECT_EQ(failure.number(), err::kCannotOpen);
  EXPECT_NE(failure.description().find("ftp"), std::string::npos) << failure.description();
}

TEST_F(HttpRequestTest, DecodesTheDeclaredCharset) {
  HttpRequest request;
  for (const char* path : {"/latin1", "/latin1-meta"}) {
    request.open("GET", url(path));
    request.send();
    EXPECT_EQ(request.responseCharset(), "iso-8859-1") << path;
    EXPECT_NE(request.responseText().find("Caf\xC3\xA9 na\xC3\xAFve \xC3\x89t\xC3\xA9"),
              std::string::npos)
        << path;
    EXPECT_NE(request.responseBody().find("Caf\xE9 na\xEFve"), std::string::npos) << path;
  }
  request.open("GET", url("/utf8"));
  request.send();
  EXPECT_EQ(request.responseCharset(), "utf-8");
  EXPECT_NE(request.responseText().find("Caf\xC3\xA9 \xE2\x82\xAC"
                                        "5 \xF0\x9F\x98\x80"),
            std::string::npos);
  EXPECT_EQ(request.responseText(), request.responseBody());
}

TEST_F(HttpRequestTest, AnAnswerOverTheLimitFailsAtTheLimit) {
  constexpr size_t kLimit = 1024 * 1024;
  HttpRequest request;
  request.setMaxAnswerBytes(kLimit);
  // Without a limit the first two would never end; the third declares its length.
  for (const char* path : {"/endless", "/gzip-bomb", "/exact?bytes=1048577"}) {
    milliseconds took{};
    Failure failure = failureOf(request, "GET", url(path), "", took);
    EXPECT_EQ(failure.number(), kAnswerTooLarge) << path << ": " << failure.description();
    EXPECT_EQ(failure.description(), "The answer is larger than 1048576 bytes") << path;
    EXPECT_EQ(request.responseBody(), "") << path;
  }
  for (const char* mode : {"length", "chunked", "gzip"}) {
    request.open("GET", url("/exact?bytes=1048576&mode=" + std::string(mode)));
    request.send();
    EXPECT_EQ(request.responseText().size(), kLimit) << mode << ": a page of the limit is whole";
  }
}

TEST_F(HttpRequestTest, HandsTheDecodedTextOverOnce) {
  HttpRequest request;
  for (const char* path : {"/utf8", "/latin1"}) {
    request.open("GET", url(path));
    request.send();
    EXPECT_NE(request.takeResponseText().find("Caf\xC3\xA9"), std::string::npos) << path;
    EXPECT_EQ(request.status(), 200) << "the status outlives the text";
  }
}

TEST_F(HttpRequestTest, ReceiveTimeOutCountsFromTheLastProgress) {
  HttpRequest request;
  request.setTimeouts(1000, 1000, 1000, 600);
  milliseconds took{};
  Failure failure = failureOf(request, "GET", url("/stall"), "", took);
  EXPECT_EQ(failure.number(), kTimedOut);
  EXPECT_EQ(failure.description(), "The operation timed out");
  EXPECT_GE(took, milliseconds(550));
  EXPECT_LT(took, milliseconds(2000));

  // 6 pieces 250 ms apart take longer than the time-out, but none is late.
  request.open("GET", url("/trickle?chunks=6&ms=250"));
  request.send();
  EXPECT_NE(request.responseText().find("<p>5</p>"), std::string::npos);
}

TEST_F(HttpRequestTest, SendTimeOutEndsAStuckUpload) {
  // More than the loopback socket buffers take in while the server reads nothing.
  const std::string body(48 * 1024 * 1024, 'x');
  HttpRequest request;
  request.setTimeouts(1000, 1000, 500, 5000);
  milliseconds took{};
  EXPECT_EQ(failureOf(request, "POST", url("/stall"), body, took).number(), kTimedOut);
  EXPECT_LT(took, milliseconds(2500)) << "the receive time-out ran instead";
}

TEST(HttpConnectTest, SaysWhyNoConnectionCameAbout) {
  int unused = socket(AF_INET, SOCK_STREAM, 0);
  std::string closed = urlOf(bindLoopback(unused));
  close(unused);
  HttpRequest request;
  request.setTimeouts(500, 500, 500, 500);
  milliseconds took{};
  Failure failure = failureOf(request, "GET", closed, "", took);
  EXPECT_EQ(failure.number(), kCannotConnect);
  EXPECT_EQ(failure.description(), "A connection with the server could not be established");
  EXPECT_LT(took, milliseconds(1000));

  failure = failureOf(request, "GET", "http://no-such-host.invalid/report", "", took);
  EXPECT_EQ(failure.number(), kNameNotResolved);
  EXPECT_EQ(failure.description(), "The server name or address could not be resolved");

  EXPECT_EQ(failureOf(request, "GET", "file:///etc/passwd", "", took).number(), err::kCannotOpen);
  EXPECT_EQ(request.status(), 0);
}

TEST(HttpConnectTest, ConnectTimeOutAloneBoundsTheConnect) {
  // A listener whose queue is full leaves further connection attempts unanswered.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = bindLoopback(listener);
  ASSERT_EQ(listen(listener, 0), 0);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::this_thread::sleep_for(milliseconds(100));

  HttpRequest request;
  request.setTimeouts(300, 300, 5000, 100);
  milliseconds took{};
  Failure failure = failureOf(request, "GET", urlOf(address), "", took);
  for (int fd : queued) close(fd);
  close(listener);
  EXPECT_EQ(failure.number(), kTimedOut) << failure.description();
  EXPECT_GE(took, milliseconds(550)) << "the receive time-out must not cut the connect short";
  EXPECT_LT(took, milliseconds(1500));
}

TEST(CharsetTest, FindsTheDeclaredCharset) {
  struct Case {
    const char* contentType;
    const char* body;
    const char* charset;
  } cases[] = {
      {"text/html; charset=ISO-8859-1", "", "iso-8859-1"},
      {"text/html;Charset=\"Windows-1252\"", "", "windows-1252"},
      {"text/html; charset = 'utf-8' ; q=1", "", "utf-8"},
      {"text/html; x-charset=koi8-r", "", ""},
      {"text/html", "<head><META CHARSET=Shift_JIS></head>", "shift_jis"},
      {"text/html", "<meta charset=\"utf-8\"/>", "utf-8"},
      {"text/html",
       "<meta name=\"x\" content=\"charset notes\"><meta http-equiv=Content-Type "
       "content='text/html; charset=windows-1251'>",
       "windows-1251"},
      {"text/html; charset=utf-8", "<meta charset=\"iso-8859-1\">", "utf-8"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(declaredCharset(c.contentType, c.body), c.charset) << c.contentType << c.body;
  }
  std::string late(5000, ' ');
  late += "<meta charset=\"koi8-r\">";
  EXPECT_EQ(declaredCharset("text/html", late), "") << "only the start of a page counts";
}

TEST(CharsetTest, DecodesIntoValidUtf8) {
  const std::string bad = "\xEF\xBF\xBD";
  struct Case {
    std::string bytes;
    const char* charset;
    std::string text;
  } cases[] = {
      {"Caf\xE9", "iso-8859-1", "Caf\xC3\xA9"},
      {"\x80 \xE9", "ISO-8859-1", "\xE2\x82\xAC \xC3\xA9"},  // read as browsers do
      {"\x81", "windows-1252", bad},                         // unassigned
      {"a\xE9z", "", "a" + bad + "z"},
      {"a\xE2\x82z", "utf-8", "a" + bad + "z"},  // cut-short sequence: one mark
      {"\xC0\xAF\xED\xA0\x80", "utf8", bad + bad + bad + bad + bad},  // overlong, surrogate
      {"\xF4\x90\x80\x80", "utf-8", bad + bad + bad + bad},           // beyond U+10FFFF
      {"\xE0\x80\xAF", "utf-8", bad + bad + bad},                     // overlong "/"
      {"end \xF0\x9F", "utf-8", "end " + bad},
      {"Caf\xC3\xA9 \xE9", "no-such-charset", "Caf\xC3\xA9 " + bad},
      {"a\xFFz", "utf-8//IGNORE", "a" + bad + "z"},  // no iconv options from a page
      {"\xA4", "ISO-8859-15", "\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeToUtf8(c.bytes, c.charset), c.text) << c.charset << " " << c.bytes;
  }
}

}  // namespace
}  // namespace postrix::http
