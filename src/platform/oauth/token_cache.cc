#include "platform/oauth/token_cache.h"

#include "platform/oauth/key_value_text.h"
#include "platform/oauth/oauth_error.h"
#include "platform/oauth/private_file.h"
#include "util/variant.h"  // parseNumber

namespace postrix::oauth {
namespace {

constexpr const char* kHeading =
    "# The mail server's OAuth 2.0 access token, kept by postrix between runs.\n"
    "# Removing this file makes the next run ask for a new one.\n";

std::optional<std::int64_t> secondsOf(const std::string& text) {
  double value = 0;
  if (!parseNumber(text, value)) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::int64_t TokenCache::refreshMargin(std::int64_t lifetime) {
  constexpr std::int64_t kMargin = 300;
  return lifetime >= 2 * kMargin ? kMargin : lifetime / 2;
}

std::optional<std::string> TokenCache::load(const std::string& key, std::int64_t now) const {
  if (!privateFileExists(path_)) return std::nullopt;
  try {
    KeyValueText text(readPrivateFile(path_, "the token cache"), "the token cache");
    std::optional<std::int64_t> issued = secondsOf(text.get("issued_at"));
    std::optional<std::int64_t> expires = secondsOf(text.get("expires_at"));
    std::string token = text.get("access_token");
    if (text.get("key") != key || token.empty() || !issued || !expires) return std::nullopt;
    // A clock set back past the token's start cannot say how old it is.
    if (now < *issued || now >= *expires - refreshMargin(*expires - *issued)) return std::nullopt;
    return token;
  } catch (const OAuthError&) {
    return std::nullopt;
  }
}

void TokenCache::store(const std::string& key, const AccessToken& token, std::int64_t now) const {
  KeyValueText text(kHeading, "the token cache");
  text.set("key", key);
  text.set("issued_at", std::to_string(now));
  text.set("expires_at", std::to_string(now + token.expiresIn));
  text.set("access_token", token.value);
  writePrivateFile(path_, text.text());
}

void TokenCache::drop() const { removePrivateFile(path_); }

}  // namespace postrix::oauth
