// Query-string encoding of report parameters.
//
// Text is UTF-8 throughout, so encoding its bytes writes each character's
// UTF-8 form: the same bytes the web application has always received for
// characters up to U+FFFF, and for characters beyond that one four-byte
// sequence rather than two encoded surrogate halves, which no server decodes.
#include <array>

#include "util/utilities.h"

namespace postrix {
namespace {

bool isSafe(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string Utilities::URLEncode(std::string_view text) {
  static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (c != '\0') clean += c;
  size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  size_t last = clean.find_last_not_of(' ');
  std::string encoded;
  encoded.reserve((last - first + 1) * 3);
  for (size_t i = first; i <= last; ++i) {
    auto c = static_cast<unsigned char>(clean[i]);
    if (c == ' ') {
      encoded += '+';
    } else if (isSafe(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

}  // namespace postrix
