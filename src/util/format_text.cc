// Report bodies run to many megabytes and are mostly plain ASCII HTML, so
// the work is arranged around copying untouched runs in blocks:
//
// - One counting pass finds how many bytes are not ASCII and how many "<"
//   there are. That bounds the size of each result, so each is allocated
//   once, and it tells which steps cannot change anything.
// - Without suppress strings the escaping and the line breaks are one pass:
//   a break only ever follows an ASCII "</td>" (or its siblings), and an
//   escape writes only "&#", digits and ";", so escaping can neither make nor
//   break a match. A suppress string can join "</t" and "d>", which is why
//   with suppress strings the steps run one after the other.
// - Without escaping there is no "€" left to replace either.
#include "util/format_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "config/settings.h"
#include "util/string_buffer.h"
#include "util/utilities.h"

namespace postrix {
namespace {

using Byte = unsigned char;

constexpr std::string_view kEuro = "\xE2\x82\xAC";
constexpr std::string_view kEuroReference = "&#8364;";
constexpr char32_t kLastKept = 200;
constexpr char32_t kReplacement = 0xFFFD;
// Each "</td>" and its siblings gains a CR LF, and each starts with "<".
constexpr std::size_t kGrowthPerBreak = 2;

struct Census {
  std::size_t highBytes = 0;
  std::size_t openBrackets = 0;
};

Census takeCensus(std::string_view text) {
  Census census;
  const char* p = text.data();
  const char* end = p + text.size();
#if defined(__SSE2__)
  // Per-lane byte counters, emptied before any of them can wrap at 255.
  const __m128i zero = _mm_setzero_si128();
  const __m128i bracket = _mm_set1_epi8('<');
  while (end - p >= 16) {
    __m128i high = zero, brackets = zero;
    const char* stop = p + 16 * std::min<std::ptrdiff_t>(255, (end - p) / 16);
    for (; p < stop; p += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      high = _mm_sub_epi8(high, _mm_cmplt_epi8(v, zero));
      brackets = _mm_sub_epi8(brackets, _mm_cmpeq_epi8(v, bracket));
    }
    __m128i h = _mm_sad_epu8(high, zero), b = _mm_sad_epu8(brackets, zero);
    census.highBytes += static_cast<std::size_t>(_mm_cvtsi128_si32(h)) +
                        static_cast<std::size_t>(_mm_extract_epi16(h, 4));
    census.openBrackets += static_cast<std::size_t>(_mm_cvtsi128_si32(b)) +
                           static_cast<std::size_t>(_mm_extract_epi16(b, 4));
  }
#endif
  for (; p < end; ++p) {
    census.highBytes += static_cast<Byte>(*p) >= 0x80;
    census.openBrackets += *p == '<';
  }
  return census;
}

// Room for the escaped text. It holds any valid UTF-8, in which no byte
// grows more than those of U+07FF do ("&#2047;" for two bytes). A lone
// broken byte grows more ("&#65533;"), but reserving for that on every body
// would take more than twice the memory needed; the rare broken body grows
// the buffer instead.
std::size_t escapedSizeEstimate(std::size_t size, const Census& census) {
  return size + census.highBytes * 5 / 2;
}

// Whether the tag at q, known to start "</" with 5 bytes readable, is one
// that gets a line break after it. Only these exact spellings count.
inline bool endsCellOrRow(const char* q) {
  if (q[4] != '>') return false;
  char a = q[2], b = q[3];
  return (a == 't' && (b == 'd' || b == 'r')) || (a == 'T' && (b == 'D' || b == 'R'));
}

// Copies [p, end) to out with CR LF after every cell and row end tag and
// returns the end of what it wrote. out needs room for the text plus two
// bytes per "<" in it.
char* copyBreakingLines(const char* p, const char* end, char* out) {
  const char* copied = p;
  auto breakAfter = [&](const char* tag) {
    std::size_t n = static_cast<std::size_t>(tag + 5 - copied);
    std::memcpy(out, copied, n);
    out += n;
    *out++ = '\r';
    *out++ = '\n';
    copied = tag + 5;
  };
  const char* i = p;
#if defined(__SSE2__)
  // Only "</" pairs are looked at; in a table page that is one tag in two.
  const __m128i bracket = _mm_set1_epi8('<');
  const __m128i slash = _mm_set1_epi8('/');
  while (end - i >= 17) {
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(i));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(i + 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(v0, bracket), _mm_cmpeq_epi8(v1, slash))));
    while (mask != 0) {
      const char* tag = i + __builtin_ctz(mask);
      mask &= mask - 1;
      if (end - tag >= 5 && endsCellOrRow(tag)) breakAfter(tag);
    }
    i += 16;
  }
#endif
  for (; end - i >= 5; ++i)
    if (i[0] == '<' && i[1] == '/' && endsCellOrRow(i)) breakAfter(i);
  std::size_t rest = static_cast<std::size_t>(end - copied);
  if (rest > 0) std::memcpy(out, copied, rest);
  return out + rest;
}

inline bool isContinuation(Byte c) { return (c & 0xC0) == 0x80; }

