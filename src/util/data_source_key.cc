#include "util/data_source_key.h"

#include "util/text.h"

namespace postrix {

std::string dataSourceKey(std::string_view dataSourceText) {
  std::string lower = toLower(dataSourceText);
  size_t at = lower.find("qxdb=");
  if (at == std::string::npos) return "";
  size_t from = at + 5;
  size_t end = lower.find(';', at + 1);
  if (end == std::string::npos) end = lower.size();
  return end > from ? lower.substr(from, end - from) : "";
}

std::string withoutPasswords(std::string_view dataSourceText) {
  std::string out;
  size_t start = 0;
  while (start <= dataSourceText.size()) {
    size_t end = dataSourceText.find(';', start);
    if (end == std::string_view::npos) end = dataSourceText.size();
    std::string_view pair = dataSourceText.substr(start, end - start);
    size_t equals = pair.find('=');
    std::string key = toLower(trimBlanks(std::string(pair.substr(0, equals))));
    if (equals != std::string_view::npos && (key == "pwd" || key == "password")) {
      // A quote closing the text it stands in is not the password's.
      size_t quotes = pair.size() - 1 - pair.find_last_not_of("\"'");
      if (quotes > pair.size() - equals - 1) quotes = pair.size() - equals - 1;
      out += std::string(pair.substr(0, equals + 1)) + "XXXXXX" +
             std::string(pair.substr(pair.size() - quotes));
    } else
      out += pair;
    if (end < dataSourceText.size()) out += ';';
    start = end + 1;
  }
  return out;
}

}  // namespace postrix
