// A test server run as a child process: it writes the port it listens on
// into a file, and is stopped with SIGTERM when its owner goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace postrix::test {

// Starts argv[0] with its arguments; quiet sends its output to /dev/null.
// Throws std::runtime_error when it cannot be started.
pid_t spawnProcess(std::vector<std::string> argv, bool quiet);

class PeerProcess {
 public:
  // Starts the server and waits up to 10 s for a port in portFile; throws
  // std::runtime_error, naming what, when it ends or does not listen by then.
  PeerProcess(std::vector<std::string> argv, const std::string& portFile, const std::string& what);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  int port() const { return port_; }

 private:
  void stop();

  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace postrix::test