// Writes "&#N;" and returns its end; at most 10 bytes ("&#1114111;").
inline char* writeReference(char* out, std::uint32_t codePoint) {
  int digits = codePoint >= 1000000  ? 7
               : codePoint >= 100000 ? 6
               : codePoint >= 10000  ? 5
               : codePoint >= 1000   ? 4
               : codePoint >= 100    ? 3
               : codePoint >= 10     ? 2
                                     : 1;
  out[0] = '&';
  out[1] = '#';
  char* end = out + 2 + digits;
  *end = ';';
  char* d = end;
  do {
    *--d = static_cast<char>('0' + codePoint % 10);
    codePoint /= 10;
  } while (codePoint != 0);
  return end + 1;
}

// Two-byte sequences (Latin, Greek, Cyrillic, Hebrew, Arabic) are most of
// what reports hold beyond ASCII, so their output is looked up rather than
// formatted: per code below U+0800, up to 7 bytes of text and its length in
// the eighth. Codes up to kLastKept map to their own two UTF-8 bytes.
struct TwoByteTable {
  char entry[0x800][8];
};

constexpr TwoByteTable makeTwoByteTable() {
  TwoByteTable table{};
  for (std::uint32_t code = 0; code < 0x800; ++code) {
    char* e = table.entry[code];
    if (code <= kLastKept) {
      e[0] = static_cast<char>(0xC0 | (code >> 6));
      e[1] = static_cast<char>(0x80 | (code & 0x3F));
      e[7] = 2;
      continue;
    }
    char digits[4] = {};
    int n = 0;
    for (std::uint32_t c = code; c != 0; c /= 10) digits[n++] = static_cast<char>('0' + c % 10);
    int length = 0;
    e[length++] = '&';
    e[length++] = '#';
    while (n > 0) e[length++] = digits[--n];
    e[length++] = ';';
    e[7] = static_cast<char>(length);
  }
  return table;
}

constexpr TwoByteTable kTwoByte = makeTwoByteTable();

// Writes what the character starting at p (a byte >= 0x80) becomes, moves p
// past it and returns the end of the output. It writes at most 10 bytes.
//
// A byte that does not start a complete, shortest-form sequence of a scalar
// value (a stray continuation byte, the lead byte of an overlong form, of a
// surrogate or of a code above U+10FFFF, a sequence cut short) is one U+FFFD
// and decoding resumes at the next byte; so each byte of a broken sequence
// becomes its own replacement, however the sequence is broken.
inline char* escapeCharacter(const char*& p, const char* end, char* out) {
  const Byte b0 = static_cast<Byte>(p[0]);
  const std::ptrdiff_t avail = end - p;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (avail >= 2 && isContinuation(static_cast<Byte>(p[1]))) {
      const char* e = kTwoByte.entry[((b0 & 0x1F) << 6) | (static_cast<Byte>(p[1]) & 0x3F)];
      std::memcpy(out, e, 8);
      p += 2;
      return out + e[7];
    }
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (avail >= 3) {
      Byte b1 = static_cast<Byte>(p[1]), b2 = static_cast<Byte>(p[2]);
      // E0 below A0 would be overlong; ED above 9F would be a surrogate.
      Byte low = b0 == 0xE0 ? 0xA0 : 0x80, high = b0 == 0xED ? 0x9F : 0xBF;
      if (b1 >= low && b1 <= high && isContinuation(b2)) {
        p += 3;
        return writeReference(out, static_cast<std::uint32_t>(((b0 & 0x0F) << 12) |
                                                              ((b1 & 0x3F) << 6) | (b2 & 0x3F)));
      }
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (avail >= 4) {
      Byte b1 = static_cast<Byte>(p[1]), b2 = static_cast<Byte>(p[2]), b3 = static_cast<Byte>(p[3]);
      // F0 below 90 would be overlong; F4 above 8F would pass U+10FFFF.
      Byte low = b0 == 0xF0 ? 0x90 : 0x80, high = b0 == 0xF4 ? 0x8F : 0xBF;
      if (b1 >= low && b1 <= high && isContinuation(b2) && isContinuation(b3)) {
        p += 4;
        return writeReference(out,
                              static_cast<std::uint32_t>(((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) |
                                                         ((b2 & 0x3F) << 6) | (b3 & 0x3F)));
      }
    }
  }
  ++p;
  return writeReference(out, kReplacement);
}

// Step 1, and step 4 with it when BreakLines, into sink. The output is put
// together in a local block handed over when full: a call to the sink per
// character would cost more than the escaping itself.
template <bool BreakLines>
void escapeInto(std::string_view text, StringBuffer& sink) {
  constexpr std::size_t kStage = 32768;
  // A round of the loop starts below kStage and ends less than 32 bytes
  // past it (up to 15 plain bytes, then references begun below the limit).
  constexpr std::size_t kSlack = 64;
  alignas(16) char stage[kStage + kSlack];
  char* out = stage;
  auto handOver = [&] {
    std::size_t n = static_cast<std::size_t>(out - stage);
    // Only broken UTF-8 can outgrow the estimate reserved; grow by doubling
    // then, not by the buffer's single blocks.
    if (sink.length() + n > sink.capacity())
      sink.reserve(std::max(sink.length() + n, 2 * sink.capacity()));
    sink.append(std::string_view(stage, n));
    out = stage;
  };
  const char* p = text.data();
  const char* end = p + text.size();
#if defined(__SSE2__)
  const __m128i bracket = _mm_set1_epi8('<');
  const __m128i slash = _mm_set1_epi8('/');
#endif
  while (p < end) {
#if defined(__SSE2__)
    if (end - p >= 17) {
      // Copy 16 bytes whatever they are, then keep only those before the
      // first one that needs a look.
      __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v0);
      int mask = _mm_movemask_epi8(v0);
      if constexpr (BreakLines) {
        __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        mask |= _mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(v0, bracket), _mm_cmpeq_epi8(v1, slash)));
      }
      if (mask == 0) {
        p += 16;
        out += 16;
        if (out >= stage + kStage) handOver();
        continue;
      }
      int plain = __builtin_ctz(static_cast<unsigned>(mask));
      p += plain;
      out += plain;
    } else
