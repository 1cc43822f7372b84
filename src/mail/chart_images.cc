// Chart images: fetched from the web application and embedded in the body.
#include <string_view>

#include "config/settings.h"
#include "mail/email.h"
#include "platform/file_system.h"
#include "platform/http/http_request.h"
#include "platform/smtp/sasl.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// An image whose address is relative to the web application.
constexpr std::string_view kImageTag = "<img src=\"analysis_";
// Where the address starts: just after the opening double quote.
constexpr size_t kAddressOffset = 10;
constexpr std::string_view kBorder = " border=";
constexpr int kMostImages = 50;

// The tag's address: from "analysis_" up to the closing quote just before
// " border=". "" when the tag has no " border=" of its own: taking the one
// of a later tag would fetch a piece of markup.
std::string imageAddress(const std::string& body, size_t tag) {
  size_t border = body.find(kBorder, tag + 12);
  if (border == std::string::npos) return "";
  size_t start = tag + kAddressOffset;
  if (border < start + 1 || body[border - 1] != '"') return "";
  std::string address = body.substr(start, border - 1 - start);
  if (address.find_first_of("\"<>") != std::string::npos) return "";
  return address;
}

// Every use of the address as a whole quoted value: replacing the bare text
// would also rewrite a longer address that starts with it (chart=1 inside
// chart=10).
std::string replaceQuoted(const std::string& body, const std::string& address,
                          const std::string& replacement) {
  return replaceAll(body, "\"" + address + "\"", "\"" + replacement + "\"");
}

}  // namespace

std::string Email::encodeBase64(std::string_view bytes) { return smtp::sasl::base64(bytes); }

std::string Email::downloadImage(const std::string& address) {
  try {
    http::HttpRequest* request = utilities_->getInetObj(false);
    if (request == nullptr) return "";
    request->open("GET", settings_->urlOrvanta() + trimBlanks(address));
    request->send();
    // An error page is no image: attaching it would show a broken chart.
    if (request->status() != 200) {
      log("ERROR: Unable to download image '" + trimBlanks(address) + "'. Server return code " +
          std::to_string(request->status()) + ".");
      return "";
    }
    return request->responseBody();
  } catch (const Failure&) {
    return "";
  }
}

void Email::attachChart(const std::string& path, const std::string& partName) {
  if (cdo_)
    cdo_->AddRelatedBodyPart(path, partName, "image/jpeg");
  else if (mailBee_)
    mailBee_->Message().AddAttachment(path, "image/jpeg", partName, partName);
}

bool Email::checkImg(std::string& body, bool /*isDashboard*/, bool hasCharts) {
  const bool toParts = !hasCharts;
  bool failed = false;
  size_t tag = body.find(kImageTag);
  int n = 1;
  while (tag != std::string::npos && n <= kMostImages) {
    if (settings_->debugReport()) log("Detected image in body.");
    std::string address = imageAddress(body, tag);
    if (address.empty()) {
      log("WARNING: An image tag without \" border=\" after its address is left as it is.");
      tag = body.find(kImageTag, tag + kImageTag.size());
      continue;
    }
    std::string partName = "qx_chart" + std::to_string(n) + ".jpg";
    bool rewritten = false;
    if (toParts && !settings_->skipallformatting()) {
      body = replaceQuoted(body, address, "cid:" + partName);
      rewritten = true;
    }
    std::string bytes = downloadImage(address);
    if (bytes.size() < 3) {
      log("ERROR: Unable to download image. 0 bytes returned.");
      failed = true;
    }
    if (hasCharts) {
      body = replaceQuoted(body, address, "data:image/jpeg;base64," + encodeBase64(bytes));
      rewritten = true;
    }
    try {
      std::string path = settings_->filedestination() + "/" + settings_->IMG_TEMP_FILE();
      files::writeFile(path, bytes);
      if (toParts) {
        attachChart(path, partName);
        if (settings_->deletefileatt()) files::deleteFile(path);
      }
    } catch (const Failure&) {
      // Errors of the file system or the component are skipped image by image.
    }
    ++n;
    // A tag left as it was (-skip) would be found again: move past it.
    tag = rewritten ? body.find(kImageTag) : body.find(kImageTag, tag + kImageTag.size());
  }
  return failed;
}

}  // namespace postrix
