#include "platform/mime/mime_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "platform/mime/mime_encoding.h"
#include "platform/smtp/host_name.h"
#include "util/text.h"
#include "util/utf8.h"

namespace postrix::mime {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr size_t kMaxHeaderLine = 78;
// The hard limit on any line of a message, line end excluded.
constexpr size_t kMaxLineOctets = 998;
// Text bytes per encoded-word: 52 base64 characters, a 64-character word, which fits after
// any header name we write on the first line and on every folded line.
constexpr size_t kEncodedWordBytes = 39;
// Percent-encoded characters per RFC 2231 file name section, for the same reason.
constexpr size_t kFileNameSection = 54;
constexpr char kHex[] = "0123456789ABCDEF";

std::string errorText(int error) { return std::generic_category().message(error); }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// A header value on one line: CR and LF dropped, so no value can start a header of its own.
std::string oneLine(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

// A header value for text: each line break (CR LF, CR, LF) and NUL becomes a
// blank, so the text can neither start a header nor lose the gap between two
// words it separated.
std::string flattened(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    out += c == '\r' || c == '\n' || c == '\0' ? ' ' : c;
  }
  return out;
}

bool holdsLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string withCrlf(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 32);
  size_t i = 0;
  while (i < s.size()) {
    // Whole runs between line ends are copied at once: bodies are large.
    size_t end = findLineEnd(s, i);
    out.append(s, i, end - i);
    if (end == s.size()) break;
    out += kCrlf;
    i = end + (s[end] == '\r' && end + 1 < s.size() && s[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

std::string randomHex(size_t digits) {
  // Seeded once: opening the system's random device for every boundary
  // costs more than writing the message. Uniqueness is all that is needed.
  static std::mt19937_64 engine{(std::uint64_t{std::random_device{}()} << 32) ^
                                std::random_device{}()};
  std::string out;
  while (out.size() < digits) {
    std::uint64_t value = engine();
    for (int i = 0; i < 16 && out.size() < digits; ++i, value >>= 4) out += kHex[value & 15];
  }
  return out;
}

// The right-hand side of our Message-IDs: the host's full domain name, else
// the sender's domain, so receivers see a domain rather than a bare word.
std::string idDomain(std::string_view from) {
  std::string host = smtp::hostDomainName();
  if (!host.empty()) return host;
  std::string sender = smtp::domainOf(from);
  return sender.empty() ? "localhost.localdomain" : sender;
}

std::string newMessageId(std::string_view from) {
  return "<" + randomHex(32) + "@" + idDomain(from) + ">";
}

// Now, local time with its offset from UTC; names in English whatever the locale.
std::string rfc5322Date() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  long offset = local.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, sign, offset / 60, offset % 60);
  return text;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    error = "cannot open " + path + ": " + errorText(e);
    return false;
  }
  std::string out;
  char buffer[65536];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      error = "cannot read " + path + ": " + errorText(e);
      close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  bytes = std::move(out);
  return true;
}

// ---- Headers ----

// "Name: atom atom ...", folded before an atom that would take the line past 78 characters.
// Atoms are never split, so one longer than a line stays long (RFC 5322 still allows 998).
std::string foldHeader(std::string_view name, const std::vector<std::string>& atoms) {
  std::string out(name);
  out += ':';
  size_t column = out.size();
  bool lineHasAtom = false;
  for (const auto& atom : atoms) {
    bool fitsFreshLine = 1 + atom.size() <= kMaxHeaderLine;
    if (column + 1 + atom.size() > kMaxHeaderLine && (lineHasAtom || fitsFreshLine)) {
      out += kCrlf;
      column = 0;
    }
    out += ' ';
    out += atom;
    column += 1 + atom.size();
    lineHasAtom = true;
  }
  out += kCrlf;
  return out;
}

bool needsEncoding(std::string_view text) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u >= 0x7F) return true;
  }
  return false;
}

