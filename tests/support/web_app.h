// The test web application (tests/peers/web_app.py) running as a child process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/peer_process.h"
#include "support/temp_database.h"

namespace postrix::test {

// One request as the web application received it.
struct WebRequest {
  std::string method, path, contentType, body;
};

// Starts the web application and waits until it listens; stops it on destruction.
class WebApp {
 public:
  WebApp();
  WebApp(const WebApp&) = delete;
  WebApp& operator=(const WebApp&) = delete;

  // "http://127.0.0.1:PORT" + path
  std::string url(std::string_view path) const;
  // Every request received so far, oldest first.
  std::vector<WebRequest> requests() const;

 private:
  TempDir dir_;
  PeerProcess process_;
};

}  // namespace postrix::test
