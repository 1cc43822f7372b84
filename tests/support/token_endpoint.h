// The test OAuth 2.0 token endpoint (tests/peers/token_endpoint.py) running
// as a child process, and the secrets files that point at it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/peer_process.h"
#include "support/temp_database.h"

namespace postrix::test {

struct TokenEndpointOptions {
  // Issued in turn, the last one again and again; empty: "access-token".
  std::vector<std::string> tokens{};
  int expiresIn = 3599;
  // Every request answered 400 with this error and description.
  std::string failWith{}, errorDescription{};
  // The certificate whose key signs good client assertions.
  std::string certificate{};
};

class TokenEndpoint {
 public:
  static constexpr const char* kClientId = "app-id";
  static constexpr const char* kClientSecret = "app-secret";
  static constexpr const char* kRefreshToken = "refresh-me";

  // Throws std::runtime_error when it does not listen within 10 s.
  explicit TokenEndpoint(TokenEndpointOptions options = {});
  TokenEndpoint(const TokenEndpoint&) = delete;
  TokenEndpoint& operator=(const TokenEndpoint&) = delete;

  // "http://127.0.0.1:PORT" + path
  std::string url(std::string_view path = "/tenant/oauth2/v2.0/token") const;
  // One line per request, oldest first: "PATH grant=G client_id=C scope=S credential=ok|wrong".
  std::vector<std::string> requests() const;

  // Writes a secrets file of the given mode: the Microsoft client-credentials
  // form (or Google's with google) with this endpoint as token_url, plus extra lines.
  void writeSecrets(const std::string& path, bool google = false, int mode = 0600,
                    const std::string& extra = "") const;

 private:
  TempDir dir_;
  PeerProcess process_;
};

}  // namespace postrix::test
