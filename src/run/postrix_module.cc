#include "run/postrix_module.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

#include "config/settings.h"
#include "platform/clock.h"
#include "run/dry_run.h"
#include "run/failure_digest.h"
#include "run/module_state.h"
#include "run/run_failures.h"
#include "run/run_lock.h"
#include "util/failure.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// The saved messages of a folder, in name order: every file whose name ends
// in "eml", exactly so (a dot is not required).
std::vector<std::string> savedMessages(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && endsWith(name, "eml")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void resendFailedFolder(Settings& s, Utilities& u, const RunModes& modes) {
  if (!modes.sendEmailMessage) {
    u.Debugger("Resending saved messages is not available in this build of Postrix.");
    return;
  }
  std::string folder = u.programFolder() + "/Failed/";
  for (const auto& name : savedMessages(folder)) modes.sendEmailMessage(s, u, folder + name);
}

int lockStatus(const RunLock& lock) {
  return lock.unusable() ? exit_status::kCannotStart : exit_status::kLockNotHad;
}

// The lock is taken once the operator has chosen: nobody waits for a
// run whose operator is still picking files.
int sendChosenMessages(Settings& s, Utilities& u, const RunModes& modes) {
  if (!modes.sendEmailMessage || !modes.chooseMessageFiles) {
    u.Debugger("Sending chosen saved messages is not available in this build of Postrix.");
    return exit_status::kOk;
  }
  std::vector<std::string> chosen = modes.chooseMessageFiles(s, u);
  RunLock lock;
  if (!chosen.empty() && !lock.take(s, u)) return lockStatus(lock);
  if (chosen.size() == 1) {
    modes.sendEmailMessage(s, u, chosen[0]);
    return exit_status::kOk;
  }
  for (size_t i = 1; i < chosen.size(); ++i)
    modes.sendEmailMessage(s, u, withTrailingBackslash(chosen[0]) + chosen[i]);
  return exit_status::kOk;
}

using Cycle = std::function<void(Settings&, Utilities&)>;

// One cycle, or with multiple send times every interval from the first of
// the run up to the current one, the clock read again before each. A run
// that waited for another runs its own interval only: the half hours that
// began meanwhile have runs of their own, waiting in turn.
void eachCycle(Settings& s, Utilities& u, const Cycle& cycle, bool ownIntervalOnly = false) {
  if (!s.isMultipleSchedules() || s.iscmdLineInterval()) {
    cycle(s, u);
    return;
  }
  const std::int16_t own = s.thisIntervalStartId();
  auto last = [&] { return ownIntervalOnly ? own : Utilities::getIntervalId(u.clock().now()); };
  while (s.thisIntervalStartId() <= last()) {
    u.Debugger("Running Reports for Interval ID " + std::to_string(s.thisIntervalStartId()));
    cycle(s, u);
    s.setIntervalStartId(static_cast<std::int16_t>(s.thisIntervalStartId() + 1));
  }
}

void ordinaryRun(Settings& s, Utilities& u, const RunModes& modes, bool waited) {
  if (!modes.runCycle) {
    u.Debugger("Scheduled sending is not available in this build of Postrix.");
    return;
  }
  eachCycle(s, u, modes.runCycle, waited);
}

// The selection of every cycle, printed; nothing is sent or resent.
void dryRun(Settings& s, Utilities& u) {
  DryRun preview(std::cout);
  if (s.SendFailed() || s.SendMessage())
    std::cout << "-dryrun shows what a sending run selects; no saved message was resent.\n";
  eachCycle(s, u,
            [&](Settings& settings, Utilities& utilities) { preview.cycle(settings, utilities); });
  preview.finish();
}

// A run whose every message failed at the mail server failed as a whole;
// one whose reports failed in part succeeded unless -failstatus says otherwise.
int endStatus(const Settings& s, int status) {
  if (status != exit_status::kOk) return status;
  if (fileAccessError) return exit_status::kCannotStart;
  const RunFailures& failures = runFailures();
  if (failures.mailServerUnusable()) return exit_status::kMailServerUnusable;
  if (s.failStatus() && !failures.failures().empty()) return exit_status::kSomeFailed;
  return status;
}

// The digest goes before the status is taken from the run's failures, and
// adds none of its own.
int endRun(const Settings& s, const Utilities& u, Date started, int status) {
  if (status == exit_status::kOk) sendFailureDigest(s, u, runFailures(), started);
  return endStatus(s, status);
}

int runModes(Settings& s, Utilities& u, std::string_view commandLine, const RunModes& modes) {
  const Date started = u.clock().now();
  // A rejection is an ERROR entry, which standard error shows as well.
  if (s.ParseCmdLineOptions(commandLine))
    return s.commandLineRejected() ? exit_status::kRejectedCommandLine : exit_status::kOk;
  if (fileAccessError)
    // The run goes on, so each report records why it is not sent; the
    // account is told at once, and the status says the run could not work.
    std::cerr << "postrix: The program folder '" << u.programFolder()
              << "' cannot be written by this account: the run log, the saved messages and the "
                 "run lock cannot be kept there, and no report is sent. Set POSTRIX_HOME to a "
                 "folder this account may write.\n";
  if (s.dryrun()) {
    dryRun(s, u);  // sends nothing: no lock to wait for
    return exit_status::kOk;
  }
  if (s.SendMessage() && !s.SendFailed())
    return endRun(s, u, started, sendChosenMessages(s, u, modes));
  RunLock lock;
  if (!lock.take(s, u)) return lockStatus(lock);
  if (s.SendFailed())
    resendFailedFolder(s, u, modes);
  else
    ordinaryRun(s, u, modes, lock.waited());
  return endRun(s, u, started, exit_status::kOk);
}

}  // namespace

int Main(std::string_view commandLine, const RunModes& modes, const Clock& clock,
         const std::string& programFolder) {
  auto settings = std::make_unique<Settings>(clock, programFolder);
  auto utilities = std::make_unique<Utilities>(clock, programFolder);
  utilities->setSettings(*settings);
  settings->setUtilities(*utilities);
  setRunObjects(settings.get(), utilities.get());
  runFailures().clear();
  int status;
  try {
    status = runModes(*settings, *utilities, commandLine, modes);
  } catch (const ProgramEnd& end) {
    status = end.status;
  } catch (const Failure& failure) {
    // No trap of the run caught it: say what stopped the run.
    utilities->Debugger("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
                        ". The run was stopped.");
    status = exit_status::kNoSystemDatabase;
  }
  setRunObjects(nullptr, nullptr);
  settings.reset();
  utilities.reset();
  return status;
}

std::string withTrailingBackslash(std::string_view folder) {
  std::string path(folder);
  if (!endsWith(path, "/")) path += "/";
  return path;
}

std::string firstNonEmpty(const Variant& first, const Variant& second) {
  if (!first.isNull() && first.toText() != "") return first.toText();
  return second.toText();
}

}  // namespace postrix
