// The client assertion of Microsoft's certificate credential: a JWT that
// says "I am client_id" for the token endpoint, signed RS256 with the
// application's private key and naming its certificate by thumbprint
// (x5t), so that no shared secret is needed.
#pragma once

#include <cstdint>  // times
#include <string>   // texts

#include "platform/oauth/oauth_secrets.h"

namespace postrix::oauth {

// The signed assertion, valid from now (seconds since the epoch) for ten
// minutes. Throws OAuthError when the certificate or the key cannot be read
// (the key file, like the secrets, must be its owner's only).
std::string clientAssertion(const OAuthSecrets& secrets, const std::string& endpoint,
                            std::int64_t now);

}  // namespace postrix::oauth
