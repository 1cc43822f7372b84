// The system's event log: warnings an administrator's monitoring picks up
// even when nobody reads the run log. Here that is syslog, ident "postrix",
// with the process id, which the journal shows beside the unit's run.
#pragma once

#include <string_view>  // message

namespace postrix {

// Writes one warning entry. The same text twice in a row is written once:
// a line that reaches the log both as a run log error and as a warning of
// its own is one event.
void writeEventLogWarning(std::string_view message);
// Writes one error entry, under the same rule.
void writeEventLogError(std::string_view message);

}  // namespace postrix
