#include "platform/oauth/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file_descriptor.h"
#include "platform/file_system.h"
#include "platform/oauth/oauth_error.h"
#include "util/failure.h"

namespace postrix::oauth {
namespace {

// A secrets file is a few hundred bytes and a token a few kilobytes; anything
// far larger is not one of ours.
constexpr off_t kMaxBytes = 1024 * 1024;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

[[noreturn]] void fail(const std::string& doing, const std::string& path) {
  throw OAuthError(doing + " " + quoted(path) + " failed: " + std::strerror(errno));
}

void syncFolder(const std::string& folder) {
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

bool privateFileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::string readPrivateFile(const std::string& path, std::string_view what) {
  // The mode is judged on the open file, so it is the file that is read.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ENOENT) throw OAuthError(std::string(what) + " " + quoted(path) + " is missing");
    fail("reading " + std::string(what), path);
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) fail("reading " + std::string(what), path);
  if (!S_ISREG(info.st_mode))
    throw OAuthError(std::string(what) + " " + quoted(path) + " is no file");
  if (info.st_mode & 077)
    throw OAuthError(std::string(what) + " " + quoted(path) +
                     " may be read or changed by other accounts (mode " + modeText(info.st_mode) +
                     "); make it its owner's only: chmod 600 " + quoted(path));
  if (info.st_size > kMaxBytes)
    throw OAuthError(std::string(what) + " " + quoted(path) + " is too large");
  std::string bytes;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail("reading " + std::string(what), path);
    if (got == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(got));
    if (bytes.size() > static_cast<size_t>(kMaxBytes))
      throw OAuthError(std::string(what) + " " + quoted(path) + " is too large");
  }
}

void writePrivateFile(const std::string& path, std::string_view bytes) {
  try {
    files::replaceDurably(path, bytes, 0600);
  } catch (const Failure& failure) {
    throw OAuthError("writing " + quoted(path) + " failed: " + failure.description());
  }
}

void removePrivateFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) syncFolder(std::filesystem::path(path).parent_path().string());
}

}  // namespace postrix::oauth
