// FileDescriptor: an open POSIX file descriptor that is closed on every way
// out of the scope that opened it.
#pragma once

#include <unistd.h>  // close

namespace postrix {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // Negative when the open failed.
  int get() const { return fd_; }
  // Closes now and returns what close returned, so that a failing close (a
  // full disk on some file systems) is seen.
  int release() {
    int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

}  // namespace postrix
