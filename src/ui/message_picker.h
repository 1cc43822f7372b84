// The terminal form in which an operator picks saved messages to send.
//
// It starts in a folder (the saved "Failed" messages), lists its
// subfolders and .eml files, and lets the operator move between folders and
// mark one or more files: arrow keys move, Enter opens a folder, Space
// marks a file, Enter on a file (or with files marked) confirms, q or Esc
// cancels.
#pragma once

#include <string>  // paths
#include <vector>  // the choice

namespace postrix {

// The operator's choice: one file as its full path; several as their
// folder followed by their bare names; nothing when cancelled. Without a
// terminal (standard input or output not a terminal, or no TERM) it returns
// nothing and sets reason.
std::vector<std::string> pickMessageFiles(const std::string& startFolder, std::string& reason);

}  // namespace postrix
