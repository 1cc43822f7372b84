#include "run/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/text.h"

namespace postrix {
namespace {

RunLog::Outcome outcomeOf(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? RunLog::Outcome::kAccessDenied
                                                             : RunLog::Outcome::kFailed;
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string stamped(std::string_view body, Date when) {
  return shortDate(when) + " " + longTime(when) + " [" + std::string(body) + "]";
}

}  // namespace

std::string RunLog::entryText(std::string_view message, Date when) {
  return stamped(escapedControls(message), when);
}

RunLog::Outcome RunLog::append(std::string_view message, Date when) const noexcept {
  try {
    return write(entryText(message, when) + "\r\n");
  } catch (...) {  // out of memory while formatting: the entry is lost, the run goes on
    return Outcome::kFailed;
  }
}

RunLog::Outcome RunLog::append(std::string_view designed, std::string_view value,
                               Date when) const noexcept {
  try {
    return write(stamped(std::string(designed) + escapedControls(value), when) + "\r\n");
  } catch (...) {
    return Outcome::kFailed;
  }
}

RunLog::Outcome RunLog::write(const std::string& line) const noexcept {
  // The log names reports, recipients and servers: not for every account.
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) {
    lastErrno_ = errno;
    return outcomeOf(lastErrno_);
  }
  struct stat before {};
  bool sized = ::fstat(fd, &before) == 0;
  bool ok = writeAll(fd, line);
  if (!ok) {
    lastErrno_ = errno ? errno : ENOSPC;
    // Half a line would run into the next entry.
    if (sized && ::ftruncate(fd, before.st_size) != 0) lastErrno_ = errno;
  }
  bool closed = ::close(fd) == 0;
  if (!ok) return outcomeOf(lastErrno_);
  if (!closed) lastErrno_ = errno;
  return closed ? Outcome::kWritten : Outcome::kFailed;
}

std::string RunLog::lastError() const { return std::strerror(lastErrno_); }

}  // namespace postrix
