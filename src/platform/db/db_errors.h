// Sorting database errors into the failure numbers the system decides on.
//
// Callers of the db layer tell a missing table from a syntax error by
// number alone (see connection.h), yet SQLite reports every such fault with
// one result code and ODBC drivers often with the catch-all SQLSTATE HY000.
// So the number is chosen from the SQLSTATE when it says enough and from the
// message text otherwise. Pure functions; safe on any thread.
#pragma once

#include <string_view>  // messages and states

#include "util/failure.h"  // Failure, err:: numbers

namespace postrix::db {

// The failure number for an embedded engine error message.
long classifyEngineMessage(std::string_view message);

// The failure number for an ODBC diagnostic: the SQLSTATE first, then the
// message text when the state says no more than "failed" (HY000 and the like).
long classifyOdbcDiagnostic(std::string_view sqlState, std::string_view message);

// A Failure for an embedded engine error, carrying the engine's message.
Failure engineFailure(std::string_view message);

}  // namespace postrix::db
