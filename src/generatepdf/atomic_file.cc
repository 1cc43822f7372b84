#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "deadline.h"

namespace generatepdf {

AtomicFile::AtomicFile(const std::string& path) : path_(path), temp_(path + ".part-XXXXXX") {
  // Close-on-exec: Chromium, started later, must not hold the file open.
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) fail("could not create a file beside " + path_);
  // mkostemp makes it private; the PDF gets the mode any new file would.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

void AtomicFile::write(const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd_, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) fail("could not write " + path_);
    data += done;
    size -= static_cast<size_t>(done);
  }
}

void AtomicFile::commit() {
  if (fsync(fd_) != 0) fail("could not write " + path_);
  int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) fail("could not write " + path_);
  if (rename(temp_.c_str(), path_.c_str()) != 0) fail("could not rename the PDF to " + path_);
  temp_.clear();
  // The rename itself is on disk only once the folder is.
  std::string folder = std::filesystem::path(path_).parent_path().string();
  int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) fsync(dir), close(dir);
}

void AtomicFile::fail(const std::string& what) const {
  throw Failure(what + ": " + std::strerror(errno));
}

}  // namespace generatepdf
