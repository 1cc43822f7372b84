// report_fetch_bench: how much memory fetching one large report page takes.
//
// The parent starts the local web application (tests/peers/web_app.py) and
// runs each measurement in a fresh child process (this program again, in
// --child mode), because the peak resident memory (VmHWM) only ever grows
// within a process. The child sets up a run's Settings and Utilities, notes
// its VmHWM, fetches one page through Utilities::getReportBody and notes the
// VmHWM again; the difference is what the fetch cost. The page is checked for
// its exact size, so a fetch that failed cannot pass as a frugal one.
//
//   build/bench/report_fetch_bench [--mb 100] [--runs 3] [--modes length,chunked,gzip]
//
// Modes: length (Content-Length given), chunked (no length known in
// advance), gzip (compressed and chunked: the inflated size is unknown).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/clock.h"
#include "support/temp_database.h"
#include "support/web_app.h"
#include "util/utilities.h"

namespace {

class SystemClock : public postrix::Clock {
 public:
  postrix::Date now() const override { return postrix::Date::fromParts(2026, 12, 7, 8, 0, 0); }
};

long peakResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Prints "bodyBytes baselineKb peakKb".
int runChild(const std::string& url, const std::string& programFolder) {
  SystemClock clock;
  postrix::Settings settings(clock, programFolder);
  postrix::Utilities utilities(clock, programFolder);
  utilities.setSettings(settings);
  settings.setUtilities(utilities);
  utilities.getInetObj(true);  // the HTTP library's own set-up is not the page's
  long baseline = peakResidentKb();
  std::string body = utilities.getReportBody(url, "a=1", false);
  long peak = peakResidentKb();
  std::printf("%zu %ld %ld\n", body.size(), baseline, peak);
  return 0;
}

struct Run {
  size_t bytes = 0;
  long baselineKb = 0, peakKb = 0;
};

bool runOnce(const std::string& url, const std::string& folder, Run& run) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    execl("/proc/self/exe", "report_fetch_bench", "--child", url.c_str(), folder.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::istringstream fields(out);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
         static_cast<bool>(fields >> run.bytes >> run.baselineKb >> run.peakKb);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> parts;
  std::stringstream in(list);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return runChild(argv[2], argv[3]);
  long mb = 100;
  int runs = 3;
  std::string modes = "length,chunked,gzip";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--mb") mb = std::atol(argv[i + 1]);
    if (option == "--runs") runs = std::atoi(argv[i + 1]);
    if (option == "--modes") modes = argv[i + 1];
  }
  postrix::test::TempDir home;
  postrix::test::WebApp web;
  size_t bytes = static_cast<size_t>(mb) * 1024 * 1024;
  bool ok = true;
  std::printf("report page of %ld MB through Utilities::getReportBody, median of %d runs\n", mb,
              runs);
  for (const std::string& mode : split(modes)) {
    std::string url = web.url("/exact?bytes=" + std::to_string(bytes) + "&mode=" + mode);
    std::vector<double> above;
    for (int i = 0; i < runs; ++i) {
      Run run;
      if (!runOnce(url, home.path(), run) || run.bytes != bytes) {
        std::printf("  %-8s run %d failed: %zu bytes received, %zu expected\n", mode.c_str(), i + 1,
                    run.bytes, bytes);
        ok = false;
        break;
      }
      above.push_back((run.peakKb - run.baselineKb) / 1024.0);
    }
    if (above.empty()) continue;
    double peakMb = median(above);
    std::printf("  %-8s peak RSS above baseline %7.1f MB, %.2f times the body\n", mode.c_str(),
                peakMb, peakMb / static_cast<double>(mb));
  }
  return ok ? 0 : 1;
}
