#include "platform/oauth/client_assertion.h"

#include <Poco/Crypto/RSAKey.h>
#include <Poco/Crypto/X509Certificate.h>
#include <Poco/Exception.h>
#include <Poco/JWT/Signer.h>
#include <Poco/JWT/Token.h>
#include <Poco/Timestamp.h>
#include <Poco/UUIDGenerator.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <fstream>
#include <sstream>

#include "platform/oauth/oauth_error.h"
#include "platform/oauth/private_file.h"
#include "platform/smtp/sasl.h"

namespace postrix::oauth {
namespace {

// How long the endpoint may take the assertion; it is used at once.
constexpr std::int64_t kValidSeconds = 600;

std::string base64Url(const std::string& bytes) {
  std::string text = smtp::sasl::base64(bytes);
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  while (!text.empty() && text.back() == '=') text.pop_back();
  return text;
}

// The SHA-1 thumbprint of the certificate's DER form, which is how the
// directory names the certificate it holds for the application.
std::string thumbprint(const std::string& certificatePath) {
  // A certificate is public: any mode will do.
  std::ifstream pem(certificatePath);
  if (!pem) throw OAuthError("the certificate '" + certificatePath + "' cannot be read");
  Poco::Crypto::X509Certificate certificate(pem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate.certificate(), EVP_sha1(), digest, &length) != 1)
    throw OAuthError("the certificate '" + certificatePath + "' has no thumbprint");
  return base64Url(std::string(reinterpret_cast<char*>(digest), length));
}

Poco::Timestamp at(std::int64_t seconds) {
  return Poco::Timestamp::fromEpochTime(static_cast<std::time_t>(seconds));
}

}  // namespace

std::string clientAssertion(const OAuthSecrets& secrets, const std::string& endpoint,
                            std::int64_t now) {
  try {
    std::string x5t = thumbprint(secrets.certificate);
    std::istringstream key(readPrivateFile(secrets.privateKey, "the private key file"));
    Poco::SharedPtr<Poco::Crypto::RSAKey> rsa = new Poco::Crypto::RSAKey(nullptr, &key);
    Poco::JWT::Token token;
    token.setType("JWT");
    token.header().set("x5t", x5t);
    token.setIssuer(secrets.clientId);
    token.setSubject(secrets.clientId);
    token.setAudience(endpoint);
    token.setId(Poco::UUIDGenerator::defaultGenerator().createRandom().toString());
    token.setIssuedAt(at(now));
    token.setNotBefore(at(now));
    token.setExpiration(at(now + kValidSeconds));
    return Poco::JWT::Signer(rsa).sign(token, Poco::JWT::Signer::ALGO_RS256);
  } catch (const Poco::Exception& e) {
    throw OAuthError("the certificate '" + secrets.certificate + "' or its private key '" +
                     secrets.privateKey + "' cannot be used: " + e.displayText());
  }
}

}  // namespace postrix::oauth
