// Files for their owner's eyes only: the OAuth 2.0 secrets file and the
// access token cache.
//
// readPrivateFile refuses a file that any other account may read or write,
// since a secret another account can read is no secret; writePrivateFile
// makes files of mode 0600 and replaces the old one in a single step, so a
// reader (another run, the form) sees the old file or the new one, whole.
#pragma once

#include <string>       // paths, contents
#include <string_view>  // contents, names

namespace postrix::oauth {

// The whole file. what names it in errors ("the OAuth 2.0 secrets file").
// Throws OAuthError when it is missing, cannot be read, or has group or
// other permission bits set (the text then says to chmod 600 it).
std::string readPrivateFile(const std::string& path, std::string_view what);

// Whether the file exists (a missing cache or secrets file is no fault of its mode).
bool privateFileExists(const std::string& path);

// Replaces the file by one holding exactly bytes, mode 0600: written to a
// temporary file beside it, synced, renamed over it, and the folder synced.
// Throws OAuthError, leaving the old file as it was.
void writePrivateFile(const std::string& path, std::string_view bytes);

// Removes the file; harmless when it is not there.
void removePrivateFile(const std::string& path);

}  // namespace postrix::oauth
