// TokenSource: access tokens for the mail server's XOAUTH2 login, read from
// the secrets file and kept in the token cache between runs.
//
// token() hands out the cached token while it is good for more than a few
// minutes, and otherwise asks the token endpoint for a new one and caches
// it. When the mail server refuses a token, freshToken() forgets it and
// asks the endpoint once; whoever logs in decides to try no more than that.
// The secrets file is read on every call, so a changed file counts at the
// next send. Failures throw OAuthError, whose text says why without any
// secret. One thread uses a source.
#pragma once

#include <cstdint>     // times
#include <functional>  // warnings, the clock
#include <string>      // paths, tokens

#include "platform/oauth/oauth_secrets.h"
#include "platform/oauth/token_cache.h"

namespace postrix::oauth {

class TokenSource {
 public:
  TokenSource(std::string secretsPath, std::string cachePath);

  // A token for the mail server. Throws OAuthError.
  std::string token();
  // A new token from the endpoint, the cached one forgotten. Throws OAuthError.
  std::string freshToken();

  const std::string& secretsPath() const { return secretsPath_; }
  // Told when the cache cannot be written; the token is used all the same.
  std::function<void(const std::string& warning)> onWarning;
  // Seconds since the epoch: the system clock unless a test sets another.
  std::function<std::int64_t()> now;

 private:
  std::string fetch(const OAuthSecrets& secrets, const std::string& key);

  std::string secretsPath_;
  TokenCache cache_;
};

// The key of the cache for these secrets: a SHA-256 over all of them.
std::string cacheKey(const OAuthSecrets& secrets);

}  // namespace postrix::oauth
