#include "support/mail_reader.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/shell_output.h"

namespace postrix::test {

namespace {

std::string mailParts(const std::string& messageData, const std::string& switches) {
  namespace fs = std::filesystem;
  std::string file = fs::temp_directory_path() / ("postrix-mail-" + std::to_string(getpid()));
  std::ofstream(file, std::ios::binary) << messageData;
  std::string command = std::string("/usr/bin/python3 ") + POSTRIX_SOURCE_DIR +
                        "/tests/peers/mail_parts.py " + file + switches;
  std::string out = outputOf(command, false);
  fs::remove(file);
  return out;
}

}  // namespace

std::string readerView(const std::string& messageData) { return mailParts(messageData, ""); }

std::string textView(const std::string& messageData) { return mailParts(messageData, " --text"); }

int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace postrix::test