// The text as RFC 2047 B words in UTF-8, never splitting a character between two words.
std::vector<std::string> encodedWords(std::string_view raw) {
  std::string text = asUtf8(raw);
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size()) {
      char32_t cp;
      size_t length = utf8At(text, end, cp);
      if (end + length - start > kEncodedWordBytes) break;
      end += length;
    }
    words.push_back("=?UTF-8?B?" + base64(std::string_view(text).substr(start, end - start), 0) +
                    "?=");
    start = end;
  }
  return words;
}

// Follows double quotes, with backslash escapes inside them, through a
// header text. take returns true while c belongs to a quoted string (the
// quotes themselves included), where "," ";" "<" ">" mean nothing.
struct QuoteState {
  bool quoted = false, escaped = false;
  bool take(char c) {
    if (escaped) {
      escaped = false;
      return true;
    }
    if (quoted && c == '\\') return escaped = true;
    if (c == '"') {
      quoted = !quoted;
      return true;
    }
    return quoted;
  }
};

// Words split at single spaces outside double quotes; a run of spaces stays with the word after
// it, so unfolding gives back the same text.
std::vector<std::string> wordsOf(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  QuoteState quote;
  for (char c : text) {
    if (c == ' ' && !quote.quoted && !word.empty() &&
        word.find_first_not_of(' ') != std::string::npos) {
      words.push_back(std::move(word));
      word.clear();
      continue;
    }
    word += c;
    quote.take(c);
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::vector<std::string> unstructuredAtoms(std::string_view value) {
  std::string text = trimmed(flattened(value));
  if (needsEncoding(text)) return encodedWords(text);
  std::vector<std::string> words = wordsOf(text);
  for (const auto& word : words)
    if (1 + word.size() > kMaxHeaderLine) return encodedWords(text);
  return words;
}

// The pieces of an address list between "," and ";" outside quotes and angle brackets, trimmed,
// empty ones dropped.
std::vector<std::string> piecesOf(std::string_view list) {
  std::vector<std::string> pieces;
  std::string piece;
  QuoteState quote;
  bool inAngle = false;
  auto flush = [&] {
    std::string p = trimmed(piece);
    if (!p.empty()) pieces.push_back(std::move(p));
    piece.clear();
  };
  for (char c : list) {
    if (!quote.quoted && !inAngle && (c == ',' || c == ';')) {
      flush();
      continue;
    }
    piece += c;
    if (quote.take(c)) continue;
    if (c == '<') inAngle = true;
    if (c == '>') inAngle = false;
  }
  flush();
  return pieces;
}

// The pieces of an address list that may be used. A piece holding a line break or NUL is
// left out whole: joined up it would read as another address (or a group naming one), and on
// the envelope the break could end a command.
std::vector<std::string> usablePiecesOf(std::string_view list) {
  std::vector<std::string> pieces = piecesOf(list);
  // Line ends around a piece only end the text it came from.
  for (auto& piece : pieces) {
    size_t begin = piece.find_first_not_of(" \t\r\n"), end = piece.find_last_not_of(" \t\r\n");
    piece = begin == std::string::npos ? "" : piece.substr(begin, end - begin + 1);
  }
  pieces.erase(std::remove_if(
                   pieces.begin(), pieces.end(),
                   [](const std::string& piece) { return piece.empty() || holdsLineBreak(piece); }),
               pieces.end());
  return pieces;
}

// Where "<" opens the address of an address piece, or npos.
size_t angleOf(std::string_view piece) {
  QuoteState quote;
  for (size_t i = 0; i < piece.size(); ++i)
    if (!quote.take(piece[i]) && piece[i] == '<') return i;
  return std::string_view::npos;
}

std::string unquoted(std::string_view s) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::string(s);
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '\\' && i + 2 < s.size()) ++i;
    out += s[i];
  }
  return out;
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A display name as atoms: as written when every word fits a folded line, else as RFC 2047
// words, which can be cut anywhere.
std::vector<std::string> displayNameAtoms(std::string_view name) {
  if (needsEncoding(name)) return encodedWords(unquoted(trimmed(name)));
  std::vector<std::string> words = wordsOf(trimmed(name));
  for (const auto& word : words)
    if (1 + word.size() + 1 > kMaxHeaderLine) return encodedWords(unquoted(trimmed(name)));
  return words;
}

