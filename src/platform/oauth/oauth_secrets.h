// OAuthSecrets: what the mail server's OAuth 2.0 login needs, as the
// secrets file holds it, and where that file is.
//
// The file is "key = value" lines ('#' starts a comment line):
//   provider       microsoft (Microsoft 365, client-credentials grant) or
//                  google (refresh-token grant)
//   tenant         Microsoft: the directory (tenant) id or domain
//   client_id      the application's id
//   client_secret  the application's secret
//   certificate, private_key
//                  Microsoft, instead of client_secret: PEM files of the
//                  application's certificate and its key (owner-only too)
//   refresh_token  Google: the refresh token the consent gave
//   scope          Microsoft: https://outlook.office365.com/.default unless set
//   token_url      the token endpoint, instead of the provider's
// The file must be its owner's only (mode 0600 or 0400).
#pragma once

#include <string>  // values, paths

namespace postrix::oauth {

struct OAuthSecrets {
  // Each "{}" lets a caller name only the members it needs.
  std::string provider{}, tenant{}, clientId{}, clientSecret{}, certificate{}, privateKey{},
      refreshToken{}, scope{}, tokenUrl{};

  bool isGoogle() const { return provider == "google"; }
};

inline constexpr const char* kMicrosoft = "microsoft";
inline constexpr const char* kGoogle = "google";
inline constexpr const char* kMicrosoftScope = "https://outlook.office365.com/.default";
// The cache of access tokens, in the program folder.
inline constexpr const char* kTokenCacheFile = "oauth_token.cache";

// Where the secrets are: the -oauthfile value when one was given; else
// $CREDENTIALS_DIRECTORY/postrix-oauth when that variable is set (the file
// systemd hands a service with LoadCredential=postrix-oauth:PATH); else
// oauth.conf in the program folder.
std::string secretsPath(const std::string& oauthFileOption, const std::string& programFolder);

// Reads and parses the file. Throws OAuthError when it is missing,
// unreadable, open to other accounts, not of the key = value shape, or
// holds a key not listed above. Nothing is checked for completeness.
OAuthSecrets readSecretsFile(const std::string& path);

// What the secrets lack for a token request ("no tenant"), "" when nothing.
std::string whatIsMissing(const OAuthSecrets& secrets);

// Writes provider, tenant, client_id, client_secret and refresh_token into
// the file (mode 0600, replaced in one step; an empty value removes its
// key), keeping its comments, its order and the keys set by hand only
// (certificate, private_key, scope, token_url). Throws OAuthError.
void writeSecretsFile(const std::string& path, const OAuthSecrets& secrets);

}  // namespace postrix::oauth
