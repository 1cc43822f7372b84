// generatepdf -O Landscape|Portrait SOURCE PDF
//
// Prints a web page (an http or https address) or a local HTML file to PDF
// through a headless Chromium of its own. Exit status 0 only when the PDF was
// written whole; otherwise 1 with one line on stderr and no file left behind,
// 2 for bad usage. GENERATEPDF_TIMEOUT (seconds, default 120) bounds the whole
// run; POSTRIX_CHROMIUM names the browser when it is not chromium on PATH.
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "atomic_file.h"
#include "chromium_process.h"
#include "deadline.h"
#include "devtools_session.h"
#include "pdf_printer.h"

namespace generatepdf {
namespace {

constexpr int kDefaultTimeout = 120;

struct Options {
  bool landscape = false;
  std::string source, pdf;
};

bool sameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool parseArguments(int argc, char** argv, Options& options) {
  if (argc != 5 || std::string_view(argv[1]) != "-O" || !*argv[3] || !*argv[4]) return false;
  options.landscape = sameLetters(argv[2], "Landscape");
  options.source = argv[3];
  options.pdf = argv[4];
  return options.landscape || sameLetters(argv[2], "Portrait");
}

// 0 when GENERATEPDF_TIMEOUT is set but not a whole number of seconds above 0.
int timeLimit() {
  const char* text = std::getenv("GENERATEPDF_TIMEOUT");
  if (!text || !*text) return kDefaultTimeout;
  char* end = nullptr;
  long seconds = std::strtol(text, &end, 10);
  return *end || seconds <= 0 || seconds > 86400 ? 0 : static_cast<int>(seconds);
}

bool isWebAddress(const std::string& source) {
  auto startsWith = [&](std::string_view prefix) {
    return sameLetters(std::string_view(source).substr(0, prefix.size()), prefix);
  };
  return startsWith("http://") || startsWith("https://");
}

// A file:// address for a local path, every byte but the unreserved ones and
// "/" percent-encoded, so names with spaces, "#", "%" or UTF-8 survive.
std::string fileAddress(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) {
    throw Failure("cannot read " + path + ": " + std::strerror(errno));
  }
  std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  std::string url = "file://";
  for (unsigned char c : absolute) {
    if (std::isalnum(c) || std::strchr("-._~/", c)) {
      url += static_cast<char>(c);
    } else {
      static const char* const hex = "0123456789ABCDEF";
      url += {'%', hex[c >> 4], hex[c & 15]};
    }
  }
  return url;
}

void convert(const Options& options, const Deadline& deadline) {
  std::string url = isWebAddress(options.source) ? options.source : fileAddress(options.source);
  AtomicFile out(options.pdf);  // first: a folder we cannot write to fails before Chromium starts
  ChromiumProcess chromium(deadline);
  DevToolsSession session(chromium.port(), deadline);
  PdfPrinter printer(session);
  printer.load(url);
  printer.print(options.landscape, out);
  out.commit();
}

void onStopSignal(int signal) { stopSignal = signal; }

void installStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A write to a Chromium that just died must fail, not end us before cleanup.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace
}  // namespace generatepdf

int main(int argc, char** argv) {
  using namespace generatepdf;
  Options options;
  int seconds = timeLimit();
  if (!parseArguments(argc, argv, options) || seconds == 0) {
    std::cerr << "usage: generatepdf -O Landscape|Portrait SOURCE PDF"
                 " (GENERATEPDF_TIMEOUT: whole seconds above 0)\n";
    return 2;
  }
  installStopHandlers();
  try {
    convert(options, Deadline(seconds));
    return 0;
  } catch (const Stopped& stopped) {
    std::cerr << "generatepdf: " << stopped.what() << "\n";
    // Ended by the signal, as the sender expects, now that the cleanup is done.
    signal(stopped.signal, SIG_DFL);
    raise(stopped.signal);
  } catch (const std::exception& e) {
    std::cerr << "generatepdf: " << e.what() << "\n";
  }
  return 1;
}
