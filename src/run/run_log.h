// RunLog: appends entries to the plain-text run log.
//
// Each entry is one line "M/D/YYYY h:mm:ss AM [message]" ending in CR LF.
// Messages carry texts from outside (report titles, server replies), so
// control characters in them are written escaped: CR as \r, LF as \n, NUL
// as \0, any other below 0x20 as \xHH. A text that cannot forge an entry
// that way is the only kind that may hold a break of its own: the designed
// part of a two-part entry, written as it is before its escaped value.
// The file is opened, written and closed for every entry, so it is complete
// after each one and other programs may read it during a run. It is only
// ever appended to. Text is otherwise written as UTF-8, unchanged.
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

  // Appends one entry stamped with `when`, whole or not at all: what a
  // failed write (a full disk) left of it is cut off again. Never throws: a
  // failure loses the entry and is only reported through the result
  // (kAccessDenied when the account may not write the file or its folder).
  Outcome append(std::string_view message, Date when) const noexcept;
  // The same for a designed text, kept as written (line breaks included),
  // followed by a value that is escaped.
  Outcome append(std::string_view designed, std::string_view value, Date when) const noexcept;

  // The entry's text without the line end; the message escaped.
  static std::string entryText(std::string_view message, Date when);

  const std::string& path() const { return path_; }
  // Why the last entry was not written (the system's error text).
  std::string lastError() const;

 private:
  Outcome write(const std::string& line) const noexcept;

  std::string path_;
  mutable int lastErrno_ = 0;
};

}  // namespace postrix
