#include "platform/workbook/sheet.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace postrix::workbook {

void Sheet::put(size_t r, size_t c, std::string text) {
  if (text.empty()) return;
  if (r >= kMaxRows || c >= kMaxColumns) {
    ++leftOut_;
    return;
  }
  if (rows_.size() <= r) rows_.resize(r + 1);
  Row& row = rows_[r];
  auto at = std::lower_bound(row.begin(), row.end(), c,
                             [](const Cell& cell, size_t column) { return cell.column < column; });
  if (at == row.end() || at->column != c) at = row.insert(at, Cell{c, "", std::nullopt});
  at->number = numberIn(text);
  at->text = std::move(text);
}

void Sheet::removeBlankTopRows(size_t columns) {
  auto blank = [columns](const Row& row) { return row.empty() || row.front().column >= columns; };
  rows_.erase(rows_.begin(), std::find_if_not(rows_.begin(), rows_.end(), blank));
}

namespace {

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Digits from i, either plain or grouped "1,234,567"; returns the end, or
// npos when a group is malformed. Appends the digits to out.
size_t integerPart(const std::string& s, size_t i, std::string& out) {
  size_t start = i;
  while (i < s.size() && digit(s[i])) out += s[i++];
  size_t lead = i - start;
  if (lead == 0) return std::string::npos;
  if (i >= s.size() || s[i] != ',') return i;
  if (lead > 3) return std::string::npos;
  while (i < s.size() && s[i] == ',') {
    for (size_t k = 1; k <= 3; ++k)
      if (i + k >= s.size() || !digit(s[i + k])) return std::string::npos;
    out.append(s, i + 1, 3);
    i += 4;
  }
  return i < s.size() && digit(s[i]) ? std::string::npos : i;
}

}  // namespace

std::optional<double> numberIn(const std::string& text) {
  std::string plain;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) plain += text[i++];
  size_t digitsFrom = plain.size();
  i = integerPart(text, i, plain);
  if (i == std::string::npos) return std::nullopt;
  if (plain.size() - digitsFrom > 1 && plain[digitsFrom] == '0') return std::nullopt;
  size_t digits = plain.size() - digitsFrom;
  if (i < text.size() && text[i] == '.') {
    plain += text[i++];
    size_t fraction = 0;
    while (i < text.size() && digit(text[i])) plain += text[i++], ++fraction;
    if (fraction == 0) return std::nullopt;
    digits += fraction;
  }
  if (i != text.size() || digits > 15) return std::nullopt;
  return std::strtod(plain.c_str(), nullptr);
}

}  // namespace postrix::workbook
