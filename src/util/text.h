// Small text helpers shared by every subsystem. Comparisons are by bytes and,
// where "no case" is said, by ASCII letter case only.
#pragma once

#include <cstdint>      // findLineEnd
#include <cstring>      // findLineEnd
#include <string>       // results
#include <string_view>  // inputs
#include <vector>       // split results

namespace postrix {

std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);
// Removes blanks (spaces only, as the run-time library's Trim does) at both ends.
std::string trimBlanks(std::string_view s);
bool containsNoCase(std::string_view haystack, std::string_view needle);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWith(std::string_view s, std::string_view prefix);
bool endsWith(std::string_view s, std::string_view suffix);
// Replaces every occurrence of from (non-empty) by to, left to right.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);
// Splits at every separator; "a,,b" gives three pieces, "" gives one empty piece.
std::vector<std::string> split(std::string_view s, std::string_view separator);
// Text from outside shown on one line: CR as \r, LF as \n, NUL as \0 and
// every other control character below 0x20 as \xHH.
std::string escapedControls(std::string_view text);
// The text of a value inside a SQL string literal: every ' doubled.
std::string sqlQuoted(std::string_view value);
// The position of the first CR or LF at or after from; s.size() when none.
// Whole messages go through it, so it looks at eight bytes at a time.
inline size_t findLineEnd(std::string_view s, size_t from) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  for (; from + 8 <= s.size(); from += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + from, 8);
    std::uint64_t cr = word ^ (kOnes * '\r'), lf = word ^ (kOnes * '\n');
    // Non-zero exactly when some byte of cr or lf is zero.
    if (((cr - kOnes) & ~cr & kHighs) | ((lf - kOnes) & ~lf & kHighs)) break;
  }
  while (from < s.size() && s[from] != '\r' && s[from] != '\n') ++from;
  return from;
}

}  // namespace postrix
