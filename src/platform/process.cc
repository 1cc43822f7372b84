#include "platform/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace postrix
