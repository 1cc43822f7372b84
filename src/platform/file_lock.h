// An exclusive lock on a file, held by this process until it is released or
// the process ends. The kernel drops it with the process, however it ends,
// so a killed holder never leaves a stale lock behind.
#pragma once

#include <string>  // path, holder text

namespace postrix {

class FileLock {
 public:
  // Opens (creating, mode 0600) the lock file; the lock is not taken yet.
  // Throws a Failure when the file cannot be opened.
  explicit FileLock(std::string path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock when nobody holds it; false at once when another does.
  bool tryLock();
  // Replaces the file's text by holder (who holds the lock, for whoever waits).
  void describeHolder(const std::string& holder);
  // The text the holder wrote, at most a few hundred bytes.
  std::string holder() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace postrix
