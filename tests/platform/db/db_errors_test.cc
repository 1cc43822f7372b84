#include "platform/db/db_errors.h"

#include <gtest/gtest.h>

namespace postrix::db {
namespace {

struct OdbcCase {
  const char* state;
  const char* message;
  long want;
};

// SQL Server's and the driver manager's diagnostics cannot be produced here;
// these are their texts as the drivers give them.
TEST(DbErrorsTest, OdbcStateDecidesThenMessageText) {
  const OdbcCase cases[] = {
      {"42S02", "[FreeTDS][SQL Server]Invalid object name 'x'.", err::kTableNotFound},
      {"S0002", "", err::kTableNotFound},
      {"42S22", "[FreeTDS][SQL Server]Invalid column name 'y'.", err::kUnknownColumn},
      {"42000", "[FreeTDS][SQL Server]Incorrect syntax near 'FORM'.", err::kSyntaxError},
      {"37000", "", err::kSyntaxError},
      {"IM002", "[unixODBC][Driver Manager]Data source name not found", err::kCannotOpen},
      {"28000", "Login failed for user 'sa'.", err::kCannotOpen},
      {"HY000", "[SQLite]no such table: x (1)", err::kTableNotFound},
      {"HY000", "[SQLite]no such column: y (1)", err::kUnknownColumn},
      {"HY000", "[SQLite]near \"SELEC\": syntax error (1)", err::kSyntaxError},
      {"HY000", "Invalid object name 'x'.", err::kTableNotFound},
      {"HY000", "[SQLite]UNIQUE constraint failed: t.id (19)", err::kCannotOpen},
      {"", "", err::kCannotOpen},
  };
  for (const OdbcCase& c : cases) {
    EXPECT_EQ(classifyOdbcDiagnostic(c.state, c.message), c.want)
        << "state " << c.state << ": " << c.message;
  }
}

TEST(DbErrorsTest, EngineMessagesOfEverySyntaxKind) {
  for (const char* message :
       {"incomplete input", "unrecognized token: \"#\"", "no such function: Mid",
        "wrong number of arguments to function qx_left()", "near \"(\": syntax error"}) {
    EXPECT_EQ(classifyEngineMessage(message), err::kSyntaxError) << message;
  }
  EXPECT_EQ(engineFailure("attempt to write a readonly database").number(), err::kCannotOpen);
  EXPECT_EQ(engineFailure("no such table: t").description(), "no such table: t");
}

}  // namespace
}  // namespace postrix::db
