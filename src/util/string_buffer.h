// StringBuffer: a growable text buffer for rebuilding long texts piece by
// piece without reallocating for every append.
//
// It starts with room for 65536 bytes and grows in whole blocks of 65536:
// an append that does not fit grows it to the smallest size that holds the
// text. reserve grows it the same way ahead of time, so a caller that knows
// its result size copies the text once. One thread uses a buffer.
#pragma once

#include <cstddef>      // sizes
#include <string>       // results
#include <string_view>  // appended text

namespace postrix {

class StringBuffer {
 public:
  static constexpr std::size_t kBlock = 65536;

  StringBuffer();
  StringBuffer(const StringBuffer&) = delete;
  StringBuffer& operator=(const StringBuffer&) = delete;

  void append(std::string_view text);
  void append(char c);
  // Grows, in whole blocks, until size bytes fit.
  void reserve(std::size_t size);
  // The text held.
  std::string toString() const;
  // The text held, moved out; the buffer is then cleared.
  std::string takeString();
  // Back to empty, with a fresh buffer of one block.
  void clear();

  std::size_t length() const { return length_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::string buffer_;
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
};

}  // namespace postrix
