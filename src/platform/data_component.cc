#include "platform/data_component.h"

#include "util/data_source_key.h"  // dataSourceKey
#include "util/failure.h"          // Failure
#include "util/text.h"             // toLower, equalsNoCase

namespace postrix {
namespace {

bool isTrimmed(char c) { return c == ';' || c == ' ' || c == '\t'; }

}  // namespace

std::string DataComponent::connectionStringOf(std::string_view dataSourceText) {
  std::string text(dataSourceText);
  size_t at = toLower(text).find("qxdb=");
  if (at != std::string::npos) {
    size_t end = text.find(';', at);
    text.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
  }
  size_t first = 0, last = text.size();
  while (first < last && isTrimmed(text[first])) ++first;
  while (last > first && isTrimmed(text[last - 1])) --last;
  return text.substr(first, last - first);
}

bool DataComponent::remoteConnect(std::string_view dataSourceText) {
  remotedisconnect();
  try {
    connection_ = db::Connection::Open(connectionStringOf(dataSourceText));
  } catch (const Failure&) {
    return false;
  }
  key_ = dataSourceKey(dataSourceText);
  return true;
}

bool DataComponent::remoteLoad(std::string_view key, std::string& errorText) {
  if (connection_ && equalsNoCase(key, key_)) return true;
  errorText = "Data source '" + std::string(key) + "' is not loaded";
  return false;
}

db::Recordset DataComponent::remoteExecute(std::string_view key, std::string& sql,
                                           std::string& errorText) {
  if (!remoteLoad(key, errorText)) return {};
  try {
    db::Recordset result = connection_->Execute(sql);
    errorText.clear();
    return result;
  } catch (const Failure& failure) {
    errorText = failure.description();
    return {};
  }
}

void DataComponent::remotedisconnect() {
  connection_.reset();
  key_.clear();
}

}  // namespace postrix
