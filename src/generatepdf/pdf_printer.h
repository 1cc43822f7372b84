// Loads one address into a DevTools page and prints it on Letter paper, with
// backgrounds and the page number at the top right of every page. The PDF
// goes to the file a chunk at a time, so memory stays bounded whatever its size.
#pragma once

#include <chrono>
#include <set>
#include <string>

#include "atomic_file.h"
#include "devtools_session.h"

namespace generatepdf {

class PdfPrinter {
 public:
  // Every wait goes through the session, and so has its deadline.
  explicit PdfPrinter(DevToolsSession& session);

  // Returns once the page has loaded and its late requests are done; throws
  // Failure with Chromium's error text ("net::ERR_...") when it cannot load,
  // or with the status when the server answers with an error (400 and up).
  void load(const std::string& url);
  // Writes the PDF of the loaded page to out; throws Failure when Chromium
  // returns none or it cannot be written.
  void print(bool landscape, AtomicFile& out);

 private:
  void onEvent(const std::string& method, const DevToolsSession::Object& params);
  void noteDocumentAnswer(const DevToolsSession::Object& params);
  void settle();
  size_t copyStream(const std::string& handle, AtomicFile& out);

  DevToolsSession& session_;
  bool loaded_ = false;
  int documentStatus_ = 0;
  std::string documentStatusText_;
  std::set<std::string> pendingRequests_;
  std::chrono::steady_clock::time_point lastNetworkEvent_;
};

}  // namespace generatepdf
