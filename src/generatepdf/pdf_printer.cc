#include "pdf_printer.h"

#include <Poco/Base64Decoder.h>

#include <sstream>

namespace generatepdf {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Object = DevToolsSession::Object;

// Report pages often draw their charts after the load event, from data they
// fetch then; a fixed pause would either cut those off or always wait too long.
// So: until the network has been quiet this long, but no longer than the cap,
// for pages that poll forever.
constexpr auto kQuietFor = 500ms;
constexpr auto kSettleCap = 5s;

constexpr int kChunk = 1 << 20;

const char* const kHeader =
    "<div style=\"width:100%;box-sizing:border-box;padding:0 0.4in;text-align:right;"
    "font-family:sans-serif;font-size:9px\"><span class=\"pageNumber\"></span></div>";

Object fields(std::initializer_list<std::pair<const char*, Poco::Dynamic::Var>> values) {
  Object out = new Poco::JSON::Object;
  for (const auto& [name, value] : values) out->set(name, value);
  return out;
}

std::string decodeBase64(const std::string& text) {
  std::istringstream in(text);
  Poco::Base64Decoder decoder(in);
  std::ostringstream out;
  out << decoder.rdbuf();
  return out.str();
}

}  // namespace

PdfPrinter::PdfPrinter(DevToolsSession& session) : session_(session) {
  session_.onEvent([this](const std::string& method, const Object& p) { onEvent(method, p); });
}

void PdfPrinter::onEvent(const std::string& method, const Object& params) {
  if (method == "Page.loadEventFired") {
    loaded_ = true;
  } else if (method == "Inspector.targetCrashed") {
    throw Failure("the page crashed Chromium's renderer");
  } else if (method.starts_with("Network.")) {
    lastNetworkEvent_ = Clock::now();
    std::string id = params->optValue<std::string>("requestId", "");
    if (method == "Network.responseReceived" && documentStatus_ == 0 &&
        params->optValue<std::string>("type", "") == "Document")
      noteDocumentAnswer(params);
    if (method == "Network.requestWillBeSent") {
      pendingRequests_.insert(id);
    } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed") {
      pendingRequests_.erase(id);
    }
  }
}

void PdfPrinter::load(const std::string& url) {
  session_.call("Inspector.enable");
  session_.call("Page.enable");
  session_.call("Network.enable");
  Object navigated = session_.call("Page.navigate", fields({{"url", url}}));
  std::string error = navigated->optValue<std::string>("errorText", "");
  if (!error.empty()) throw Failure("could not load " + url + ": " + error);
  session_.waitFor([this] { return loaded_; }, Clock::time_point::max(),
                   "waiting for the page to load");
  // An error page is no report: Chromium shows it like any other page.
  if (documentStatus_ >= 400)
    throw Failure("could not load " + url + ": the server answered " +
                  std::to_string(documentStatus_) + " " + documentStatusText_);
  settle();
}

// The first document answer is the page's own; frames inside it come later.
void PdfPrinter::noteDocumentAnswer(const Object& params) {
  Object response = params->getObject("response");
  if (response.isNull()) return;
  documentStatus_ = response->optValue<int>("status", 0);
  documentStatusText_ = response->optValue<std::string>("statusText", "");
}

void PdfPrinter::settle() {
  auto quiet = [this] {
    return pendingRequests_.empty() && Clock::now() - lastNetworkEvent_ >= kQuietFor;
  };
  session_.waitFor(quiet, Clock::now() + kSettleCap, "waiting for the page to settle");
}

void PdfPrinter::print(bool landscape, AtomicFile& out) {
  Object printed =
      session_.call("Page.printToPDF", fields({{"landscape", landscape},
                                               {"printBackground", true},
                                               {"displayHeaderFooter", true},
                                               {"headerTemplate", std::string(kHeader)},
                                               {"footerTemplate", std::string("<span></span>")},
                                               {"paperWidth", 8.5},
                                               {"paperHeight", 11.0},
                                               {"marginTop", 0.6},
                                               {"marginBottom", 0.4},
                                               {"marginLeft", 0.4},
                                               {"marginRight", 0.4},
                                               {"transferMode", std::string("ReturnAsStream")}}));
  std::string handle = printed->optValue<std::string>("stream", "");
  if (handle.empty()) throw Failure("Chromium returned no PDF stream");
  size_t size = copyStream(handle, out);
  session_.call("IO.close", fields({{"handle", handle}}));
  if (size == 0) throw Failure("Chromium returned an empty PDF");
}

size_t PdfPrinter::copyStream(const std::string& handle, AtomicFile& out) {
  size_t total = 0;
  for (bool eof = false; !eof;) {
    Object chunk = session_.call("IO.read", fields({{"handle", handle}, {"size", kChunk}}));
    std::string data = chunk->optValue<std::string>("data", "");
    if (chunk->optValue<bool>("base64Encoded", false)) data = decodeBase64(data);
    if (total == 0 && !data.empty() && !data.starts_with("%PDF-")) {
      throw Failure("Chromium returned something that is not a PDF");
    }
    out.write(data.data(), data.size());
    total += data.size();
    eof = chunk->optValue<bool>("eof", true);
  }
  return total;
}

}  // namespace generatepdf
