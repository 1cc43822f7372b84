// The file operations of the send pipeline and the output folder.
//
// Failures carry the numbers the system decides on: 75 (Path/File access
// error) when the account may not write there, which stops sending for the
// rest of the run; 76 (Path not found) when a folder is missing; 57 (Device
// I/O error) for anything else, such as a full disk.
#pragma once

#include <string>        // paths
#include <string_view>   // contents
#include <system_error>  // error codes

#include "util/failure.h"

namespace postrix::files {

// The failure that stands for a file-system error.
Failure failureFor(const std::error_code& ec);

bool fileExists(const std::string& path);
// Creates the folder and every missing folder above it.
void createFolders(const std::string& folder);
// Replaces the file by one holding exactly bytes.
void writeFile(const std::string& path, std::string_view bytes);
// Replaces the file by one holding exactly bytes, created with mode (never
// open to more than that, not even for a moment): written to a temporary
// file beside it, synced, renamed over it, and the folder synced, so a
// reader sees the old file or the new one, whole. The old file stays as it
// was when this fails.
void replaceDurably(const std::string& path, std::string_view bytes, unsigned mode);
// Removes the file when it is there.
void deleteFile(const std::string& path);
// Adds line and a line break at the end of the file (created when missing)
// and flushes it to disk before returning, so a crash cannot lose it.
void appendDurably(const std::string& path, std::string_view line);
// Moves the file to its new path in one step (same file system) and flushes
// both folders, so that after a crash it is in one of them, never neither.
void moveDurably(const std::string& from, const std::string& to);
// The SHA-256 of the file's bytes, in hexadecimal: the same text for the
// same content. Throws when the file cannot be read.
std::string fingerprint(const std::string& path);

}  // namespace postrix::files
