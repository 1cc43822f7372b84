#include "platform/oauth/token_source.h"

#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>

#include <chrono>
#include <utility>

#include "platform/oauth/oauth_error.h"
#include "platform/oauth/token_request.h"

namespace postrix::oauth {
namespace {

std::int64_t systemSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string cacheKey(const OAuthSecrets& s) {
  Poco::SHA2Engine sha(Poco::SHA2Engine::SHA_256);
  for (const std::string* part :
       {&s.provider, &s.tenant, &s.clientId, &s.clientSecret, &s.certificate, &s.privateKey,
        &s.refreshToken, &s.scope, &s.tokenUrl}) {
    sha.update(*part);
    sha.update('\0');  // "ab"+"c" and "a"+"bc" are different secrets
  }
  return Poco::DigestEngine::digestToHex(sha.digest());
}

TokenSource::TokenSource(std::string secretsPath, std::string cachePath)
    : now(systemSeconds), secretsPath_(std::move(secretsPath)), cache_(std::move(cachePath)) {}

std::string TokenSource::token() {
  OAuthSecrets secrets = readSecretsFile(secretsPath_);
  std::string key = cacheKey(secrets);
  if (std::optional<std::string> cached = cache_.load(key, now())) return *cached;
  return fetch(secrets, key);
}

std::string TokenSource::freshToken() {
  cache_.drop();
  OAuthSecrets secrets = readSecretsFile(secretsPath_);
  return fetch(secrets, cacheKey(secrets));
}

std::string TokenSource::fetch(const OAuthSecrets& secrets, const std::string& key) {
  std::int64_t asked = now();
  AccessToken fresh = requestToken(secrets, asked);
  try {
    cache_.store(key, fresh, asked);
  } catch (const OAuthError& e) {
    if (onWarning)
      onWarning(std::string("The access token cannot be kept for the next runs: ") + e.what());
  }
  return fresh.value;
}

}  // namespace postrix::oauth
