#include "platform/file_system.h"

#include <Poco/SHA2Engine.h>  // fingerprints
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/file_descriptor.h"

namespace postrix::files {
namespace {

Failure lastError() { return failureFor(std::error_code(errno, std::generic_category())); }

void writeAll(const FileDescriptor& fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw lastError();
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

Failure failureFor(const std::error_code& ec) {
  if (ec == std::errc::permission_denied || ec == std::errc::read_only_file_system ||
      ec == std::errc::operation_not_permitted)
    return Failure::pathFileAccess();
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
    return {76, "Path not found"};
  return {57, "Device I/O error (" + ec.message() + ")"};
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

void createFolders(const std::string& folder) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw failureFor(ec);
}

void writeFile(const std::string& path, std::string_view bytes) {
  deleteFile(path);
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) throw lastError();
  writeAll(fd, bytes);
  if (fd.release() != 0) throw lastError();
}

void deleteFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return;
  if (!std::filesystem::remove(path, ec) && ec) throw failureFor(ec);
}

void appendDurably(const std::string& path, std::string_view line) {
  bool created = !std::filesystem::exists(path);
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  if (fd.get() < 0) throw lastError();
  writeAll(fd, std::string(line) + "\n");
  if (::fsync(fd.get()) != 0) throw lastError();
  if (fd.release() != 0) throw lastError();
  if (!created) return;
  // A new file's name lives in its folder, which must reach the disk too.
  std::string folder = std::filesystem::path(path).parent_path().string();
  FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

namespace {
void syncFolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}
}  // namespace

void replaceDurably(const std::string& path, std::string_view bytes, unsigned mode) {
  std::string temporary = path + ".tmp" + std::to_string(::getpid());
  // O_EXCL: a file of that name was left by a process that died while
  // writing, and may have another mode; it is replaced.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int created = ::open(temporary.c_str(), flags, mode);
  if (created < 0 && errno == EEXIST && ::unlink(temporary.c_str()) == 0)
    created = ::open(temporary.c_str(), flags, mode);
  FileDescriptor fd(created);
  if (fd.get() < 0) throw lastError();
  try {
    writeAll(fd, bytes);
    // The umask may have taken bits the caller asked for.
    if (::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) throw lastError();
    if (fd.release() != 0) throw lastError();
    if (::rename(temporary.c_str(), path.c_str()) != 0) throw lastError();
  } catch (const Failure&) {
    ::unlink(temporary.c_str());
    throw;
  }
  syncFolderOf(path);
}

void moveDurably(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) throw lastError();
  syncFolderOf(to);
  syncFolderOf(from);
}

std::string fingerprint(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw failureFor(std::error_code(errno, std::generic_category()));
  Poco::SHA2Engine sha(Poco::SHA2Engine::SHA_256);
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
    sha.update(buffer, static_cast<unsigned>(in.gcount()));
  if (in.bad()) throw Failure(57, "Device I/O error (cannot read '" + path + "')");
  return Poco::DigestEngine::digestToHex(sha.digest());
}

}  // namespace postrix::files
