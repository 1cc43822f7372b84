// TokenCache: the access token kept between runs, in one owner-only file of
// the program folder (oauth_token.cache). Runs start every half hour and a
// token lives about an hour, so most runs need no token request at all.
//
// The file holds one token with the key of the secrets it was had for (a
// SHA-256 over them, which tells a changed secrets file from the one the
// token came from without keeping any secret), when it came and when it
// expires. A token is handed out only while more than its refresh margin
// is left, so it never runs out in the middle of a run's sends. The file is
// replaced in one step; a damaged, foreign or open-to-others one counts as
// no token. One thread uses a cache; runs of one installation never
// overlap, and the form's test send writes no token.
#pragma once

#include <cstdint>   // times
#include <optional>  // no token
#include <string>    // paths, tokens

#include "platform/oauth/token_request.h"

namespace postrix::oauth {

class TokenCache {
 public:
  explicit TokenCache(std::string path) : path_(std::move(path)) {}

  // The token stored for key while, at now (seconds since the epoch), more
  // than its refresh margin is left; nullopt otherwise.
  std::optional<std::string> load(const std::string& key, std::int64_t now) const;
  // Keeps token for key, replacing what was kept. Throws OAuthError when the
  // file cannot be written.
  void store(const std::string& key, const AccessToken& token, std::int64_t now) const;
  // Forgets the token (the mail server refused it).
  void drop() const;

  // How long before its end a token of that lifetime is no longer used:
  // five minutes, or half the lifetime of a token that lives under ten.
  static std::int64_t refreshMargin(std::int64_t lifetime);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace postrix::oauth
