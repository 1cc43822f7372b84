#include "support/web_app.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

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

WebApp::WebApp() {
  std::string script = POSTRIX_SOURCE_DIR "/tests/peers/web_app.py";
  std::string portFile = dir_.file("port"), requestsFile = dir_.file("requests");
  std::vector<std::string> args = {"/usr/bin/python3", script,       "--port-file",
                                   portFile,           "--requests", requestsFile};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + script);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(portFile);
    if (in >> port_) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("the test web application ended at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  throw std::runtime_error("the test web application did not start listening");
}

WebApp::~WebApp() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string WebApp::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
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
