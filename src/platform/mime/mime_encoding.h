// Character sets and body encodings of the MIME writer and reader: UTF-8
// repair, iconv conversion, base64 and quoted-printable. Pure functions and
// one converter object, which one thread uses at a time.
#pragma once

#include <iconv.h>  // the converter's handle

#include <cstddef>      // sizes
#include <optional>     // results for unknown charsets
#include <string>       // results
#include <string_view>  // inputs

namespace postrix::mime {

inline constexpr size_t kMaxBodyLine = 76;

// Not std::isalnum: the program may run in a locale where bytes of UTF-8 text count as letters.
bool isAsciiAlnum(unsigned char c);

// Header text declared as UTF-8 must be UTF-8: stray bytes are taken as Latin-1, the likeliest
// source of text that is not.
std::string asUtf8(std::string_view s);
bool isUtf8Name(std::string_view charset);
// Only a name made of letters, digits and "-_.:+()" can be a character set; anything else must
// not reach iconv (whose "//" suffixes change its behaviour) nor a header.
bool isCharsetName(std::string_view name);

class Converter {
 public:
  Converter(const std::string& to, const std::string& from);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts in onto out until done (0) or a sequence it cannot convert (its errno); in is
  // left at that sequence.
  int convert(std::string_view& in, std::string& out);
  // Ends the output in the initial shift state (for stateful character sets).
  void finish(std::string& out);

 private:
  iconv_t cd_;
};

// Appends UTF-8 text in the converter's charset, a character the charset lacks as "&#N;" so
// the HTML still shows it, and returns to the initial shift state at the end.
void appendFromUtf8(Converter& converter, std::string_view text, std::string& out);
// Text in charset as UTF-8 (bytes it cannot read become U+FFFD); nullopt for an unknown charset.
std::optional<std::string> toUtf8(std::string_view text, const std::string& charset);

// Base64 appended to out, CRLF after every lineLength characters (0: one line).
void appendBase64(std::string& out, std::string_view in, size_t lineLength);
std::string base64(std::string_view in, size_t lineLength);
// Lenient: characters outside the alphabet are skipped, as readers of headers do.
std::string fromBase64(std::string_view in);

// Appends one line (no line end in it) quoted-printable, soft breaks keeping every output line
// within 76 characters. Besides what RFC 2045 asks, a "." or "From " at the start of a line is
// encoded: some relays mangle those.
void appendQpLine(std::string& out, std::string_view text);

}  // namespace postrix::mime
