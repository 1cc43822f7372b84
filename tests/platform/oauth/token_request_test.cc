// Token requests against the local token endpoint: what each grant asks,
// what comes back, and what is said when no token does.
#include "platform/oauth/token_request.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/oauth/oauth_error.h"
#include "support/shell_output.h"
#include "support/temp_database.h"
#include "support/token_endpoint.h"

namespace postrix::oauth {
namespace {

using test::TempDir;
using test::TokenEndpoint;

constexpr std::int64_t kNow = 1796500000;  // December 2026

OAuthSecrets microsoftFor(const TokenEndpoint& endpoint) {
  OAuthSecrets s{.provider = "microsoft",
                 .tenant = "contoso.onmicrosoft.com",
                 .clientId = TokenEndpoint::kClientId,
                 .clientSecret = TokenEndpoint::kClientSecret};
  s.tokenUrl = endpoint.url();
  return s;
}

std::string errorOf(const OAuthSecrets& secrets) {
  try {
    requestToken(secrets, kNow, 5);
    return "";
  } catch (const OAuthError& e) {
    return e.what();
  }
}

// The tenant becomes part of the address: it must stay one path segment.
TEST(TokenRequestTest, EachProviderHasItsEndpointAndATenantCannotLeaveIt) {
  OAuthSecrets microsoft{.provider = "microsoft",
                         .tenant = "contoso.onmicrosoft.com",
                         .clientId = "id",
                         .clientSecret = "s&=x"};
  EXPECT_EQ(tokenEndpoint(microsoft),
            "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token");
  EXPECT_NE(grantBody(microsoft, kNow).find("client_secret=s%26%3Dx&"), std::string::npos);
  microsoft.tenant = "evil/../x?";
  EXPECT_THROW(grantBody(microsoft, kNow), OAuthError);
}

// The endpoint's texts are the administrator's best clue, and hostile data.
TEST(TokenRequestTest, SaysWhyNoTokenCameWithoutSecretsOrLineBreaks) {
  TokenEndpoint refusing;
  OAuthSecrets wrong = microsoftFor(refusing);
  wrong.clientSecret = "wrong-secret";
  EXPECT_EQ(errorOf(wrong), "the token endpoint " + refusing.url() +
                                " answered HTTP 401: invalid_client (Invalid client secret "
                                "provided.)");

  TokenEndpoint echoing(
      {.failWith = "invalid_request",
       .errorDescription = "bad app-secret\r\nERROR: forged " + std::string(400, 'x')});
  std::string error = errorOf(microsoftFor(echoing));
  EXPECT_NE(error.find("answered HTTP 400: invalid_request (bad XXXXXX\\r\\nERROR: forged xxx"),
            std::string::npos)
      << error;
  EXPECT_EQ(error.find("app-secret"), std::string::npos) << error;
  EXPECT_LT(error.size(), 450u) << "cut";

  OAuthSecrets closed = microsoftFor(refusing);
  closed.tokenUrl = "http://127.0.0.1:" + std::to_string(test::closedPort()) + "/token";
  EXPECT_NE(errorOf(closed).find("the token endpoint " + closed.tokenUrl + " could not be asked"),
            std::string::npos)
      << errorOf(closed);
  // The secret would cross the network in clear.
  closed.tokenUrl = "http://192.0.2.1/token";
  EXPECT_EQ(errorOf(closed), "the token endpoint 'http://192.0.2.1/token' is not an https address");
}

TEST(TokenRequestTest, AnAnswerWithoutAUsableTokenIsNoToken) {
  OAuthSecrets s{.provider = "microsoft", .tenant = "t", .clientId = "id", .clientSecret = "x"};
  for (const char* body : {R"({"access_token": "has space"})", R"({"access_token": 5})", "[]",
                           "<html>proxy error</html>"})
    EXPECT_THROW(readTokenAnswer(s, 200, body), OAuthError) << body;
  EXPECT_EQ(readTokenAnswer(s, 200, R"({"access_token":"a.b-c","expires_in":"60"})").expiresIn, 60);
}

// The certificate credential: the endpoint checks the signature, the
// thumbprint, the issuer and the audience as the directory does.
TEST(ClientAssertionTest, ACertificateSignsTheRequestInsteadOfASecret) {
  TempDir dir;
  std::string certificate = dir.file("app.pem"), key = dir.file("app.key");
  ASSERT_EQ(test::shell("/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=app"
                        " -keyout " +
                        key + " -out " + certificate + " 2>/dev/null"),
            0);
  ASSERT_EQ(::chmod(key.c_str(), 0600), 0);
  TokenEndpoint endpoint({.tokens = {"signed-in"}, .certificate = certificate});
  OAuthSecrets s = microsoftFor(endpoint);
  s.clientSecret.clear();
  s.certificate = certificate;
  s.privateKey = key;
  std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  EXPECT_EQ(requestToken(s, now).value, "signed-in");
  EXPECT_NE(endpoint.requests().at(0).find("credential=ok"), std::string::npos);
  try {
    requestToken(s, now - 3600);
    ADD_FAILURE() << "an assertion that ran out was taken";
  } catch (const OAuthError& e) {
    EXPECT_NE(std::string(e.what()).find("invalid_client"), std::string::npos) << e.what();
  }

  ASSERT_EQ(::chmod(key.c_str(), 0640), 0);
  EXPECT_NE(errorOf(s).find("chmod 600 '" + key + "'"), std::string::npos) << errorOf(s);
}

}  // namespace
}  // namespace postrix::oauth
