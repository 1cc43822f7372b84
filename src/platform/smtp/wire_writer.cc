#include "platform/smtp/wire_writer.h"

#include <algorithm>
#include <utility>

#include "util/text.h"

namespace postrix::smtp {

WireWriter::WireWriter(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {
  if (sink_) buffer_.reserve(kWireChunk);
}

void WireWriter::add(std::string_view piece) {
  if (piece.empty()) return;
  size_t i = 0;
  if (afterCr_ && piece[0] == '\n') i = 1;
  afterCr_ = false;
  while (i < piece.size()) {
    if (lineStart_ && piece[i] == '.') put(".");
    // The rest of the line is copied at once.
    size_t end = findLineEnd(piece, i);
    put(piece.substr(i, end - i));
    if (end == piece.size()) {
      lineStart_ = false;
      return;
    }
    put("\r\n");
    lineStart_ = true;
    bool pair = piece[end] == '\r' && end + 1 < piece.size() && piece[end + 1] == '\n';
    afterCr_ = piece[end] == '\r' && end + 1 == piece.size();
    i = end + (pair ? 2 : 1);
  }
}

size_t WireWriter::finish() {
  if (!lineStart_) put("\r\n");
  put(".\r\n");
  if (sink_ && !buffer_.empty()) sink_(buffer_);
  buffer_.clear();
  return total_;
}

void WireWriter::put(std::string_view bytes) {
  total_ += bytes.size();
  if (!sink_) return;
  // A line may be longer than a chunk (an imported message keeps its own lines).
  while (!bytes.empty()) {
    size_t taken = std::min(bytes.size(), kWireChunk - buffer_.size());
    buffer_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (buffer_.size() >= kWireChunk) {
      sink_(buffer_);
      buffer_.clear();
    }
  }
}

size_t wireSize(const std::vector<std::string_view>& pieces) {
  WireWriter counter;
  for (std::string_view piece : pieces) counter.add(piece);
  return counter.finish();
}

}  // namespace postrix::smtp