// The longest address that still fits on a line of its own after the longest address
// header name we write ("Bcc: " is shorter than "Disposition-Notification-To: ").
constexpr size_t kMaxAddressAtom = kMaxLineOctets - 40;

std::vector<std::string> addressAtoms(std::string_view list) {
  std::vector<std::string> atoms;
  for (const auto& piece : usablePiecesOf(list)) {
    size_t angle = angleOf(piece);
    std::vector<std::string> pieceAtoms;
    if (angle != std::string::npos && angle > 0) {
      pieceAtoms = displayNameAtoms(piece.substr(0, angle));
      pieceAtoms.push_back(piece.substr(angle));
    } else {
      pieceAtoms = wordsOf(piece);
    }
    // No mail system takes an address this long; the line could not be written.
    bool fits = std::all_of(pieceAtoms.begin(), pieceAtoms.end(),
                            [](const std::string& atom) { return atom.size() < kMaxAddressAtom; });
    if (!fits) continue;
    if (!atoms.empty()) atoms.back() += ',';
    for (auto& atom : pieceAtoms) atoms.push_back(std::move(atom));
  }
  return atoms;
}

// Headers whose values are address lists rather than free text.
bool isAddressHeader(std::string_view name) {
  for (std::string_view known : {"From", "To", "Cc", "Bcc", "Reply-To", "Sender",
                                 "Disposition-Notification-To", "Return-Receipt-To"})
    if (equalsNoCase(name, known)) return true;
  return false;
}

bool isHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (c <= 32 || c >= 127 || c == ':') return false;
  return true;
}

