#include "platform/oauth/oauth_secrets.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/oauth/key_value_text.h"
#include "platform/oauth/oauth_error.h"
#include "platform/oauth/private_file.h"
#include "util/text.h"

namespace postrix::oauth {
namespace {

constexpr const char* kWhat = "the OAuth 2.0 secrets file";

// Each key of the file with the member it fills.
const std::vector<std::pair<const char*, std::string OAuthSecrets::*>>& fields() {
  static const std::vector<std::pair<const char*, std::string OAuthSecrets::*>> list = {
      {"provider", &OAuthSecrets::provider},
      {"tenant", &OAuthSecrets::tenant},
      {"client_id", &OAuthSecrets::clientId},
      {"client_secret", &OAuthSecrets::clientSecret},
      {"certificate", &OAuthSecrets::certificate},
      {"private_key", &OAuthSecrets::privateKey},
      {"refresh_token", &OAuthSecrets::refreshToken},
      {"scope", &OAuthSecrets::scope},
      {"token_url", &OAuthSecrets::tokenUrl},
  };
  return list;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

KeyValueText readText(const std::string& path) {
  return KeyValueText(readPrivateFile(path, kWhat), std::string(kWhat) + " " + quoted(path));
}

}  // namespace

std::string secretsPath(const std::string& oauthFileOption, const std::string& programFolder) {
  if (!oauthFileOption.empty()) return oauthFileOption;
  const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
  if (credentials && *credentials) return std::string(credentials) + "/postrix-oauth";
  return programFolder + "/oauth.conf";
}

OAuthSecrets readSecretsFile(const std::string& path) {
  KeyValueText text = readText(path);
  OAuthSecrets secrets;
  for (const std::string& key : text.keys()) {
    bool known = false;
    for (const auto& [name, member] : fields())
      if (key == name) secrets.*member = text.get(key), known = true;
    if (!known)
      throw OAuthError(std::string(kWhat) + " " + quoted(path) + " holds the unknown key '" + key +
                       "'");
  }
  secrets.provider = toLower(secrets.provider);
  return secrets;
}

std::string whatIsMissing(const OAuthSecrets& s) {
  if (s.provider != kMicrosoft && s.provider != kGoogle)
    return s.provider.empty() ? "no provider (microsoft or google)"
                              : "an unknown provider (not microsoft or google)";
  if (s.clientId.empty()) return "no client_id";
  if (s.isGoogle()) {
    if (s.clientSecret.empty()) return "no client_secret";
    if (s.refreshToken.empty()) return "no refresh_token";
    return "";
  }
  if (s.tenant.empty() && s.tokenUrl.empty()) return "no tenant";
  bool certificate = !s.certificate.empty() || !s.privateKey.empty();
  if (!certificate && s.clientSecret.empty()) return "no client_secret (nor certificate)";
  if (certificate && (s.certificate.empty() || s.privateKey.empty()))
    return "a certificate without its private_key, or a private_key without its certificate";
  return "";
}

void writeSecretsFile(const std::string& path, const OAuthSecrets& secrets) {
  KeyValueText text;
  if (privateFileExists(path)) {
    text = readText(path);
  } else {
    text = KeyValueText(
        "# The OAuth 2.0 secrets of the mail server's login (-auth 6). Keep this file\n"
        "# its owner's only (chmod 600).\n",
        kWhat);
  }
  // The keys the form shows; the others (certificate, private_key, scope,
  // token_url) are only ever set by hand and stay as they are.
  text.set("provider", secrets.provider);
  text.set("tenant", secrets.tenant);
  text.set("client_id", secrets.clientId);
  text.set("client_secret", secrets.clientSecret);
  text.set("refresh_token", secrets.refreshToken);
  writePrivateFile(path, text.text());
}

}  // namespace postrix::oauth
