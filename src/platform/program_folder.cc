#include "platform/program_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

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
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return withoutTrailingSeparator(std::filesystem::current_path().string());
  return withoutTrailingSeparator(exe.parent_path().string());
}

}  // namespace postrix