struct EncodedWord {
  size_t end;  // just after its "?="
  std::string charset, bytes;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The RFC 2047 word "=?charset?B|Q?text?=" starting at text[start], if it is one we can read.
std::optional<EncodedWord> encodedWordAt(std::string_view text, size_t start) {
  size_t q1 = text.find('?', start + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?')
    return std::nullopt;
  size_t end = text.find("?=", q1 + 3);
  if (end == std::string_view::npos) return std::nullopt;
  EncodedWord word{end + 2, std::string(text.substr(start + 2, q1 - start - 2)), {}};
  // RFC 2231 lets a language follow the charset: "utf-8*en".
  word.charset = word.charset.substr(0, word.charset.find('*'));
  if (!toUtf8("", word.charset)) return std::nullopt;
  std::string_view payload = text.substr(q1 + 3, end - q1 - 3);
  char encoding = text[q1 + 1];
  if (encoding == 'B' || encoding == 'b') {
    word.bytes = fromBase64(payload);
  } else if (encoding == 'Q' || encoding == 'q') {
    for (size_t k = 0; k < payload.size(); ++k) {
      int high = k + 2 < payload.size() ? hexValue(payload[k + 1]) : -1;
      int low = high >= 0 ? hexValue(payload[k + 2]) : -1;
      if (payload[k] == '_') {
        word.bytes += ' ';
      } else if (payload[k] == '=' && low >= 0) {
        word.bytes += static_cast<char>(high * 16 + low);
        k += 2;
      } else {
        word.bytes += payload[k];
      }
    }
  } else {
    return std::nullopt;
  }
  return word;
}

// RFC 2047 words in text decoded to UTF-8. Blanks between two words are dropped, and the bytes
// of adjacent words in one charset are joined before converting, so a character split between
// them survives. What cannot be decoded stays as it is.
std::string decodeWords(std::string_view text) {
  std::string out, charset, bytes;
  auto flush = [&] {
    if (charset.empty()) return;
    out += toUtf8(bytes, charset).value_or("");
    charset.clear();
    bytes.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    size_t start = text.find("=?", i);
    if (start == std::string_view::npos) break;
    std::optional<EncodedWord> word = encodedWordAt(text, start);
    if (!word) {
      flush();
      out.append(text.substr(i, start + 2 - i));
      i = start + 2;
      continue;
    }
    std::string_view between = text.substr(i, start - i);
    bool adjacent = !charset.empty() && between.find_first_not_of(" \t") == std::string_view::npos;
    if (!adjacent) {
      flush();
      out.append(between);
    } else if (!equalsNoCase(word->charset, charset)) {
      flush();
    }
    charset = word->charset;
    bytes += word->bytes;
    i = word->end;
  }
  flush();
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

// An address list as read from a header, its display names decoded for the getters; a decoded
// name that would split the list is quoted.
std::string decodedAddressList(const std::string& value) {
  if (value.find("=?") == std::string::npos) return value;
  std::string out;
  for (const auto& piece : piecesOf(value)) {
    std::string decoded = piece;
    size_t angle = angleOf(piece);
    if (angle != std::string::npos && piece.find("=?") < angle) {
      std::string name = decodeWords(unquoted(trimmed(piece.substr(0, angle))));
      if (name.find_first_of(",;\"<>\\") != std::string::npos) name = quoted(name);
      decoded = name + " " + piece.substr(angle);
    }
    if (!out.empty()) out += ", ";
    out += decoded;
  }
  return out;
}

// ---- Structure ----

std::string guessContentType(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  std::string extension = dot == std::string_view::npos ? "" : toLower(fileName.substr(dot + 1));
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {"csv", "text/csv"},
      {"html", "text/html"},
      {"htm", "text/html"},
      {"xls", "application/vnd.ms-excel"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pdf", "application/pdf"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"txt", "text/plain"},
  };
  for (const auto& [known, type] : kTypes)
    if (extension == known) return std::string(type);
  return "application/octet-stream";
}

// The atoms of a file name parameter: quoted when printable ASCII, else RFC 2231 in UTF-8, cut
// into sections at character boundaries so each fits on a folded line.
std::vector<std::string> fileNameParameter(std::string_view parameter, std::string_view name) {
  std::string plain = std::string(parameter) + "=" + quoted(name);
  // A long name is cut into sections like one that is not ASCII.
  if (!needsEncoding(name) && plain.size() + 2 < kMaxHeaderLine) return {plain};
  std::string text = asUtf8(name);
  std::vector<std::string> sections;
  std::string section;
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    size_t length = std::max<size_t>(utf8At(text, i, cp), 1);
    std::string encoded;
    for (size_t k = i; k < i + length; ++k) {
      unsigned char c = static_cast<unsigned char>(text[k]);
      if (isAsciiAlnum(c) ||
          std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos) {
        encoded += static_cast<char>(c);
      } else {
        encoded += '%';
        encoded += kHex[c >> 4];
        encoded += kHex[c & 15];
      }
    }
    if (section.size() + encoded.size() > kFileNameSection) {
      sections.push_back(std::move(section));
      section.clear();
    }
    section += encoded;
    i += length;
  }
  sections.push_back(std::move(section));
  std::vector<std::string> atoms;
  for (size_t k = 0; k < sections.size(); ++k) {
    std::string atom(parameter);
    atom += sections.size() == 1 ? "*=" : "*" + std::to_string(k) + "*=";
    if (k == 0) atom += "UTF-8''";
    atom += sections[k];
    if (k + 1 < sections.size()) atom += ';';
    atoms.push_back(std::move(atom));
  }
  return atoms;
}

// The body is written in the message's charset when iconv knows it, else in UTF-8 as it is.
std::unique_ptr<Converter> bodyConverter(const std::string& charset) {
  if (isUtf8Name(charset) || !isCharsetName(charset)) return nullptr;
  auto converter = std::make_unique<Converter>(charset, "UTF-8");
  return converter->ok() ? std::move(converter) : nullptr;
}

std::string textPartHead(std::string_view subtype, const std::string& declared) {
  return "Content-Type: text/" + std::string(subtype) + "; charset=" + declared +
         "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
}

// The HTML body converted and quoted-printable in one pass, a line at a time, every line end
// CRLF; only one converted line is held beside the output.
void appendTextBody(std::string& out, std::string_view html, Converter* converter) {
  std::string line;
  size_t i = 0;
  for (;;) {
    size_t end = findLineEnd(html, i);
    std::string_view raw = html.substr(i, end - i);
    if (converter) {
      line.clear();
      appendFromUtf8(*converter, raw, line);
      appendQpLine(out, line);
    } else {
      appendQpLine(out, raw);
    }
    if (end == html.size()) return;
    out += kCrlf;
    i = end + (html[end] == '\r' && end + 1 < html.size() && html[end + 1] == '\n' ? 2 : 1);
    if (i == html.size()) return;
  }
}

// A content id without its angle brackets; "" when there is none or it could not be written
// on one line.
std::string contentIdOf(const Attachment& attachment) {
  std::string id = trimmed(flattened(attachment.contentId));
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return id.size() > kMaxLineOctets - 20 ? "" : id;
}

// A type longer than this is no media type; the file name's guess stands in for it.
constexpr size_t kMaxContentType = 200;

// Text attachments are made by this program, whose text is UTF-8: say so, or readers guess.
bool needsCharset(const std::string& type) {
  std::string lower = toLower(type);
  return startsWith(lower, "text/") && lower.find("charset=") == std::string::npos;
}

// An attachment's header fields and the blank line after them.
std::string attachmentHead(const Attachment& attachment) {
  std::string type = trimmed(flattened(attachment.contentType));
  while (!type.empty() && (type.back() == ';' || isBlank(type.back()))) type.pop_back();
  if (type.empty() || type.size() > kMaxContentType) type = guessContentType(attachment.fileName);
  std::string name = flattened(attachment.fileName);
  std::vector<std::string> atoms{type + ";"};
  if (needsCharset(type)) atoms.push_back("charset=UTF-8;");
  for (auto& atom : fileNameParameter("name", name)) atoms.push_back(std::move(atom));
  std::string head = foldHeader("Content-Type", atoms);
  head += "Content-Transfer-Encoding: base64\r\n";
  std::string id = contentIdOf(attachment);
  if (!id.empty()) head += "Content-ID: <" + id + ">\r\n";
  atoms = {id.empty() ? "attachment;" : "inline;"};
  for (auto& atom : fileNameParameter("filename", name)) atoms.push_back(std::move(atom));
  head += foldHeader("Content-Disposition", atoms);
  head += kCrlf;
  return head;
}

// A boundary found in none of texts. "=_" cannot occur in base64 or quoted-printable text, so
// only the header fields of the parts (file names) and the other boundary can clash.
std::string boundaryAvoiding(const std::vector<std::string>& texts) {
  for (;;) {
    std::string boundary = "----=_Part_" + randomHex(32);
    bool clash = std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(boundary) != std::string::npos;
    });
    if (!clash) return boundary;
  }
}

