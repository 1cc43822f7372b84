// RunLog: appends entries to the plain-text run log.
//
// Each entry is one line "M/D/YYYY h:mm:ss AM [message]" ending in CR LF
// (a message with line breaks of its own spans several lines). The file is
// opened, written and closed for every entry, so it is complete after each
// one and other programs may read it during a run. It is only ever appended
// to. Text is written as UTF-8, unchanged.
#pragma once

#include <string>       // the path
#include <string_view>  // messages

#include "util/date_time.h"  // entry time

namespace postrix {

class RunLog {
 public:
  // What became of one entry.
  enum class Outcome { kWritten, kAccessDenied, kFailed };

  explicit RunLog(std::string path) : path_(std::move(path)) {}

  // Appends one entry stamped with `when`. Never throws: a failure loses the
  // entry and is only reported through the result (kAccessDenied when the
  // account may not write the file or its folder).
  Outcome append(std::string_view message, Date when) const noexcept;

  // The entry's text without the line end.
  static std::string entryText(std::string_view message, Date when);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace postrix
