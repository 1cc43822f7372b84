// The command line as one text, the form the option parser reads.
//
// The arguments are joined with single blanks. An argument that holds a
// blank or a tab, or is empty, is written in double quotes, so a value such
// as a two-word sender name reaches the parser the way a Windows command
// line would carry it.
#pragma once

#include <string>  // the joined text
#include <vector>  // the arguments

namespace postrix {

std::string joinArguments(const std::vector<std::string>& arguments);

// Whether the arguments ask for the usage text or the version.
bool asksForHelp(const std::vector<std::string>& arguments);
bool asksForVersion(const std::vector<std::string>& arguments);

}  // namespace postrix
