// The client's half of the SASL mechanisms mail servers offer in AUTH: each
// function returns the line to send, already base64-encoded.
#pragma once

#include <optional>     // undecodable challenges
#include <string>       // lines
#include <string_view>  // credentials

namespace postrix::smtp::sasl {

// One line, no line breaks however long.
std::string base64(std::string_view bytes);
// nullopt when text is not base64.
std::optional<std::string> fromBase64(std::string_view text);

// PLAIN: "\0user\0password".
std::string plain(std::string_view user, std::string_view password);

// XOAUTH2: "user=" user ^A "auth=Bearer " token ^A ^A. Neither may hold ^A,
// which would end its part early; the caller refuses such values.
std::string xoauth2(std::string_view user, std::string_view token);

// CRAM-MD5: "user hex(HMAC-MD5(password, challenge))"; nullopt when the
// challenge is not base64.
std::optional<std::string> cramMd5(std::string_view user, std::string_view password,
                                   std::string_view challenge);

// NTLM (v2 responses). user may be "DOMAIN\user" or "user@domain".
std::string ntlmNegotiate(std::string_view user);
// The answer to the server's challenge; nullopt when it is not an NTLM challenge.
std::optional<std::string> ntlmAuthenticate(std::string_view user, std::string_view password,
                                            std::string_view challenge);

}  // namespace postrix::smtp::sasl
