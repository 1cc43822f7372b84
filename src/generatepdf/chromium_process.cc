#include "chromium_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <thread>
#include <vector>

namespace generatepdf {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string findChromium() {
  const char* chosen = std::getenv("POSTRIX_CHROMIUM");
  std::string name = chosen && *chosen ? chosen : "chromium";
  if (name.find('/') != std::string::npos) {
    if (access(name.c_str(), X_OK) == 0) return name;
    throw Failure("Chromium not found: " + name + ": " + std::strerror(errno));
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = std::min(dirs.find(':', start), dirs.size());
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  throw Failure("Chromium not found: no " + name + " on PATH (set POSTRIX_CHROMIUM)");
}

std::string makeProfileFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/generatepdf-profile-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    throw Failure("could not create a profile folder " + pattern + ": " + std::strerror(errno));
  }
  return pattern;
}

// Ours with TMPDIR in the profile: Chromium leaves folders in its temp
// folder when it ends, which go with the profile then.
std::vector<std::string> environmentWithTemp(const std::string& temp) {
  if (mkdir(temp.c_str(), 0700) != 0) {
    throw Failure("could not create " + temp + ": " + std::strerror(errno));
  }
  std::vector<std::string> env = {"TMPDIR=" + temp};
  for (char** entry = environ; *entry; ++entry) {
    if (!std::string_view(*entry).starts_with("TMPDIR=")) env.push_back(*entry);
  }
  return env;
}

// The children of this process: with the subreaper flag set, the helpers of a
// browser that is gone are among them.
std::vector<pid_t> ownChildren() {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream file(task.path() / "children");
    for (pid_t pid; file >> pid;) out.push_back(pid);
  }
  return out;
}

// Waits a little for the helpers to follow the browser out, then kills those
// that do not; returns once none is left to reap, or after a few seconds.
void endOrphans() {
  auto politeUntil = Clock::now() + 1s, giveUpAt = Clock::now() + 4s;
  while (Clock::now() < giveUpAt) {
    pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid > 0 || (pid < 0 && errno == EINTR)) continue;
    if (pid < 0) return;  // ECHILD: none left
    if (Clock::now() >= politeUntil) {
      for (pid_t child : ownChildren()) kill(child, SIGKILL);
    }
    std::this_thread::sleep_for(10ms);
  }
}

bool reapWithin(pid_t pid, std::chrono::milliseconds wait) {
  for (auto until = Clock::now() + wait;; std::this_thread::sleep_for(10ms)) {
    pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (Clock::now() >= until) return false;
  }
}

const char* const kFlags[] = {
    "--headless",           "--disable-gpu",     "--no-first-run", "--no-default-browser-check",
    "--disable-extensions", "--hide-scrollbars", "--mute-audio",   "--remote-debugging-port=0"};

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

// In the child: only calls that are safe between fork and exec. Tells the
// parent through reportFd why exec failed; closed on exec, it says nothing.
[[noreturn]] void runChromium(const std::vector<char*>& argv, const std::vector<char*>& envp,
                              const std::string& log, pid_t parent, int reportFd) {
  // No setpgid: staying in our process group lets the caller's group kill
  // reach Chromium even when we get no chance to end it ourselves.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  signal(SIGPIPE, SIG_DFL);
  int in = open("/dev/null", O_RDONLY), out = open(log.c_str(), O_WRONLY | O_CREAT, 0600);
  if (in >= 0) dup2(in, 0);
  if (out >= 0) dup2(out, 1), dup2(out, 2);
  if (in > 2) close(in);
  if (out > 2) close(out);
  execve(argv[0], argv.data(), envp.data());
  int error = errno;
  (void)!write(reportFd, &error, sizeof error);
  _exit(127);
}

// The errno of the child's failed exec; 0 once the exec succeeded.
int execError(int reportFd) {
  int error = 0;
  ssize_t got;
  do got = read(reportFd, &error, sizeof error);
  while (got < 0 && errno == EINTR);
  close(reportFd);
  return got == sizeof error ? error : 0;
}

}  // namespace

ChromiumProcess::ChromiumProcess(const Deadline& deadline) {
  std::string program = findChromium();
  profile_ = makeProfileFolder();
  try {
    start(program);
    port_ = waitForPort(deadline);
  } catch (...) {
    stop();
    throw;
  }
}

ChromiumProcess::~ChromiumProcess() { stop(); }

void ChromiumProcess::start(const std::string& program) {
  std::vector<std::string> args = {program};
  args.insert(args.end(), std::begin(kFlags), std::end(kFlags));
  args.push_back("--user-data-dir=" + profile_);
  // Chromium refuses to run as root with its sandbox on.
  if (geteuid() == 0) args.push_back("--no-sandbox");
  args.push_back("about:blank");
  std::vector<std::string> env = environmentWithTemp(profile_ + "/tmp");
  std::vector<char*> argv = pointersTo(args), envp = pointersTo(env);
  std::string log = profile_ + "/chromium.log";

  // Orphaned helpers of the browser come to us, so stop() can reap them all.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw Failure("could not start Chromium: no pipe");
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw Failure(std::string("could not start Chromium: ") + std::strerror(errno));
  if (pid_ == 0) runChromium(argv, envp, log, parent, report[1]);
  close(report[1]);
  int error = execError(report[0]);
  if (error) throw Failure("could not start Chromium " + program + ": " + std::strerror(error));
}

int ChromiumProcess::waitForPort(const Deadline& deadline) {
  const std::string portFile = profile_ + "/DevToolsActivePort";
  for (auto giveUpAt = Clock::now() + 30s;; std::this_thread::sleep_for(20ms)) {
    std::ifstream file(portFile);
    std::string line;
    // Only a line with its newline is whole: Chromium may be mid-write.
    if (std::getline(file, line) && !file.eof()) {
      int port = std::atoi(line.c_str());
      if (port > 0 && port < 65536) return port;
    }
    if (browserEnded()) {
      throw Failure("Chromium ended (status " + std::to_string(exitStatus_) +
                    ") before it listened: " + lastLogLine());
    }
    if (Clock::now() >= giveUpAt) throw Failure("Chromium did not listen within 30 s");
    deadline.check("waiting for Chromium to start");
  }
}

bool ChromiumProcess::browserEnded() {
  int status = 0;
  if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return pid_ <= 0;
  exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return true;
}

std::string ChromiumProcess::lastLogLine() const {
  std::ifstream log(profile_ + "/chromium.log");
  std::string last;
  for (std::string line; std::getline(log, line);) {
    if (!line.empty()) last = line;
  }
  return last.empty() ? "it said nothing" : last;
}

void ChromiumProcess::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!reapWithin(pid_, 1000ms)) {
      kill(pid_, SIGKILL);
      reapWithin(pid_, 2000ms);
    }
    pid_ = -1;
  }
  endOrphans();
  std::error_code ignored;
  if (!profile_.empty()) std::filesystem::remove_all(profile_, ignored);
}

}  // namespace generatepdf
