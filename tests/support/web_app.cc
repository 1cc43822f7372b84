#include "support/web_app.h"

#include <fstream>
#include <stdexcept>

namespace postrix::test {

namespace {

std::string fromHex(std::string_view hex) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1]));
  }
  return out;
}

// The value of "key": "value" in a line the web application wrote; its values
// are plain words or hex, so they hold no escapes.
std::string field(const std::string& line, const std::string& key) {
  std::string marker = "\"" + key + "\": \"";
  size_t start = line.find(marker);
  if (start == std::string::npos) throw std::runtime_error("no " + key + " in " + line);
  start += marker.size();
  return line.substr(start, line.find('"', start) - start);
}

}  // namespace

WebApp::WebApp()
    : process_({"/usr/bin/python3", POSTRIX_SOURCE_DIR "/tests/peers/web_app.py", "--port-file",
                dir_.file("port"), "--requests", dir_.file("requests")},
               dir_.file("port"), "the test web application") {}

std::string WebApp::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(process_.port()) + std::string(path);
}

std::vector<WebRequest> WebApp::requests() const {
  std::vector<WebRequest> out;
  std::ifstream in(dir_.file("requests"));
  for (std::string line; std::getline(in, line);) {
    out.push_back({field(line, "method"), fromHex(field(line, "path_hex")),
                   fromHex(field(line, "content_type_hex")), fromHex(field(line, "body_hex"))});
  }
  return out;
}

}  // namespace postrix::test
