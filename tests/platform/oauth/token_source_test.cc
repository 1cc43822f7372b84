// The token source over the cache that keeps a token between runs: when a
// kept token is used, and when it is replaced.
#include "platform/oauth/token_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_database.h"
#include "support/token_endpoint.h"

namespace postrix::oauth {
namespace {

using test::TempDir;
using test::TokenEndpoint;

constexpr std::int64_t kNow = 1796500000;  // December 2026

class TokenSourceTest : public ::testing::Test {
 protected:
  TokenSourceTest() {
    endpoint.writeSecrets(secretsPath);
    source.now = [this] { return now; };
  }
  mode_t cacheMode() const {
    struct stat info {};
    ::stat(cachePath.c_str(), &info);
    return info.st_mode & 07777;
  }

  TokenEndpoint endpoint{{.tokens = {"first", "second", "third", "fourth"}, .expiresIn = 3600}};
  TempDir dir;
  std::string secretsPath = dir.file("oauth.conf"), cachePath = dir.file("oauth_token.cache");
  TokenSource source{secretsPath, cachePath};
  std::int64_t now = kNow;
};

TEST_F(TokenSourceTest, AKeptTokenServesUntilFiveMinutesBeforeItsEnd) {
  EXPECT_EQ(source.token(), "first");
  EXPECT_EQ(cacheMode(), 0600u);
  now += 3600 - 301;
  TokenSource nextRun(secretsPath, cachePath);
  nextRun.now = source.now;
  EXPECT_EQ(nextRun.token(), "first") << "kept across runs";
  EXPECT_EQ(endpoint.requests().size(), 1u);
  now += 1;
  EXPECT_EQ(source.token(), "second");
  EXPECT_EQ(source.token(), "second");
  EXPECT_EQ(source.freshToken(), "third") << "a refused token is not handed out again";
  EXPECT_EQ(endpoint.requests().size(), 3u);
  EXPECT_EQ(std::string(test::readFile(cachePath)).find(TokenEndpoint::kClientSecret),
            std::string::npos);
}

TEST_F(TokenSourceTest, AKeptTokenOfOtherSecretsOrOpenToOthersIsNotUsed) {
  EXPECT_EQ(source.token(), "first");
  endpoint.writeSecrets(secretsPath, false, 0600, "scope = https://other/.default\n");
  EXPECT_EQ(source.token(), "second") << "the secrets changed";
  ASSERT_EQ(::chmod(cachePath.c_str(), 0644), 0);
  EXPECT_EQ(source.token(), "third");
  EXPECT_EQ(cacheMode(), 0600u) << "written anew";
  now -= 10;  // the clock went back: the token's age is unknown
  EXPECT_EQ(source.token(), "fourth");
}

}  // namespace
}  // namespace postrix::oauth
