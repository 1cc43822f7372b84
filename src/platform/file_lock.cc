#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/failure.h"

namespace postrix {

FileLock::FileLock(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0)
    throw Failure(err::kPathFileAccess,
                  "Cannot open the lock file '" + path_ + "': " + std::strerror(errno));
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileLock::tryLock() {
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    throw Failure(err::kPathFileAccess,
                  "Cannot lock '" + path_ + "': " + std::string(std::strerror(errno)));
  }
  return true;
}

void FileLock::describeHolder(const std::string& holder) {
  // Only informative: a failed write leaves the lock itself intact.
  if (::ftruncate(fd_, 0) == 0) {
    ssize_t written = ::pwrite(fd_, holder.data(), holder.size(), 0);
    (void)written;
  }
}

std::string FileLock::holder() const {
  char buffer[512];
  ssize_t n = ::pread(fd_, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace postrix
