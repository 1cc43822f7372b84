// Starting other programs.
#pragma once

#include <string>  // program, arguments, errors
#include <vector>  // arguments

namespace postrix {

// Starts program with args in a session of its own and does not wait for it:
// it outlives the caller, and no zombie is left behind. A program file that
// is not executable is run by /bin/sh. Returns false, with the reason in
// error, when it cannot be started.
bool startDetached(const std::string& program, const std::vector<std::string>& args,
                   std::string& error);

}  // namespace postrix
