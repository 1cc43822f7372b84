// The one failure of the OAuth 2.0 layer: its text says what went wrong in
// words an administrator can act on, names files and endpoints, and never
// holds a secret or a token. Texts start in lower case, as they follow
// "No access token could be had for the mail server: ".
#pragma once

#include <stdexcept>  // the base

namespace postrix::oauth {

class OAuthError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace postrix::oauth
