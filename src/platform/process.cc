#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace postrix {
namespace {

// Runs in the grandchild: never returns.
[[noreturn]] void execDetached(const std::string& program, const std::vector<std::string>& args) {
  int devNull = open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
  }
  bool viaShell = access(program.c_str(), X_OK) != 0;
  std::vector<char*> argv;
  if (viaShell) argv.push_back(const_cast<char*>("/bin/sh"));
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args,
                   std::string& error) {
  if (access(program.c_str(), R_OK) != 0) {
    error = "'" + program + "': " + std::strerror(errno);
    return false;
  }
  // Fork twice: the middle process ends at once and is reaped here, so the
  // program is adopted by init and nobody has to wait for it.
  pid_t middle = fork();
  if (middle < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (middle == 0) {
    setsid();
    pid_t program_pid = fork();
    if (program_pid == 0) execDetached(program, args);
    _exit(program_pid < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "'" + program + "' could not be started";
    return false;
  }
  return true;
}

namespace {

using Clock = std::chrono::steady_clock;

// Runs in the child: never returns. An exec that fails writes its errno
// into the pipe, which closes by itself when the exec succeeds.
[[noreturn]] void execInGroup(const std::string& program, const std::vector<std::string>& args,
                              int errorPipe, int stderrPipe) {
  setpgid(0, 0);
  int devNull = open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(stderrPipe >= 0 ? stderrPipe : devNull, STDERR_FILENO);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  int code = errno;
  ssize_t ignored = write(errorPipe, &code, sizeof code);
  (void)ignored;
  _exit(127);
}

// The end of what the program writes to its standard error. It is read
// while the program runs, so that a talkative one never blocks on a full pipe.
class ErrorTail {
 public:
  static constexpr size_t kKept = 2048;

  explicit ErrorTail(int fd) : fd_(fd) {
    if (fd_ >= 0) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  ~ErrorTail() {
    if (fd_ >= 0) close(fd_);
  }
  ErrorTail(const ErrorTail&) = delete;
  ErrorTail& operator=(const ErrorTail&) = delete;

  // Reads what is there, waiting up to ms for something to arrive.
  void drain(int ms) {
    if (fd_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, ms) <= 0) return;
    char block[4096];
    ssize_t n;
    while ((n = read(fd_, block, sizeof block)) > 0) {
      text_.append(block, static_cast<size_t>(n));
      if (text_.size() > 2 * kKept) text_.erase(0, text_.size() - kKept);
    }
    if (n == 0) {  // every writer is gone
      close(fd_);
      fd_ = -1;
    }
  }
  std::string text() const {
    return text_.size() > kKept ? text_.substr(text_.size() - kKept) : text_;
  }

 private:
  int fd_;
  std::string text_;
};

// Waits for pid until deadline (if limited); true when it ended, with its status.
bool waitUntil(pid_t pid, Clock::time_point deadline, bool limited, int& status,
               ErrorTail& errors) {
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      errors.drain(0);
      return true;
    }
    if (limited && Clock::now() >= deadline) return false;
    errors.drain(20);
  }
}

}  // namespace

RunOutcome runWithTimeLimit(const std::string& program, const std::vector<std::string>& args,
                            double limitSeconds) {
  RunOutcome outcome;
  int pipeEnds[2], errorEnds[2] = {-1, -1};
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    outcome.error = std::string("pipe: ") + std::strerror(errno);
    return outcome;
  }
  if (pipe2(errorEnds, O_CLOEXEC) != 0) errorEnds[0] = errorEnds[1] = -1;  // output dropped
  pid_t pid = fork();
  if (pid == 0) execInGroup(program, args, pipeEnds[1], errorEnds[1]);
  close(pipeEnds[1]);
  if (errorEnds[1] >= 0) close(errorEnds[1]);
  ErrorTail errors(errorEnds[0]);
  if (pid < 0) {
    close(pipeEnds[0]);
    outcome.error = std::string("fork: ") + std::strerror(errno);
    return outcome;
  }
  setpgid(pid, pid);  // also here: the child may not have run yet
  int code = 0;
  ssize_t n = read(pipeEnds[0], &code, sizeof code);
  close(pipeEnds[0]);
  int status = 0;
  if (n == static_cast<ssize_t>(sizeof code)) {
    waitpid(pid, &status, 0);
    outcome.error = "'" + program + "': " + std::strerror(code);
    return outcome;
  }
  outcome.started = true;
  bool limited = limitSeconds > 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(limitSeconds * 1000));
  if (!waitUntil(pid, deadline, limited, status, errors)) {
    outcome.timedOut = true;
    kill(-pid, SIGTERM);
    if (!waitUntil(pid, Clock::now() + std::chrono::seconds(1), true, status, errors)) {
      kill(-pid, SIGKILL);
      waitUntil(pid, deadline, false, status, errors);
    }
    kill(-pid, SIGKILL);  // what the program started and left behind
    outcome.errorTail = errors.text();
    return outcome;
  }
  outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.errorTail = errors.text();
  return outcome;
}

}  // namespace postrix
