#include "platform/workbook/csv_text.h"

namespace postrix::workbook {
namespace {

void appendField(std::string& out, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

std::string csvText(const Sheet& sheet) {
  std::string out = "\xEF\xBB\xBF";
  for (const Row& row : sheet.rows()) {
    // Empty cells between the ones the row holds are empty fields.
    for (size_t i = 0; i < row.size(); ++i) {
      out.append(i == 0 ? row[i].column : row[i].column - row[i - 1].column, ',');
      appendField(out, row[i].text);
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace postrix::workbook