// A multipart entity's Content-Type header and the blank line after it.
std::string multipartHead(std::string_view subtype, std::string_view parameters,
                          const std::string& boundary) {
  std::vector<std::string> atoms{"multipart/" + std::string(subtype) + ";"};
  if (!parameters.empty()) atoms.push_back(std::string(parameters) + ";");
  atoms.push_back("boundary=\"" + boundary + "\"");
  return foldHeader("Content-Type", atoms) + std::string(kCrlf);
}

// The raw header fields at the top of text (CRLF line ends): each field's name and the span of
// its lines, CRLFs included. The section ends at the first blank line or the first line that
// is neither a field nor a continuation, as other mail readers take it.
struct RawField {
  std::string_view name;
  size_t begin, end;
};

std::vector<RawField> headerFields(std::string_view text) {
  std::vector<RawField> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find(kCrlf, pos);
    size_t next = eol == std::string_view::npos ? text.size() : eol + 2;
    std::string_view line = text.substr(pos, next - pos);
    if (line.empty() || line.substr(0, 2) == kCrlf) break;
    if (isBlank(line[0])) {
      if (fields.empty()) break;
      fields.back().end = next;
    } else {
      size_t colon = line.find(':');
      if (colon == std::string_view::npos || !isHeaderName(line.substr(0, colon))) break;
      fields.push_back({line.substr(0, colon), pos, next});
    }
    pos = next;
  }
  return fields;
}

// A field's value unfolded: line breaks dropped, the blanks after them kept.
std::string valueOf(std::string_view text, const RawField& field) {
  std::string_view lines = text.substr(field.begin, field.end - field.begin);
  return trimmed(oneLine(lines.substr(field.name.size() + 1)));
}

}  // namespace

