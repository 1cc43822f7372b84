// What other programs print, for tests that read files back with real readers.
#pragma once

#include <string>

namespace postrix::test {

// What the shell command prints on its standard output; the test fails (and
// the output so far is returned) when it does not end with status 0.
std::string outputOf(const std::string& command);

}  // namespace postrix::test
