// The program's folder: where the run log, saved messages, exported reports
// and helper scripts live. It is the folder of the executable unless the
// environment variable POSTRIX_HOME names another (installed layouts, tests)
// or the build named one (CMake POSTRIX_DEFAULT_HOME, for a packaged build).
#pragma once

#include <string>  // the folder path

namespace postrix {

// The folder, without a trailing separator.
std::string programFolder();

}  // namespace postrix