void MimeMessage::setHtmlBody(std::string html, std::string_view charset) {
  if (html != html_ || plainText_) html_ = std::move(html), entityValid_ = false;
  plainText_ = false;
  setCharset(charset);
}

void MimeMessage::setPlainTextBody(std::string text) {
  if (text != html_ || !plainText_) html_ = std::move(text), entityValid_ = false;
  plainText_ = true;
}

void MimeMessage::setCharset(std::string_view charset) {
  std::string name = trimmed(flattened(charset));
  if (name.empty()) name = "UTF-8";
  if (name == charset_) return;
  charset_ = std::move(name);
  entityValid_ = false;
}

void MimeMessage::addHeader(std::string_view name, std::string_view value) {
  std::string field = trimmed(oneLine(name));
  if (equalsNoCase(field, "Content-Type")) {
    std::string lower = toLower(value);
    size_t at = lower.find("charset=");
    if (at != std::string::npos) {
      std::string charset(value.substr(at + 8));
      charset = charset.substr(0, charset.find_first_of(std::string_view("; \t\r\n\0", 6)));
      charset = unquoted(charset);
      if (!charset.empty() && charset != charset_) charset_ = charset, entityValid_ = false;
    }
  } else if (equalsNoCase(field, "Message-ID")) {
    auto given = std::find_if(headers_.begin(), headers_.end(), [](const auto& header) {
      return equalsNoCase(header.first, "Message-ID");
    });
    if (given == headers_.end())
      headers_.emplace_back(field, value);
    else
      given->second = value;
  } else {
    headers_.emplace_back(field, value);
  }
}

bool MimeMessage::attachFile(const std::string& path, std::string_view contentType,
                             std::string_view contentId, std::string_view fileName) {
  Attachment attachment;
  std::string ignored;
  if (!readWholeFile(path, attachment.bytes, ignored)) return false;
  attachment.fileName = fileName.empty() ? path.substr(path.rfind('/') + 1) : fileName;
  attachment.contentType = contentType;
  attachment.contentId = contentId;
  attach(std::move(attachment));
  return true;
}

void MimeMessage::attach(Attachment attachment) {
  if (trimmed(attachment.contentType).empty())
    attachment.contentType = guessContentType(attachment.fileName);
  attachments_.push_back(std::move(attachment));
  entityValid_ = false;
}

std::string MimeMessage::envelopeFrom() const {
  std::vector<std::string> addresses = addressesOf(from_);
  return addresses.empty() ? "" : addresses.front();
}

std::vector<std::string> MimeMessage::envelopeRecipients() const {
  std::vector<std::string> recipients;
  std::unordered_set<std::string> seen;
  for (const std::string* list : {&to_, &cc_, &bcc_})
    for (auto& address : addressesOf(*list))
      if (seen.insert(toLower(address)).second) recipients.push_back(std::move(address));
  return recipients;
}

void MimeMessage::stamp() const {
  if (!date_.empty()) return;
  date_ = rfc5322Date();
  for (const auto& [name, value] : headers_)
    if (equalsNoCase(name, "Message-ID")) messageId_ = trimmed(value);
  // A given id that could carry a header of its own, or not fit a line, is not used.
  if (holdsLineBreak(messageId_) || messageId_.size() > kMaxLineOctets - 20) messageId_.clear();
  if (messageId_.empty()) messageId_ = newMessageId(from_);
  if (messageId_.front() != '<') messageId_ = "<" + messageId_ + ">";
}

