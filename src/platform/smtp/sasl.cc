#include "platform/smtp/sasl.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Base64Encoder.h>
#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/HMACEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/NTLMCredentials.h>

#include <cstdint>
#include <sstream>
#include <vector>

namespace postrix::smtp::sasl {

namespace {

using Poco::Net::NTLMCredentials;

std::string bytesToString(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string base64(std::string_view bytes) {
  std::ostringstream out;
  Poco::Base64Encoder encoder(out);
  // The encoder breaks lines at 72 characters unless told not to, and a
  // broken line would end the SMTP command early.
  encoder.rdbuf()->setLineLength(0);
  encoder.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  encoder.close();
  return out.str();
}

std::optional<std::string> fromBase64(std::string_view text) {
  try {
    std::istringstream in{std::string(text)};
    Poco::Base64Decoder decoder(in);
    std::string decoded;
    char buffer[512];
    while (decoder.read(buffer, sizeof buffer) || decoder.gcount() > 0) {
      decoded.append(buffer, static_cast<size_t>(decoder.gcount()));
    }
    if (decoder.bad()) return std::nullopt;
    return decoded;
  } catch (const Poco::Exception&) {
    return std::nullopt;
  }
}

std::string plain(std::string_view user, std::string_view password) {
  std::string message;
  message += '\0';
  message += user;
  message += '\0';
  message += password;
  return base64(message);
}

std::string xoauth2(std::string_view user, std::string_view token) {
  std::string message = "user=";
  message += user;
  message += '\x01';
  message += "auth=Bearer ";
  message += token;
  message += "\x01\x01";
  return base64(message);
}

std::optional<std::string> cramMd5(std::string_view user, std::string_view password,
                                   std::string_view challenge) {
  std::optional<std::string> decoded = fromBase64(challenge);
  if (!decoded) return std::nullopt;
  Poco::HMACEngine<Poco::MD5Engine> hmac{std::string(password)};
  hmac.update(*decoded);
  return base64(std::string(user) + ' ' + Poco::DigestEngine::digestToHex(hmac.digest()));
}

std::string ntlmNegotiate(std::string_view user) {
  NTLMCredentials::NegotiateMessage negotiate;
  std::string name;
  NTLMCredentials::splitUsername(std::string(user), name, negotiate.domain);
  return base64(bytesToString(NTLMCredentials::formatNegotiateMessage(negotiate)));
}

std::optional<std::string> ntlmAuthenticate(std::string_view user, std::string_view password,
                                            std::string_view challenge) {
  std::optional<std::string> decoded = fromBase64(challenge);
  if (!decoded || decoded->empty()) return std::nullopt;
  NTLMCredentials::ChallengeMessage challengeMessage;
  if (!NTLMCredentials::parseChallengeMessage(
          reinterpret_cast<const unsigned char*>(decoded->data()), decoded->size(),
          challengeMessage)) {
    return std::nullopt;
  }
  std::string name, domain;
  NTLMCredentials::splitUsername(std::string(user), name, domain);
  // The hash must be keyed with the domain the message names; a user who gave
  // none belongs to the server's own.
  if (domain.empty()) domain = challengeMessage.target;

  NTLMCredentials::AuthenticateMessage answer;
  answer.flags = challengeMessage.flags;
  answer.target = domain;
  answer.username = name;
  std::vector<unsigned char> nonce = NTLMCredentials::createNonce();
  std::vector<unsigned char> hash =
      NTLMCredentials::createNTLMv2Hash(name, domain, std::string(password));
  answer.lmResponse = NTLMCredentials::createLMv2Response(hash, challengeMessage.challenge, nonce);
  answer.ntlmResponse = NTLMCredentials::createNTLMv2Response(hash, challengeMessage.challenge,
                                                              nonce, challengeMessage.targetInfo,
                                                              NTLMCredentials::createTimestamp());
  return base64(bytesToString(NTLMCredentials::formatAuthenticateMessage(answer)));
}

}  // namespace postrix::smtp::sasl
