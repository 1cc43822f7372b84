// Report addresses, the form data posted with them, and query-string values.
#include <array>

#include "config/settings.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// A report kept elsewhere is fetched from its own address; the prefixes are
// case-sensitive, as the web application writes them.
bool isExternal(std::string_view url) {
  return startsWith(url, "ftp") || startsWith(url, "http") || startsWith(url, "sftp") ||
         startsWith(url, "file");
}

bool isSafe(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string Utilities::buildReportURL(std::string_view reportUrl, std::int32_t reportId,
                                      std::int32_t mappingId, std::string_view reportFormat,
                                      bool isDashboard, std::int32_t companyId,
                                      std::string_view dashboardFilter) const {
  if (isExternal(reportUrl)) return std::string(reportUrl.substr(0, reportUrl.find('?')));
  const Settings& s = settings();
  std::string company = companyId >= 0 ? "&company_id=" + std::to_string(companyId) : "";
  if (isDashboard) {
    std::string address = s.urlOrvanta() +
                          "dashboard.asp?email_report=1&dashboard_id=" + std::to_string(reportId) +
                          company;
    if (!dashboardFilter.empty())
      address += "&" + replaceAll(dashboardFilter, "&storeaction=1", "");
    return address;
  }
  std::string address = s.urlOrvanta() +
                        "analysis.asp?email_report=1&mapping_id=" + std::to_string(mappingId) +
                        "&reportid=" + std::to_string(reportId);
  if (reportFormat == "csv") address += "&format=csv";
  address += company;
  if (s.emailNow()) address += "&email_now=true";
  return address;
}

std::string Utilities::buildReportQS(std::string_view reportUrl) {
  size_t question = reportUrl.find('?');
  return std::string(question == std::string_view::npos ? reportUrl
                                                        : reportUrl.substr(question + 1));
}

// Text is UTF-8 throughout, so encoding its bytes writes each character's
// UTF-8 form: the same bytes the web application has always received for
// characters up to U+FFFF, and for characters beyond that one four-byte
// sequence rather than two encoded surrogate halves, which no server decodes.
std::string Utilities::URLEncode(std::string_view text) {
  static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (c != '\0') clean += c;
  size_t first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  size_t last = clean.find_last_not_of(' ');
  std::string encoded;
  encoded.reserve((last - first + 1) * 3);
  for (size_t i = first; i <= last; ++i) {
    auto c = static_cast<unsigned char>(clean[i]);
    if (c == ' ') {
      encoded += '+';
    } else if (isSafe(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

std::string Utilities::getQSVariable(std::string& queryString, std::string_view name) {
  if (startsWith(queryString, "&")) queryString.erase(0, 1);
  if (endsWith(queryString, "&")) queryString.pop_back();
  std::string values;
  bool found = false;
  for (const auto& piece : split(queryString, "&")) {
    size_t equals = piece.find('=');
    // A piece without "=" carries no value to read.
    if (piece.empty() || equals == std::string::npos) continue;
    if (std::string_view(piece).substr(0, equals) != name) continue;
    values += (found ? "," : "") + piece.substr(equals + 1);
    found = true;
  }
  return values;
}

std::string Utilities::changeQSVariable(std::string_view queryString, std::string_view name,
                                        std::string_view newValue) {
  std::string key = std::string(name) + "=";
  std::string copy = replaceAll(queryString, "?", "&");
  bool prefixed = startsWith(copy, key);
  if (prefixed) copy = "&" + copy;
  size_t at = copy.find("&" + key);
  if (at == std::string::npos) return std::string(queryString) + "&" + key + std::string(newValue);
  // Positions in the copy are one further on when a "&" was put in front.
  std::string result = prefixed ? "&" : std::string(queryString.substr(0, at + 1));
  result += key + std::string(newValue);
  size_t next = copy.find('&', at + 1 + key.size());
  if (next != std::string::npos) result += copy.substr(next);
  return prefixed ? result.substr(1) : result;
}

}  // namespace postrix
