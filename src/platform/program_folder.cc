#include "platform/program_folder.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#ifndef POSTRIX_DEFAULT_HOME
#define POSTRIX_DEFAULT_HOME ""
#endif

namespace postrix {
namespace {

std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string programFolder() {
  if (const char* home = std::getenv("POSTRIX_HOME"); home && *home)
    return withoutTrailingSeparator(home);
  // An installed build names its state folder at build time (CMake POSTRIX_DEFAULT_HOME).
  if (constexpr std::string_view builtIn = POSTRIX_DEFAULT_HOME; !builtIn.empty())
    return withoutTrailingSeparator(std::string(builtIn));
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return withoutTrailingSeparator(std::filesystem::current_path().string());
  return withoutTrailingSeparator(exe.parent_path().string());
}

}  // namespace postrix
