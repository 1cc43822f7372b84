// Whole runs of the real program that log in with OAuth 2.0 (-auth 6): a
// token from the local token endpoint, kept for the next run, replaced
// when it runs out or the mail server refuses it, and every way of getting
// none said in the run log and on standard error without a secret.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "platform/oauth/oauth_secrets.h"
#include "platform/oauth/token_cache.h"
#include "platform/oauth/token_source.h"
#include "support/program_fixture.h"
#include "support/token_endpoint.h"
#include "util/failure.h"

namespace postrix::test {
namespace {

constexpr const char* kToken = "tok.4f9a";
const std::string kRefused =
    "ERROR: The mail server refused the access token for postrix: 535 "
    "5.7.8 Authentication credentials invalid";

class XOAuth2RunTest : public ProgramFixture {
 protected:
  XOAuth2RunTest() {
    unsetenv("CREDENTIALS_DIRECTORY");  // the secrets are in the program folder
    pointAt(oauthMail.port());
    sql("UPDATE System SET smtpauth=6, smtpuser='postrix', smtppass='', smtpssl='No';"
        "INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (1, 7, 'Sales', 'analysis.asp?page=plain', 'html',"
        " 'a@x.com', 'daily', 'on');");
  }

  // A run with its standard error kept in errors().
  int run(const std::string& args = "") {
    int raw = std::system((command(args) + " 2>" + home.file("stderr")).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string errors() const { return readFile(home.file("stderr")); }

  // No secret of the secrets file, nor the token, anywhere a run writes text.
  void expectNoSecrets() const {
    for (const std::string& text : {logText(), errors()}) {
      for (const char* secret :
           {TokenEndpoint::kClientSecret, TokenEndpoint::kRefreshToken, kToken})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in:\n" << text;
    }
    for (const std::string& row : query("SELECT msgstatus FROM Email_Log"))
      EXPECT_EQ(row.find(TokenEndpoint::kClientSecret), std::string::npos) << row;
  }

  // Keeps token in the cache as an earlier run would have, had at `age` seconds ago.
  void keep(const std::string& token, std::int64_t age) const {
    std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    oauth::TokenCache(cachePath())
        .store(oauth::cacheKey(oauth::readSecretsFile(secretsPath())), {token, 3600}, now - age);
  }
  std::string secretsPath() const { return programFolder() + "/oauth.conf"; }
  std::string cachePath() const { return programFolder() + "/oauth_token.cache"; }

  SmtpPeer oauthMail{{.auth = "required", .oauthTokens = {kToken}}};
};

TEST_F(XOAuth2RunTest, SendsWithAClientCredentialsTokenThatTheNextRunReuses) {
  TokenEndpoint endpoint({.tokens = {kToken}});
  endpoint.writeSecrets(secretsPath());

  ASSERT_EQ(run("-debug -emaillog"), exit_status::kOk) << logText() << errors();
  auto mails = oauthMail.waitForMessages(1);
  ASSERT_EQ(mails.size(), 1u) << logText();
  EXPECT_EQ(mails[0].authUser, "postrix");
  EXPECT_TRUE(logHas("C: AUTH XOAUTH2 ****")) << logText();
  struct stat info {};
  ASSERT_EQ(::stat(cachePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(run("-emaillog"), exit_status::kOk) << logText();
  EXPECT_EQ(oauthMail.waitForMessages(2).size(), 2u);
  EXPECT_EQ(endpoint.requests().size(), 1u) << "the second run took the kept token";
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"),
            (Rows{"Message successfully sent.", "Message successfully sent."}));
  expectNoSecrets();
}

TEST_F(XOAuth2RunTest, ATokenThatRanOutOrIsRefusedIsReplacedOnce) {
  TokenEndpoint endpoint({.tokens = {kToken}});
  endpoint.writeSecrets(secretsPath());
  keep(kToken, 3400);  // five minutes from its end: not used any more
  ASSERT_EQ(run(), exit_status::kOk) << logText();
  EXPECT_EQ(endpoint.requests().size(), 1u);

  keep("revoked", 0);
  ASSERT_EQ(run(), exit_status::kOk) << logText();
  EXPECT_EQ(oauthMail.waitForMessages(2).size(), 2u);
  EXPECT_EQ(endpoint.requests().size(), 2u);
  EXPECT_FALSE(logHas(kRefused)) << "the fresh token was taken";
}

// Nothing went out and the mail server could not be used: status 7.
TEST_F(XOAuth2RunTest, ATokenTheServerNeverTakesIsAskedForTwiceAndSaidOnce) {
  TokenEndpoint endpoint({.tokens = {"for.another.server"}});
  endpoint.writeSecrets(secretsPath());
  EXPECT_EQ(run("-emaillog"), exit_status::kMailServerUnusable) << logText();
  EXPECT_EQ(endpoint.requests().size(), 2u);
  EXPECT_TRUE(logHas(kRefused)) << logText();
  EXPECT_NE(errors().find("postrix: " + kRefused), std::string::npos) << errors();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"),
            Rows{"ERROR (MailBee): 114 Wrong password or username ({\"status\": \"401\", "
                 "\"schemes\": \"bearer\", \"scope\": \"https://mail.test/\"}). Last server "
                 "reply: 535 5.7.8 Authentication credentials invalid"});
  EXPECT_TRUE(oauthMail.received().empty());
}

TEST_F(XOAuth2RunTest, AnEndpointErrorIsSaidWithItsTextAndNoSecret) {
  TokenEndpoint endpoint({.failWith = "invalid_client",
                          .errorDescription = "AADSTS7000215: Invalid client secret provided."});
  endpoint.writeSecrets(secretsPath());
  EXPECT_EQ(run("-emaillog"), exit_status::kMailServerUnusable) << logText();
  const std::string said =
      "ERROR: No access token could be had for the mail server: the token endpoint " +
      endpoint.url() +
      " answered HTTP 400: invalid_client (AADSTS7000215: Invalid client secret provided.)";
  EXPECT_TRUE(logHas(said)) << logText();
  EXPECT_NE(errors().find("postrix: " + said), std::string::npos) << errors();
  EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"), Rows{said});
  EXPECT_TRUE(oauthMail.received().empty());
  expectNoSecrets();
}

TEST_F(XOAuth2RunTest, ASecretsFileOtherAccountsMayReadIsNotUsed) {
  TokenEndpoint endpoint({.tokens = {kToken}});
  endpoint.writeSecrets(secretsPath(), false, 0644);
  EXPECT_EQ(run(), exit_status::kMailServerUnusable);
  EXPECT_TRUE(
      logHas("ERROR: No access token could be had for the mail server: the OAuth 2.0 "
             "secrets file '" +
             secretsPath() +
             "' may be read or changed by other accounts (mode 0644); make it its "
             "owner's only: chmod 600 '" +
             secretsPath() + "'"))
      << logText();
  EXPECT_TRUE(endpoint.requests().empty());
  expectNoSecrets();
}

TEST_F(XOAuth2RunTest, GoogleRefreshTokensFromTheFileTheOptionNames) {
  TokenEndpoint endpoint({.tokens = {kToken}});
  std::string elsewhere = home.file("google.conf");
  endpoint.writeSecrets(elsewhere, true);
  ASSERT_EQ(run("-oauthfile " + elsewhere), exit_status::kOk) << logText();
  EXPECT_EQ(oauthMail.waitForMessages(1).at(0).authUser, "postrix");
  ASSERT_EQ(endpoint.requests().size(), 1u);
  EXPECT_NE(endpoint.requests()[0].find("grant=refresh_token client_id=app-id scope=- "
                                        "credential=ok"),
            std::string::npos)
      << endpoint.requests()[0];
  expectNoSecrets();
}

}  // namespace
}  // namespace postrix::test
