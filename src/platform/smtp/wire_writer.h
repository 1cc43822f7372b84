// WireWriter: a message as it goes after DATA, handed to its sink in chunks
// of at most 64 KiB so no second copy of a large message is ever held. Every line
// end becomes CRLF (lone CR and LF included), a dot at the start of a line
// is doubled, the last line is ended, and the final dot follows. The pieces
// given to add are one text: a CR ending one piece and an LF starting the
// next are one line end. Without a sink it only counts what it would write.
// One thread uses a writer.
#pragma once

#include <cstddef>      // sizes
#include <functional>   // the sink
#include <string>       // the chunk buffer
#include <string_view>  // pieces and chunks
#include <vector>       // pieces

namespace postrix::smtp {

inline constexpr size_t kWireChunk = 64 * 1024;

class WireWriter {
 public:
  explicit WireWriter(std::function<void(std::string_view)> sink = {});
  WireWriter(const WireWriter&) = delete;
  WireWriter& operator=(const WireWriter&) = delete;

  void add(std::string_view piece);
  // Ends the message and hands the sink what is left; returns how many bytes
  // went out in all.
  size_t finish();

 private:
  void put(std::string_view bytes);

  std::function<void(std::string_view)> sink_;
  std::string buffer_;
  size_t total_ = 0;
  bool lineStart_ = true, afterCr_ = false;
};

// The size of pieces as a WireWriter writes them, final dot included.
size_t wireSize(const std::vector<std::string_view>& pieces);

}  // namespace postrix::smtp
