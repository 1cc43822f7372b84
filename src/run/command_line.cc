#include "run/command_line.h"

#include <algorithm>

namespace postrix {

std::string joinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& arg : arguments) {
    if (!line.empty()) line += ' ';
    bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    line += quote ? "\"" + arg + "\"" : arg;
  }
  return line;
}

bool asksForHelp(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
    return a == "--help" || a == "-help" || a == "-h";
  });
}

bool asksForVersion(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), "--version") != arguments.end();
}

}  // namespace postrix
