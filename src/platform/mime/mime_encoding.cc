#include "platform/mime/mime_encoding.h"

#include <algorithm>
#include <cerrno>

#include "util/text.h"
#include "util/utf8.h"

namespace postrix::mime {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr char kHex[] = "0123456789ABCDEF";

// Written as itself anywhere but at the start or the end of a line.
bool isPlainInLine(unsigned char c) {
  return (c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t';
}

}  // namespace

bool isAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ---- UTF-8 and character sets ----

std::string asUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t length = utf8At(s, i, cp);
    if (length == 0) {
      appendUtf8(out, static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      out.append(s.substr(i, length));
      i += length;
    }
  }
  return out;
}

bool isUtf8Name(std::string_view charset) {
  std::string name = toLower(charset);
  return name == "utf-8" || name == "utf8";
}

// Only a name made of these can be a character set; anything else must not reach iconv
// (whose "//" suffixes change its behaviour) nor a header.
bool isCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name)
    if (!isAsciiAlnum(static_cast<unsigned char>(c)) &&
        std::string_view("-_.:+()").find(c) == std::string_view::npos)
      return false;
  return true;
}

Converter::Converter(const std::string& to, const std::string& from)
    : cd_(iconv_open(to.c_str(), from.c_str())) {}

Converter::~Converter() {
  if (ok()) iconv_close(cd_);
}

int Converter::convert(std::string_view& in, std::string& out) {
  char buffer[4096];
  while (!in.empty()) {
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    int error =
        iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ? errno : 0;
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    bool moved = inLeft != in.size() || outPtr != buffer;
    in.remove_prefix(in.size() - inLeft);
    if (error == E2BIG && moved) continue;
    if (error) return error;
  }
  return 0;
}

void Converter::finish(std::string& out) {
  char buffer[64];
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
}

// Appends UTF-8 text in the converter's charset, a character the charset lacks as "&#N;" so
// the HTML still shows it, and returns to the initial shift state at the end.
void appendFromUtf8(Converter& converter, std::string_view text, std::string& out) {
  while (converter.convert(text, out) != 0) {
    char32_t cp;
    size_t length = utf8At(text, 0, cp);
    if (length == 0) cp = 0xFFFD, length = 1;
    std::string reference = "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    std::string_view rest = reference;
    if (converter.convert(rest, out) != 0) out += reference;
    text.remove_prefix(length);
  }
  converter.finish(out);
}

std::optional<std::string> toUtf8(std::string_view text, const std::string& charset) {
  if (isUtf8Name(charset) || equalsNoCase(charset, "us-ascii")) return asUtf8(text);
  if (!isCharsetName(charset)) return std::nullopt;
  Converter converter("UTF-8", charset);
  if (!converter.ok()) return std::nullopt;
  std::string out;
  while (converter.convert(text, out) != 0) {
    out += "\xEF\xBF\xBD";
    text.remove_prefix(1);
  }
  converter.finish(out);
  return out;
}

// ---- Body encodings ----

void appendBase64(std::string& out, std::string_view in, size_t lineLength) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + in.size() / 3 * 4 + in.size() / 38 + 8);
  size_t column = 0;
  for (size_t i = 0; i < in.size(); i += 3) {
    if (lineLength && column == lineLength) out += kCrlf, column = 0;
    unsigned group = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) group |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) group |= static_cast<unsigned char>(in[i + 2]);
    char quad[4] = {kAlphabet[(group >> 18) & 63], kAlphabet[(group >> 12) & 63],
                    i + 1 < in.size() ? kAlphabet[(group >> 6) & 63] : '=',
                    i + 2 < in.size() ? kAlphabet[group & 63] : '='};
    out.append(quad, 4);
    column += 4;
  }
}

std::string base64(std::string_view in, size_t lineLength) {
  std::string out;
  appendBase64(out, in, lineLength);
  return out;
}

std::string fromBase64(std::string_view in) {
  std::string out;
  unsigned group = 0;
  int bits = 0;
  for (char c : in) {
    int value;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      value = c - '0' + 52;
    else if (c == '+')
      value = 62;
    else if (c == '/')
      value = 63;
    else if (c == '=')
      break;
    else
      continue;
    group = (group << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return out;
}

// Appends one line (no line end in it) quoted-printable, soft breaks keeping every output line
// within 76 characters. Besides what RFC 2045 asks, a "." or "From " at the start of a line is
// encoded: some relays mangle those.
void appendQpLine(std::string& out, std::string_view text) {
  size_t end = text.size();
  size_t column = 0;
  for (size_t i = 0; i < end; ++i) {
    // Inside a line, a run of plain characters that fits is copied at once;
    // the first and last characters of a line have rules of their own.
    if (column > 0 && column < kMaxBodyLine - 1) {
      size_t limit = std::min(end - 1, i + (kMaxBodyLine - 1 - column));
      size_t j = i;
      while (j < limit && isPlainInLine(static_cast<unsigned char>(text[j]))) ++j;
      out.append(text, i, j - i);
      column += j - i;
      i = j;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool lastOnLine = i + 1 == end;
    auto literal = [&] {
      if (column == 0 && (c == '.' || text.substr(i, 5) == "From ")) return false;
      if (c == ' ' || c == '\t') return !lastOnLine;
      return c >= 33 && c <= 126 && c != '=';
    };
    size_t size = literal() ? 1 : 3;
    if (column + size > (lastOnLine ? kMaxBodyLine : kMaxBodyLine - 1)) {
      out += "=\r\n";
      column = 0;
      size = literal() ? 1 : 3;
    }
    if (size == 1) {
      out += static_cast<char>(c);
    } else {
      char escaped[3] = {'=', kHex[c >> 4], kHex[c & 15]};
      out.append(escaped, 3);
    }
    column += size;
  }
}

}  // namespace postrix::mime
