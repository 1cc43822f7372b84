// The system's event log: warnings an administrator's monitoring picks up
// even when nobody reads the run log. Here that is syslog, ident "postrix".
#pragma once

#include <string_view>  // message

namespace postrix {

// Writes one warning entry.
void writeEventLogWarning(std::string_view message);

}  // namespace postrix
