#include "run/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

std::string RunLog::entryText(std::string_view message, Date when) {
  std::string entry = shortDate(when) + " " + longTime(when) + " [";
  entry.append(message);
  entry += "]";
  return entry;
}

RunLog::Outcome RunLog::append(std::string_view message, Date when) const noexcept {
  try {
    std::string line = entryText(message, when) + "\r\n";
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return outcomeOf(errno);
    bool ok = writeAll(fd, line);
    int writeError = errno;
    bool closed = ::close(fd) == 0;
    if (!ok) return outcomeOf(writeError);
    return closed ? Outcome::kWritten : Outcome::kFailed;
  } catch (...) {  // out of memory while formatting: the entry is lost, the run goes on
    return Outcome::kFailed;
  }
}

}  // namespace postrix
