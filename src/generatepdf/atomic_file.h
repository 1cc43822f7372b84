// A file written under a temporary name in the folder of its final path and
// renamed into place by commit() once it is on disk: readers see the old file
// or the whole new one, never a part. Destroyed before commit(), it removes
// the temporary file and leaves the old one as it was.
#pragma once

#include <cstddef>
#include <string>

namespace generatepdf {

class AtomicFile {
 public:
  // Creates the temporary file; throws Failure when the folder does not allow it.
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const char* data, size_t size);
  // Flushes the file to disk and renames it to the final path.
  void commit();

 private:
  [[noreturn]] void fail(const std::string& what) const;

  std::string path_, temp_;
  int fd_ = -1;
};

}  // namespace generatepdf
