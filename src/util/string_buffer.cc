#include "util/string_buffer.h"

namespace postrix {

// The text lives in a std::string whose room is reserved block by block:
// appends then never reallocate, nothing is zero-filled, and takeString
// hands the text over without copying a report-sized body.
StringBuffer::StringBuffer() { clear(); }

void StringBuffer::append(std::string_view text) {
  if (text.empty()) return;
  reserve(length_ + text.size());
  buffer_.append(text);
  length_ += text.size();
}

void StringBuffer::append(char c) {
  if (length_ == capacity_) reserve(length_ + 1);
  buffer_.push_back(c);
  ++length_;
}

void StringBuffer::reserve(std::size_t size) {
  if (size <= capacity_) return;
  std::size_t blocks = (size - capacity_ + kBlock - 1) / kBlock;
  capacity_ += blocks * kBlock;
  buffer_.reserve(capacity_);
}

std::string StringBuffer::toString() const { return buffer_; }

std::string StringBuffer::takeString() {
  std::string text = std::move(buffer_);
  clear();
  return text;
}

void StringBuffer::clear() {
  buffer_ = std::string();
  buffer_.reserve(kBlock);
  capacity_ = kBlock;
  length_ = 0;
}

}  // namespace postrix
