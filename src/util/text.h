// Small text helpers shared by every subsystem. Comparisons are by bytes and,
// where "no case" is said, by ASCII letter case only.
#pragma once

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
// The text of a value inside a SQL string literal: every ' doubled.
std::string sqlQuoted(std::string_view value);
// The position of the first CR or LF at or after from; s.size() when none.
// (find_first_of looks each character up in the set, which is many times
// slower over a whole message.)
inline size_t findLineEnd(std::string_view s, size_t from) {
  while (from < s.size() && s[from] != '\r' && s[from] != '\n') ++from;
  return from;
}

}  // namespace postrix
