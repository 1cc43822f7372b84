// Test support: a run's Settings and Utilities wired together over a fresh
// installation folder with its own embedded system database, and a clock
// the test sets.
//
// Layout: HOME/postrix is the program folder (postrix.log lands there) and
// HOME/qx_data/system33.mdb the system database, so "-dsn relativemdb"
// finds it exactly as an installation would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/clock.h"
#include "support/temp_database.h"
#include "util/utilities.h"

namespace postrix::test {

class FakeClock : public Clock {
 public:
  explicit FakeClock(Date now) : now_(now) {}
  Date now() const override { return now_; }
  void set(Date now) { now_ = now; }
  void advanceSeconds(int seconds) { now_ = Date(now_.serial() + seconds / 86400.0); }

 private:
  Date now_;
};

class RunFixture : public ::testing::Test {
 protected:
  // 5 December 2026, 17:06:37.
  static Date defaultNow() { return Date::fromParts(2026, 12, 5, 17, 6, 37); }

  RunFixture();

  const std::string& programFolder() const { return programFolder_; }
  const std::string& databasePath() const { return databasePath_; }
  // Runs SQL straight on the system database file.
  void sql(const std::string& statements) const { runSqlite(databasePath_, statements); }
  // Parses "-dsn relativemdb " + args. Returns the stop flag; a ProgramEnd
  // thrown by the parser is stored in endStatus.
  bool parse(const std::string& args);
  // The messages of the run log's entries, in order ("" entries included).
  std::vector<std::string> logMessages() const;
  std::string logText() const;
  bool logHas(const std::string& message) const;
  // Makes fresh Settings and Utilities (for a second run in one test).
  void newRun();

  FakeClock clock{defaultNow()};
  TempDir home;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<Utilities> utilities;
  int endStatus = -1;

 private:
  std::string programFolder_;
  std::string databasePath_;
};

}  // namespace postrix::test
