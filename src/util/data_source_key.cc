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

}  // namespace postrix
