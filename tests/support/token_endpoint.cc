#include "support/token_endpoint.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

namespace postrix::test {
namespace {

std::vector<std::string> commandFor(const TempDir& dir, const TokenEndpointOptions& options) {
  std::vector<std::string> args = {
      "/usr/bin/python3", POSTRIX_SOURCE_DIR "/tests/peers/token_endpoint.py",
      "--port-file",      dir.file("port"),
      "--requests",       dir.file("requests"),
      "--expires-in",     std::to_string(options.expiresIn)};
  for (const auto& token : options.tokens) args.insert(args.end(), {"--token", token});
  if (!options.failWith.empty())
    args.insert(args.end(),
                {"--fail-with", options.failWith, "--error-description", options.errorDescription});
  if (!options.certificate.empty()) args.insert(args.end(), {"--certificate", options.certificate});
  return args;
}

}  // namespace

TokenEndpoint::TokenEndpoint(TokenEndpointOptions options)
    : process_(commandFor(dir_, options), dir_.file("port"), "the test token endpoint") {}

std::string TokenEndpoint::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(process_.port()) + std::string(path);
}

std::vector<std::string> TokenEndpoint::requests() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_.file("requests"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void TokenEndpoint::writeSecrets(const std::string& path, bool google, int mode,
                                 const std::string& extra) const {
  std::string text = google ? std::string("provider = google\nrefresh_token = ") + kRefreshToken
                            : std::string("provider = microsoft\ntenant = contoso.onmicrosoft.com");
  text += std::string("\nclient_id = ") + kClientId + "\nclient_secret = " + kClientSecret +
          "\ntoken_url = " + url() + "\n" + extra;
  {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
  }
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
    throw std::runtime_error("cannot chmod " + path);
}

}  // namespace postrix::test
