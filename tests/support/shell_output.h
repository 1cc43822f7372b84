// What other programs print, for tests that read files back with real readers.
#pragma once

#include <functional>
#include <string>

namespace postrix::test {

// What the shell command prints on its standard output. With mustSucceed
// the test fails (and the output so far is returned) when it does not end
// with status 0.
std::string outputOf(const std::string& command, bool mustSucceed = true);
// Runs the shell command; its exit status, or -1 when it did not exit.
int shell(const std::string& command);
// Quotes text for /bin/sh; the texts here never hold a quote.
inline std::string shellWord(const std::string& text) { return "'" + text + "'"; }
// Polls condition for up to five seconds: other programs move at their own pace.
bool eventually(const std::function<bool()>& condition);

}  // namespace postrix::test
