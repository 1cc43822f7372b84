// A headless Chromium of its own, with a fresh profile folder, listening for
// DevTools on a port it chose itself. The destructor ends the browser and
// every helper process it started, reaps them and removes the profile, so a
// conversion leaves no process and no folder behind however it ended.
#pragma once

#include <sys/types.h>

#include <string>

#include "deadline.h"

namespace generatepdf {

class ChromiumProcess {
 public:
  // Starts $POSTRIX_CHROMIUM, else chromium from PATH, with its profile under
  // $TMPDIR (else /tmp), and waits until it listens: at most 30 s and within
  // the deadline. Throws Failure saying what went wrong.
  explicit ChromiumProcess(const Deadline& deadline);
  ~ChromiumProcess();
  ChromiumProcess(const ChromiumProcess&) = delete;
  ChromiumProcess& operator=(const ChromiumProcess&) = delete;

  int port() const { return port_; }

 private:
  void start(const std::string& program);
  int waitForPort(const Deadline& deadline);
  bool browserEnded();
  std::string lastLogLine() const;
  void stop();

  std::string profile_;
  pid_t pid_ = -1;
  int exitStatus_ = 0;
  int port_ = 0;
};

}  // namespace generatepdf