#endif
        if (static_cast<Byte>(*p) < 0x80 &&
            !(BreakLines && *p == '<' && end - p >= 2 && p[1] == '/')) {
      *out++ = *p++;
      if (out >= stage + kStage) handOver();
      continue;
    }
    if (static_cast<Byte>(*p) >= 0x80) {
      // Such characters come in words: stay here while they last.
      do out = escapeCharacter(p, end, out);
      while (p < end && static_cast<Byte>(*p) >= 0x80 && out < stage + kStage);
    } else if (end - p >= 5 && endsCellOrRow(p)) {
      std::memcpy(out, p, 5);
      out[5] = '\r';
      out[6] = '\n';
      out += 7;
      p += 5;
    } else {  // some other "</"
      out[0] = '<';
      out[1] = '/';
      out += 2;
      p += 2;
    }
    if (out >= stage + kStage) handOver();
  }
  handOver();
}

std::size_t findIn(std::string_view text, std::string_view what, std::size_t from) {
  const void* hit = memmem(text.data() + from, text.size() - from, what.data(), what.size());
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// Every occurrence of what replaced with with, or false (and no copy) when
// there is none. what is not empty.
bool replaceAll(std::string_view text, std::string_view what, std::string_view with,
                std::string& result) {
  std::size_t hit = findIn(text, what, 0);
  if (hit == std::string_view::npos) return false;
  std::string out;
  out.reserve(with.size() <= what.size() ? text.size() : text.size() + text.size() / 2);
  std::size_t from = 0;
  do {
    out.append(text.data() + from, hit - from);
    out.append(with);
    from = hit + what.size();
  } while ((hit = findIn(text, what, from)) != std::string_view::npos);
  out.append(text.data() + from, text.size() - from);
  result = std::move(out);
  return true;
}

}  // namespace

std::string formatText(std::string_view text, bool skipUnicode,
                       const std::vector<std::string>& suppressStrings) {
  const Census census = takeCensus(text);
  bool suppressing = false;
  for (const std::string& s : suppressStrings) suppressing = suppressing || !s.empty();
  const bool escaping = !skipUnicode && census.highBytes > 0;

  if (escaping && !suppressing) {
    StringBuffer buffer;
    buffer.reserve(escapedSizeEstimate(text.size(), census) +
                   census.openBrackets * kGrowthPerBreak);
    escapeInto<true>(text, buffer);
    return buffer.takeString();
  }

  // The text so far: the input until a step changes it, then owned.
  std::string owned;
  std::string_view current = text;
  bool owning = false;
  if (escaping) {
    StringBuffer buffer;
    buffer.reserve(escapedSizeEstimate(text.size(), census));
    escapeInto<false>(text, buffer);
    owned = buffer.takeString();
    current = owned;
    owning = true;
  }
  for (const std::string& s : suppressStrings) {
    if (s.empty()) continue;
    if (replaceAll(current, s, {}, owned)) {
      current = owned;
      owning = true;
    }
  }
  // Escaping leaves no "€"; without it, removal only ever takes bytes away,
  // so a text with no high byte cannot come to hold one.
  if (skipUnicode && census.highBytes > 0 && replaceAll(current, kEuro, kEuroReference, owned)) {
    current = owned;
    owning = true;
  }

  // No step adds a "<", so the input's count still bounds the breaks.
  if (census.openBrackets == 0) return owning ? std::move(owned) : std::string(current);
  std::string result(current.size() + census.openBrackets * kGrowthPerBreak, '\0');
  char* written = copyBreakingLines(current.data(), current.data() + current.size(), result.data());
  result.resize(static_cast<std::size_t>(written - result.data()));
  return result;
}

std::string Utilities::formatText(const std::string& text) const {
  const Settings& s = settings();
  std::vector<std::string> suppress;
  suppress.reserve(static_cast<std::size_t>(s.num_suppress_strings()));
  for (int i = 0; i < s.num_suppress_strings(); ++i) suppress.push_back(s.getSuppresString(i));
  return postrix::formatText(text, s.skipUnicode(), suppress);
}

}  // namespace postrix