std::string MimeMessage::headerSection(bool withBcc) const {
  if (isImported_) {
    if (withBcc) return importedHead_;
    std::string out;
    size_t copied = 0;
    for (const auto& field : headerFields(importedHead_)) {
      if (!equalsNoCase(field.name, "Bcc")) continue;
      out.append(importedHead_, copied, field.begin - copied);
      copied = field.end;
    }
    out.append(importedHead_, copied);
    return out;
  }

  stamp();
  std::string out = foldHeader("From", addressAtoms(from_));
  std::vector<std::string> to = addressAtoms(to_), cc = addressAtoms(cc_);
  // A message only for Bcc recipients still says it is addressed.
  out += to.empty() ? "To: undisclosed-recipients:;\r\n" : foldHeader("To", to);
  if (!cc.empty()) out += foldHeader("Cc", cc);
  if (withBcc) {
    std::vector<std::string> bcc = addressAtoms(bcc_);
    if (!bcc.empty()) out += foldHeader("Bcc", bcc);
  }
  out += foldHeader("Subject", unstructuredAtoms(subject_));
  out += "Date: " + date_ + "\r\n";
  out += "Message-ID: " + messageId_ + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  for (const auto& [name, value] : headers_) {
    // These we write ourselves; a second copy would make the structure ambiguous.
    if (!isHeaderName(name) || equalsNoCase(name, "Message-ID") ||
        equalsNoCase(name, "MIME-Version") || equalsNoCase(name, "Content-Transfer-Encoding"))
      continue;
    out += foldHeader(name, isAddressHeader(name) ? addressAtoms(value) : unstructuredAtoms(value));
  }
  return out;
}

const std::string& MimeMessage::entity() const {
  if (!entityValid_) {
    // The old entity goes first, so two are never held at once.
    std::string().swap(entity_);
    entity_ = renderEntity();
    entityValid_ = true;
  }
  return entity_;
}

// Written straight into one string reserved for its size: the body and each attachment are
// encoded in place, never as parts joined afterwards.
std::string MimeMessage::renderEntity() const {
  // The converter writes what a charset lacks as HTML character references.
  std::unique_ptr<Converter> converter = plainText_ ? nullptr : bodyConverter(charset_);
  std::string textHead =
      textPartHead(plainText_ ? "plain" : "html", converter ? charset_ : "UTF-8");
  std::vector<const Attachment*> related, mixed;
  std::vector<std::string> heads{textHead};
  size_t size = html_.size() + html_.size() / 16 + textHead.size() + 1024;
  for (const auto& attachment : attachments_) {
    (contentIdOf(attachment).empty() ? mixed : related).push_back(&attachment);
    heads.push_back(attachmentHead(attachment));
    size += attachment.bytes.size() / 57 * 78 + 80 + heads.back().size() + 64;
  }
  std::string mixedBoundary = mixed.empty() ? "" : boundaryAvoiding(heads);
  heads.push_back(mixedBoundary);
  std::string relatedBoundary = related.empty() ? "" : boundaryAvoiding(heads);

  std::string out;
  out.reserve(size);
  auto appendPart = [&](const std::string& boundary, const Attachment& attachment) {
    out += "--" + boundary + "\r\n";
    out += attachmentHead(attachment);
    appendBase64(out, attachment.bytes, kMaxBodyLine);
    out += kCrlf;
  };
  if (!mixed.empty())
    out += multipartHead("mixed", "", mixedBoundary) + "--" + mixedBoundary + "\r\n";
  if (!related.empty())
    out += multipartHead("related", "type=\"text/html\"", relatedBoundary) + "--" +
           relatedBoundary + "\r\n";
  out += textHead;
  appendTextBody(out, html_, converter.get());
  if (!related.empty()) {
    out += kCrlf;
    for (const Attachment* attachment : related) appendPart(relatedBoundary, *attachment);
    out += "--" + relatedBoundary + "--";
  }
  if (!mixed.empty()) {
    out += kCrlf;
    for (const Attachment* attachment : mixed) appendPart(mixedBoundary, *attachment);
    out += "--" + mixedBoundary + "--";
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, kCrlf) != 0) out += kCrlf;
  return out;
}

std::string MimeMessage::render(bool withBcc) const { return headerSection(withBcc) + entity(); }

size_t MimeMessage::renderedSize(bool withBcc) const {
  return headerSection(withBcc).size() + entity().size();
}

