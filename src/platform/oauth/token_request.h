// One request to an OAuth 2.0 token endpoint for an access token to the
// mail server: the client-credentials grant of Microsoft 365 (with the
// application's secret, or a JWT signed with its certificate's key) or the
// refresh-token grant of Google, as the secrets say.
//
// The request is a POST over https (plain http only to a loopback address,
// for tests and local relays) that follows no redirect, since the body
// holds the secret; it is bounded by a time-out and the answer by size.
// Nothing here keeps or caches anything. One thread uses these functions.
#pragma once

#include <cstdint>  // lifetimes
#include <string>   // texts

#include "platform/oauth/oauth_secrets.h"

namespace postrix::oauth {

struct AccessToken {
  std::string value;
  std::int64_t expiresIn = 0;  // seconds, as the endpoint said
};

// The endpoint the secrets name: token_url when set, else the provider's
// (https://login.microsoftonline.com/TENANT/oauth2/v2.0/token,
// https://oauth2.googleapis.com/token).
std::string tokenEndpoint(const OAuthSecrets& secrets);

// The form-encoded body of the grant; now (seconds since the epoch) dates
// a certificate's assertion. Throws OAuthError when the secrets are
// incomplete or a certificate or key cannot be read.
std::string grantBody(const OAuthSecrets& secrets, std::int64_t now);

// Asks the endpoint for a token. Throws OAuthError when no token came: the
// secrets are incomplete, the endpoint cannot be reached or is not https,
// or it answered with an error (its error and error_description, escaped
// and cut, are in the text), or without a usable access_token. The text
// names the endpoint and never holds a secret.
AccessToken requestToken(const OAuthSecrets& secrets, std::int64_t now, int timeoutSeconds = 30);

// The answer's token, or OAuthError as above; for requestToken and its tests.
AccessToken readTokenAnswer(const OAuthSecrets& secrets, long status, const std::string& body);

}  // namespace postrix::oauth
