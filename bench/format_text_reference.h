// The mail-safe form of a report body computed the obvious way: one
// character at a time, then one whole pass per replacement. The fast
// implementation must give exactly this: the benchmark checks it and times both.
#pragma once

#include <string>
#include <vector>

namespace postrix::reference {

using Strings = std::vector<std::string>;

inline std::string replaceAll(const std::string& text, const std::string& what,
                              const std::string& with) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
    out.append(text, from, at - from);
    out += with;
    from = at + what.size();
  }
  out.append(text, from, std::string::npos);
  return out;
}

// Decodes one character; a byte that starts no valid sequence is U+FFFD.
inline long decodeOne(const std::string& text, std::size_t i, int& length) {
  auto b = static_cast<unsigned char>(text[i]);
  length = b < 0x80                ? 1
           : b >= 0xC0 && b < 0xE0 ? 2
           : b >= 0xE0 && b < 0xF0 ? 3
           : b >= 0xF0 && b < 0xF8 ? 4
                                   : 0;
  long code = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
  bool valid = length > 0 && i + length <= text.size();
  for (int k = 1; valid && k < length; ++k) {
    auto c = static_cast<unsigned char>(text[i + k]);
    valid = (c & 0xC0) == 0x80;
    code = code << 6 | (c & 0x3F);
  }
  const long shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (!valid || code < shortest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    length = 1;
    return 0xFFFD;
  }
  return code;
}

inline std::string obviousWay(const std::string& text, bool skipUnicode, const Strings& suppress) {
  std::string s;
  if (skipUnicode) {
    s = text;
  } else {
    for (std::size_t i = 0; i < text.size();) {
      int length = 0;
      long code = decodeOne(text, i, length);
      if (code > 200) {
        s += "&#" + std::to_string(code) + ";";
      } else {
        for (int k = 0; k < length; ++k) s += text[i + k];
      }
      i += static_cast<std::size_t>(length);
    }
  }
  for (const std::string& x : suppress)
    if (!x.empty()) s = replaceAll(s, x, "");
  s = replaceAll(s, "\xE2\x82\xAC", "&#8364;");
  for (const char* tag : {"</td>", "</TD>", "</tr>", "</TR>"})
    s = replaceAll(s, tag, std::string(tag) + "\r\n");
  return s;
}

}  // namespace postrix::reference