bool MimeMessage::saveToFile(const std::string& path, std::string& error) const {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    error = "cannot save the message to " + path + ": no file name";
    return false;
  }
  std::string temp = path.substr(0, slash + 1) + "." + name + ".tmp-" + std::to_string(getpid());
  std::string head = headerSection(true);
  const std::string& body = entity();

  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    int e = errno;
    error = "cannot create " + temp + ": " + errorText(e);
    return false;
  }
  // Takes errno before anything else can change it.
  auto fail = [&](std::string_view what, const std::string& file) {
    int e = errno;
    error = std::string(what) + " " + file + ": " + errorText(e);
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    return false;
  };
  // A temporary file left by an earlier process with our pid may have had another mode.
  if (fchmod(fd, 0600) != 0) return fail("cannot restrict", temp);
  for (std::string_view bytes : {std::string_view(head), std::string_view(body)}) {
    for (size_t written = 0; written < bytes.size();) {
      ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail("cannot write", temp);
      written += static_cast<size_t>(n);
    }
  }
  if (fsync(fd) != 0) return fail("cannot flush", temp);
  int closing = fd;
  fd = -1;
  if (close(closing) != 0) return fail("cannot write", temp);
  if (rename(temp.c_str(), path.c_str()) != 0)
    return fail("cannot rename the temporary file to", path);

  // Without this the rename itself may be lost in a crash.
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || (fsync(dir) != 0 && errno != EINVAL)) {
    int e = errno;
    error = "saved " + path + " but cannot flush its folder: " + errorText(e);
    if (dir >= 0) close(dir);
    return false;
  }
  close(dir);
  return true;
}

bool MimeMessage::importFromFile(const std::string& path, std::string& error) {
  std::string raw;
  if (!readWholeFile(path, raw, error)) return false;
  std::string text = withCrlf(raw);
  // An mbox "From " separator line is not part of the message.
  if (startsWith(text, "From ")) {
    size_t eol = text.find(kCrlf);
    text.erase(0, eol == std::string::npos ? text.size() : eol + 2);
  }
  std::vector<RawField> fields = headerFields(text);
  if (fields.empty()) {
    error = path + " is no mail message: it has no header section";
    return false;
  }

  std::string from, to, cc, bcc, subject;
  bool haveSubject = false;
  for (const auto& field : fields) {
    std::string value = valueOf(text, field);
    std::string* list = equalsNoCase(field.name, "From")  ? &from
                        : equalsNoCase(field.name, "To")  ? &to
                        : equalsNoCase(field.name, "Cc")  ? &cc
                        : equalsNoCase(field.name, "Bcc") ? &bcc
                                                          : nullptr;
    if (list) {
      if (!list->empty() && !value.empty()) *list += ", ";
      *list += value;
    } else if (equalsNoCase(field.name, "Subject") && !haveSubject) {
      subject = decodeWords(value);
      haveSubject = true;
    }
  }
  *this = MimeMessage();
  from_ = decodedAddressList(from);
  to_ = decodedAddressList(to);
  cc_ = decodedAddressList(cc);
  bcc_ = decodedAddressList(bcc);
  subject_ = std::move(subject);
  importedHead_ = text.substr(0, fields.back().end);
  text.erase(0, fields.back().end);
  entity_ = std::move(text);
  entityValid_ = true;
  isImported_ = true;
  return true;
}

std::vector<std::string> addressesOf(std::string_view list) {
  std::vector<std::string> addresses;
  for (const auto& piece : usablePiecesOf(list)) {
    std::string address;
    size_t angle = angleOf(piece);
    if (angle != std::string::npos) {
      size_t close = piece.find('>', angle);
      address = trimmed(piece.substr(
          angle + 1, close == std::string::npos ? std::string::npos : close - angle - 1));
    } else {
      // "Group: a@x" lists its members; "undisclosed-recipients:" alone lists none.
      bool quotedPart = false;
      size_t colon = std::string::npos;
      for (size_t i = 0; i < piece.size() && colon == std::string::npos; ++i) {
        if (piece[i] == '"')
          quotedPart = !quotedPart;
        else if (piece[i] == '[')
          break;
        else if (piece[i] == ':' && !quotedPart)
          colon = i;
      }
      address = trimmed(colon == std::string::npos ? piece : piece.substr(colon + 1));
    }
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return addresses;
}

}  // namespace postrix::mime
