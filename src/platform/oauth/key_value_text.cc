#include "platform/oauth/key_value_text.h"

#include <algorithm>

#include "platform/oauth/oauth_error.h"
#include "util/text.h"

namespace postrix::oauth {
namespace {

bool isKey(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

}  // namespace

KeyValueText::KeyValueText(std::string_view text, std::string_view source) {
  int number = 0;
  for (std::string& raw : split(replaceAll(text, "\r\n", "\n"), "\n")) {
    ++number;
    std::string trimmed = trimBlanks(raw);
    if (trimmed.empty() || trimmed.front() == '#') {
      lines_.push_back({raw, "", ""});
      continue;
    }
    size_t equals = trimmed.find('=');
    std::string key = equals == std::string::npos ? "" : trimBlanks(trimmed.substr(0, equals));
    if (!isKey(key))
      throw OAuthError(std::string(source) + ", line " + std::to_string(number) +
                       ", is not of the form key = value");
    lines_.push_back({raw, key, trimBlanks(trimmed.substr(equals + 1))});
  }
  // The text's last line break leaves one empty piece, which is no line.
  if (!lines_.empty() && lines_.back().text.empty() && lines_.back().key.empty()) lines_.pop_back();
}

std::string KeyValueText::get(std::string_view key) const {
  for (auto line = lines_.rbegin(); line != lines_.rend(); ++line)
    if (line->key == key) return line->value;
  return "";
}

std::vector<std::string> KeyValueText::keys() const {
  std::vector<std::string> keys;
  for (const Line& line : lines_)
    if (!line.key.empty() && std::find(keys.begin(), keys.end(), line.key) == keys.end())
      keys.push_back(line.key);
  return keys;
}

void KeyValueText::set(std::string_view key, std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos)
    throw OAuthError("the value of " + std::string(key) + " holds a line break");
  std::string trimmed = trimBlanks(value);
  std::string text = std::string(key) + " = " + trimmed;
  bool placed = false;
  std::vector<Line> kept;
  // The first line of the key takes the value; later ones would override it.
  for (Line& line : lines_) {
    if (line.key == key) {
      if (placed || trimmed.empty()) continue;
      line = {text, line.key, trimmed};
      placed = true;
    }
    kept.push_back(std::move(line));
  }
  lines_ = std::move(kept);
  if (!placed && !trimmed.empty()) lines_.push_back({text, std::string(key), trimmed});
}

std::string KeyValueText::text() const {
  std::string out;
  for (const Line& line : lines_) out += line.text + "\n";
  return out;
}

}  // namespace postrix::oauth
