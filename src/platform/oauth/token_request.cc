#include "platform/oauth/token_request.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/URI.h>
#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "platform/oauth/client_assertion.h"
#include "platform/oauth/oauth_error.h"
#include "util/text.h"
#include "util/variant.h"  // parseNumber

namespace postrix::oauth {
namespace {

// A token answer is a few kilobytes; a larger one is not a token answer.
constexpr size_t kMaxAnswerBytes = 64 * 1024;
// How much of an endpoint's error texts reaches the log.
constexpr size_t kMaxErrorText = 300;
// Tokens are a few kilobytes of base64url and dots.
constexpr size_t kMaxTokenBytes = 16 * 1024;

std::string formEncoded(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

void addField(std::string& body, std::string_view name, std::string_view value) {
  if (!body.empty()) body += '&';
  body += std::string(name) + "=" + formEncoded(value);
}

// A tenant goes into the endpoint's path: a directory id or a domain, nothing else.
bool isTenant(const std::string& tenant) {
  return !tenant.empty() && std::all_of(tenant.begin(), tenant.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
}

// The secret goes in the body, so it must not cross the network in clear.
void checkTransport(const std::string& endpoint) {
  Poco::URI uri;
  try {
    uri = Poco::URI(endpoint);
  } catch (const Poco::Exception&) {
    throw OAuthError("the token endpoint '" + escapedControls(endpoint) + "' is no address");
  }
  std::string host = toLower(uri.getHost());
  bool loopback = host == "127.0.0.1" || host == "localhost" || host == "::1";
  if (uri.getScheme() == "https" || (uri.getScheme() == "http" && loopback)) return;
  throw OAuthError("the token endpoint '" + escapedControls(endpoint) +
                   "' is not an https address");
}

size_t collect(char* data, size_t size, size_t count, void* target) {
  auto* answer = static_cast<std::string*>(target);
  if (answer->size() + size * count > kMaxAnswerBytes) return 0;  // ends the transfer
  answer->append(data, size * count);
  return size * count;
}

struct CurlDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The POST; the status and answer, or OAuthError when none came.
long post(const std::string& endpoint, const std::string& body, int timeoutSeconds,
          std::string& answer) {
  std::unique_ptr<CURL, CurlDeleter> easy(curl_easy_init());
  if (!easy) throw OAuthError("the HTTP library could not be started");
  std::unique_ptr<curl_slist, CurlDeleter> headers(
      curl_slist_append(nullptr, "Accept: application/json"));
  char error[CURL_ERROR_SIZE] = {};
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, endpoint.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_TIMEOUT, static_cast<long>(std::max(timeoutSeconds, 1)));
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::clamp(timeoutSeconds, 1, 15)));
  curl_easy_setopt(e, CURLOPT_USERAGENT, "Postrix/" POSTRIX_VERSION);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
  CURLcode result = curl_easy_perform(e);
  if (result != CURLE_OK) {
    std::string reason = result == CURLE_WRITE_ERROR ? "its answer is too large"
                         : error[0]                  ? std::string(error)
                                                     : curl_easy_strerror(result);
    throw OAuthError("the token endpoint " + endpoint +
                     " could not be asked: " + escapedControls(reason));
  }
  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// An endpoint's own text, as the log may show it: one line, cut, and with
// the secrets blanked should an endpoint echo them.
std::string shown(std::string text, const OAuthSecrets& secrets) {
  for (const std::string* secret : {&secrets.clientSecret, &secrets.refreshToken})
    if (secret->size() >= 4) text = replaceAll(text, *secret, "XXXXXX");
  text = escapedControls(text);
  if (text.size() <= kMaxErrorText) return text;
  size_t cut = kMaxErrorText;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::string textMember(const Poco::JSON::Object::Ptr& object, const std::string& name) {
  if (!object || !object->has(name)) return "";
  try {
    return object->get(name).convert<std::string>();
  } catch (const Poco::Exception&) {
    return "";
  }
}

Poco::JSON::Object::Ptr parsedObject(const std::string& body) {
  try {
    Poco::Dynamic::Var parsed = Poco::JSON::Parser().parse(body);
    if (parsed.type() == typeid(Poco::JSON::Object::Ptr))
      return parsed.extract<Poco::JSON::Object::Ptr>();
  } catch (const Poco::Exception&) {
  }
  return nullptr;
}

// Tokens are printable ASCII without blanks: anything else would not fit
// the line XOAUTH2 sends.
bool isUsableToken(const std::string& token) {
  return !token.empty() && token.size() <= kMaxTokenBytes &&
         std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::int64_t lifetimeOf(const Poco::JSON::Object::Ptr& object) {
  double seconds = 0;
  // A number, or a number in a string as some endpoints send it; without
  // one the usual hour, which a refusal by the mail server corrects.
  if (!parseNumber(textMember(object, "expires_in"), seconds) || seconds <= 0) return 3600;
  return static_cast<std::int64_t>(std::min(seconds, 366.0 * 86400));
}

}  // namespace

std::string tokenEndpoint(const OAuthSecrets& secrets) {
  if (!secrets.tokenUrl.empty()) return secrets.tokenUrl;
  if (secrets.isGoogle()) return "https://oauth2.googleapis.com/token";
  return "https://login.microsoftonline.com/" + secrets.tenant + "/oauth2/v2.0/token";
}

std::string grantBody(const OAuthSecrets& secrets, std::int64_t now) {
  std::string missing = whatIsMissing(secrets);
  if (!missing.empty()) throw OAuthError("the OAuth 2.0 secrets name " + missing);
  std::string body;
  addField(body, "client_id", secrets.clientId);
  if (secrets.isGoogle()) {
    addField(body, "client_secret", secrets.clientSecret);
    addField(body, "refresh_token", secrets.refreshToken);
    addField(body, "grant_type", "refresh_token");
    if (!secrets.scope.empty()) addField(body, "scope", secrets.scope);
    return body;
  }
  if (secrets.tokenUrl.empty() && !isTenant(secrets.tenant))
    throw OAuthError("the tenant '" + escapedControls(secrets.tenant) +
                     "' is neither a directory id nor a domain");
  if (!secrets.certificate.empty()) {
    addField(body, "client_assertion_type",
             "urn:ietf:params:oauth:client-assertion-type:jwt-bearer");
    addField(body, "client_assertion", clientAssertion(secrets, tokenEndpoint(secrets), now));
  } else {
    addField(body, "client_secret", secrets.clientSecret);
  }
  addField(body, "scope", secrets.scope.empty() ? kMicrosoftScope : secrets.scope);
  addField(body, "grant_type", "client_credentials");
  return body;
}

AccessToken readTokenAnswer(const OAuthSecrets& secrets, long status, const std::string& body) {
  std::string endpoint = tokenEndpoint(secrets);
  Poco::JSON::Object::Ptr answer = parsedObject(body);
  std::string error = textMember(answer, "error");
  if (status == 200 && error.empty()) {
    bool text = answer && answer->has("access_token") && answer->get("access_token").isString();
    std::string token = text ? textMember(answer, "access_token") : "";
    if (!isUsableToken(token))
      throw OAuthError("the token endpoint " + endpoint +
                       " answered without a usable access_token");
    return {token, lifetimeOf(answer)};
  }
  std::string what = "the token endpoint " + endpoint + " answered HTTP " + std::to_string(status);
  if (error.empty()) throw OAuthError(what + (answer ? " without an error" : ", not in JSON"));
  std::string description = textMember(answer, "error_description");
  throw OAuthError(what + ": " + shown(error, secrets) +
                   (description.empty() ? "" : " (" + shown(description, secrets) + ")"));
}

AccessToken requestToken(const OAuthSecrets& secrets, std::int64_t now, int timeoutSeconds) {
  std::string body = grantBody(secrets, now);
  std::string endpoint = tokenEndpoint(secrets);
  checkTransport(endpoint);
  std::string answer;
  long status = post(endpoint, body, timeoutSeconds, answer);
  return readTokenAnswer(secrets, status, answer);
}

}  // namespace postrix::oauth
