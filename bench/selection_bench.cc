// selection_bench: how long one cycle's selection takes, and how much memory
// it needs, on a large installation.
//
// The parent builds a system database with many favourites and dashboards in
// a temporary installation folder, then runs the selection several times,
// each time in a fresh child process (this program again, in --child mode)
// that does only what a cycle does before sending: parse the command line
// and call selectReports. A fresh process per run is what a real cycle is,
// and it keeps the cost of building the database out of the memory figure.
//
// The generator decides which rows are due on the run date by construction,
// so it knows how many favourites and dashboards a correct selection queues;
// a run that queues any other number fails the bench, so an empty or wrong
// selection can never pass as a fast one.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/clock.h"
#include "run/select_reports.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Monday 7 December 2026: neither the first nor the last day of its month,
// so "monthly|31" and "monthly|1" are plainly not due and nothing hinges on
// month-end rules.
constexpr int kRunYear = 2026, kRunMonth = 12, kRunDay = 7;
constexpr const char* kRunDate = "2026-12-07";

constexpr double kDueShare = 0.10;
constexpr double kCompanyShare = 0.01;
constexpr double kGoalSeconds = 2.0;
constexpr double kGoalMegabytes = 200.0;

// Schedules in the single-time format. Every "due" one is due on the run date
// (weekday 2 is Monday); every "idle" one is not.
const std::vector<std::string> kDueSchedules = {"daily",
                                                "daily",
                                                "daily",
                                                "weekly|2",
                                                "weekly|2,6",
                                                "weekly|2,4",
                                                "weekly|1,2,3,4,5,6,7",
                                                "weekly|2,3,4,5,6",
                                                "monthly|7"};
const std::vector<std::string> kIdleSchedules = {
    "weekly|3",  "weekly|6",  "weekly|4,6", "weekly|1,7", "weekly|3,5",
    "weekly|5",  "monthly|1", "monthly|15", "monthly|31", "monthly|28",
    "monthly|8", "monthly|6", "monthly|30", "monthly|10", "monthly|20"};
const std::vector<std::string> kFavouriteFormats = {"html", "html", "html", "html", "pdf",
                                                    "pdf",  "csv",  "csv",  "excel"};
const std::vector<std::string> kDashboardFormats = {"html", "html", "pdf"};
const std::vector<std::string> kTitles = {
    "Sales by region", "Open orders",     "Customer's invoices", "Stock levels",
    "Web traffic",     "Payroll summary", "Overdue tickets",     "Margin by product line"};

// splitmix64: fixed seed, so every run of the bench builds the same database.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  const std::string& pick(const std::vector<std::string>& from) {
    return from[below(static_cast<int>(from.size()))];
  }

 private:
  std::uint64_t state_;
};

struct CompanyRow {
  int companyId;
  std::string email;
  int type;
  int reportId;
};

// What a correct selection queues from the generated database.
struct Expected {
  int dueFavourites = 0;
  int dueDashboards = 0;
  // With the CompanyReports table a due row is queued once per company row
  // of its type, and not at all without one.
  int favouriteCopies = 0;
  int dashboardCopies = 0;
  std::vector<CompanyRow> companyRows;
};

struct Options {
  int favourites = 100000;
  int dashboards = 1000;
  int runs = 5;
  bool plain = true;
  bool company = true;
  bool keep = false;
  bool enforceGoals = false;
  std::string schema = POSTRIX_SCHEMA_FILE;
};

// ---------------------------------------------------------------------------
// Database generation

class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
      fail("open " + path);
  }
  ~Sqlite() { sqlite3_close(db_); }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;

  void exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : sqlite3_errmsg(db_);
      sqlite3_free(message);
      throw std::runtime_error("sqlite: " + text);
    }
  }
  std::string text(const std::string& sql) {
    sqlite3_stmt* stmt = prepare(sql);
    std::string value;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    return value;
  }
  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) fail(sql);
    return stmt;
  }
  // Binds values to ?1, ?2, ... in order, runs the statement and resets it.
  template <typename... Values>
  void insert(sqlite3_stmt* stmt, const Values&... values) {
    int index = 0;
    (bind(stmt, ++index, values), ...);
    if (sqlite3_step(stmt) != SQLITE_DONE) fail("insert");
    sqlite3_reset(stmt);
  }

 private:
  void bind(sqlite3_stmt* stmt, int index, int value) { sqlite3_bind_int(stmt, index, value); }
  void bind(sqlite3_stmt* stmt, int index, const std::string& value) {
    sqlite3_bind_text(stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  [[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + sqlite3_errmsg(db_));
  }

  sqlite3* db_ = nullptr;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) throw std::runtime_error("cannot read " + path);
  return text.str();
}

// A schedule and sendreport flag for one row, and whether that row is due:
// a tenth are due; of the rest most are scheduled for another day and some
// are switched off (often on a schedule that would otherwise be due).
struct Plan {
  std::string schedule;
  std::string sendreport;
  bool due;
};

Plan planRow(Random& random) {
  if (random.uniform() < kDueShare) return {random.pick(kDueSchedules), "on", true};
  if (random.uniform() < 0.15) {
    const auto& pool = random.below(2) ? kDueSchedules : kIdleSchedules;
    return {random.pick(pool), "off", false};
  }
  return {random.pick(kIdleSchedules), "on", false};
}

std::string recipients(Random& random) {
  std::string list = "user" + std::to_string(random.below(5000)) + "@example.com";
  for (int extra = random.below(4) == 0 ? 1 + random.below(3) : 0; extra > 0; --extra)
    list += ";manager" + std::to_string(random.below(300)) + "@example.com";
  return list;
}

void addCompanyRows(Random& random, int type, int id, bool due, int& copies,
                    std::vector<CompanyRow>& rows) {
  int count = 1 + random.below(3);
  for (int k = 0; k < count; ++k) {
    int company = 1 + random.below(50);
    rows.push_back({company, "contact@company" + std::to_string(company) + ".example", type, id});
  }
  if (due) copies += count;
}

Expected generateDatabase(const std::string& path, const Options& options) {
  Random random(20261207);
  Expected expected;
  Sqlite db(path);
  db.exec(readFile(options.schema));
  // The row a fresh installation gets (scripts/initdb): single send times,
  // Excel attachments allowed.
  db.exec(
      "INSERT INTO System (db_version, urlorvanta, emailsource, emailproblemreports, smtpserver,"
      " smtpport, char_set, smtpauth, smtpssl, smtpstarttls, smtppass, emailfromname,"
      " emailskipunicode, emailexcel, smtptimeout, smtpuser) VALUES ('3.3.0', 'http://localhost/',"
      " 'postrix@localhost', '', 'localhost', 25, 'UTF-8', 0, 'No', 'No', '', 'Quarvex', 'No',"
      " 'Yes', 30, '')");
  db.exec("BEGIN");

  constexpr int kMappings = 20;
  sqlite3_stmt* mapping = db.prepare(
      "INSERT INTO mappings (mapping_id, useDSN, dsn, database_username, database_password,"
      " database_string) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  for (int m = 1; m <= kMappings; ++m)
    db.insert(mapping, m, std::string(m % 2 ? "Yes" : "No"), "warehouse" + std::to_string(m),
              std::string("reader"), std::string("secret"),
              "Driver={SQL Server};Server=db" + std::to_string(m) + ";Database=sales");
  sqlite3_finalize(mapping);

  sqlite3_stmt* favourite = db.prepare(
      "INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
      " schedule_details, sendreport, extra_desc, report_header, laststatus, emailcount,"
      " last_emailed) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  for (int id = 1; id <= options.favourites; ++id) {
    Plan plan = planRow(random);
    int mappingId = 1 + random.below(kMappings);
    std::string url = "quarvex/report.asp?rid=" + std::to_string(id) +
                      "&mapping=" + std::to_string(mappingId) + "&filter=region%3D" +
                      std::to_string(random.below(12)) + "&sort=2";
    db.insert(favourite, id, mappingId, random.pick(kTitles) + " " + std::to_string(id), url,
              random.pick(kFavouriteFormats), recipients(random), plan.schedule, plan.sendreport,
              std::string(random.below(3) ? "" : "Figures up to yesterday's close."),
              std::string(random.below(4) ? "" : "Confidential"),
              std::string(random.below(10) ? "OK" : "No data"), random.below(400),
              "2026-12-0" + std::to_string(1 + random.below(6)) + " 07:30:00");
    if (plan.due) ++expected.dueFavourites;
    if (random.uniform() < kCompanyShare)
      addCompanyRows(random, 1, id, plan.due, expected.favouriteCopies, expected.companyRows);
  }
  sqlite3_finalize(favourite);

  sqlite3_stmt* dashboard = db.prepare(
      "INSERT INTO Dashboards (dashboard_id, dashboard_title, extra_desc, default_filter, format,"
      " email, report_ids, schedule_details, sendreport) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8,"
      " ?9)");
  for (int id = 1; id <= options.dashboards; ++id) {
    Plan plan = planRow(random);
    // "first:others", the form the web application stores.
    std::string reports = std::to_string(1 + random.below(options.favourites)) + ":";
    for (int k = 1 + random.below(4); k > 0; --k)
      reports += std::to_string(1 + random.below(options.favourites)) + (k > 1 ? "," : "");
    db.insert(dashboard, id, "Dashboard " + std::to_string(id),
              std::string(random.below(2) ? "" : "Weekly overview"),
              std::string(random.below(3) ? "" : "region=North"), random.pick(kDashboardFormats),
              recipients(random), reports, plan.schedule, plan.sendreport);
    if (plan.due) ++expected.dueDashboards;
    if (random.uniform() < 0.10)
      addCompanyRows(random, 2, id, plan.due, expected.dashboardCopies, expected.companyRows);
  }
  sqlite3_finalize(dashboard);
  db.exec("COMMIT");
  return expected;
}

// ---------------------------------------------------------------------------
// Child: one cycle's selection

class FixedClock : public postrix::Clock {
 public:
  postrix::Date now() const override {
    return postrix::Date::fromParts(kRunYear, kRunMonth, kRunDay, 8, 0, 0);
  }
};

// The high-water mark of this process's resident memory since exec, in kB.
long peakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

int runChild(const std::string& programFolder, int resultFd) {
  FixedClock clock;
  auto start = Clock::now();
  postrix::Settings settings(clock, programFolder);
  postrix::Utilities utilities(clock, programFolder);
  utilities.setSettings(settings);
  settings.setUtilities(utilities);
  int favourites = 0, dashboards = 0;
  double setupSeconds = 0, selectSeconds = 0;
  try {
    if (settings.ParseCmdLineOptions(std::string("-dsn relativemdb -date ") + kRunDate)) {
      std::cerr << "selection_bench: the command line was rejected; see the run log\n";
      return 1;
    }
    auto selecting = Clock::now();
    setupSeconds = std::chrono::duration<double>(selecting - start).count();
    auto queue = postrix::selectReports(settings, utilities);
    selectSeconds = std::chrono::duration<double>(Clock::now() - selecting).count();
    for (std::int32_t i = 0; i < queue->numReports(); ++i)
      (queue->getReport(i)->isDashboard() ? dashboards : favourites)++;
  } catch (const postrix::ProgramEnd& end) {
    std::cerr << "selection_bench: the run ended with status " << end.status << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "selection_bench: selection failed: " << e.what() << "\n";
    return 1;
  }
  std::string line = std::to_string(favourites) + " " + std::to_string(dashboards) + " " +
                     std::to_string(setupSeconds) + " " + std::to_string(selectSeconds) + " " +
                     std::to_string(peakResidentKb()) + "\n";
  if (write(resultFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Parent: runs, figures, checks

struct RunResult {
  int favourites = 0, dashboards = 0;
  double setupSeconds = 0, selectSeconds = 0, processSeconds = 0;
  long vmHwmKb = 0, maxRssKb = 0;
};

std::optional<RunResult> runOnce(const std::string& programFolder) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execl("/proc/self/exe", "selection_bench", "--child", programFolder.c_str(), fd.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  RunResult result;
  result.processSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.maxRssKb = usage.ru_maxrss;
  std::istringstream fields(output);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      !(fields >> result.favourites >> result.dashboards >> result.setupSeconds >>
        result.selectSeconds >> result.vmHwmKb))
    return std::nullopt;
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Scenario {
  std::string name;
  std::string description;
  int expectedFavourites;
  int expectedDashboards;
};

// Runs a scenario and prints its figures; false when a run failed or queued
// anything but the expected counts, or (when enforced) a goal was missed.
bool measure(const Scenario& scenario, const std::string& programFolder, const Options& options) {
  std::cout << "\nscenario " << scenario.name << ": " << scenario.description << std::endl;
  std::vector<RunResult> runs;
  std::string log = programFolder + "/postrix.log";
  for (int i = 0; i < options.runs; ++i) {
    // Each cycle of an installation appends to the log; starting each run
    // from an empty one keeps the runs alike.
    fs::remove(log);
    auto run = runOnce(programFolder);
    if (!run) {
      std::cout << "  run " << i + 1 << " failed (see above and " << log << ")\n";
      return false;
    }
    runs.push_back(*run);
  }

  bool ok = true;
  const RunResult& first = runs.front();
  for (const auto& run : runs)
    if (run.favourites != first.favourites || run.dashboards != first.dashboards) ok = false;
  if (!ok) std::cout << "  the runs queued different counts\n";
  bool countsMatch = first.favourites == scenario.expectedFavourites &&
                     first.dashboards == scenario.expectedDashboards;
  ok = ok && countsMatch;

  std::vector<double> select, setup, process;
  long vmHwm = 0, maxRss = 0;
  for (const auto& run : runs) {
    select.push_back(run.selectSeconds);
    setup.push_back(run.setupSeconds);
    process.push_back(run.processSeconds);
    vmHwm = std::max(vmHwm, run.vmHwmKb);
    maxRss = std::max(maxRss, run.maxRssKb);
  }
  auto [minSelect, maxSelect] = std::minmax_element(select.begin(), select.end());
  double selectMedian = median(select);
  double peakMb = vmHwm / 1024.0;
  bool timeMet = selectMedian < kGoalSeconds, memoryMet = peakMb < kGoalMegabytes;

  char line[256];
  std::snprintf(line, sizeof line,
                "  queued: %d favourites (%.2f%% of %d; expected %d), %d dashboards (expected "
                "%d)  %s\n",
                first.favourites, 100.0 * first.favourites / options.favourites, options.favourites,
                scenario.expectedFavourites, first.dashboards, scenario.expectedDashboards,
                countsMatch ? "ok" : "WRONG COUNT");
  std::cout << line;
  std::snprintf(line, sizeof line,
                "  selectReports wall time: median %.3f s (min %.3f, max %.3f, %d runs)  goal < "
                "%.0f s: %s\n",
                selectMedian, *minSelect, *maxSelect, options.runs, kGoalSeconds,
                timeMet ? "met" : "MISSED");
  std::cout << line;
  std::snprintf(line, sizeof line,
                "  setup before it (settings, -dsn, System table): median %.3f s; whole child "
                "process: median %.3f s\n",
                median(setup), median(process));
  std::cout << line;
  std::snprintf(line, sizeof line,
                "  peak resident memory: %.1f MB (VmHWM of the selecting process; wait4 ru_maxrss "
                "%.1f MB)  goal < %.0f MB: %s\n",
                peakMb, maxRss / 1024.0, kGoalMegabytes, memoryMet ? "met" : "MISSED");
  std::cout << line;
  std::error_code ignored;
  std::snprintf(line, sizeof line, "  run log of the last run: %.1f MB\n",
                static_cast<double>(fs::file_size(log, ignored)) / (1024.0 * 1024.0));
  std::cout << line;
  if (options.enforceGoals && !(timeMet && memoryMet)) ok = false;
  return ok;
}

void usage() {
  std::cerr << "usage: selection_bench [--favourites N] [--dashboards N] [--runs N]\n"
               "                       [--scenario plain|company|both] [--schema FILE]\n"
               "                       [--enforce-goals] [--keep]\n";
}

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    auto number = [&](int& target, int minimum) {
      auto text = value();
      if (!text) return false;
      char* end = nullptr;
      long n = std::strtol(text->c_str(), &end, 10);
      if (*end || n < minimum || n > 10000000) return false;
      target = static_cast<int>(n);
      return true;
    };
    bool ok = true;
    if (arg == "--favourites") {
      ok = number(options.favourites, 1);
    } else if (arg == "--dashboards") {
      ok = number(options.dashboards, 1);
    } else if (arg == "--runs") {
      ok = number(options.runs, 1);
    } else if (arg == "--schema") {
      auto text = value();
      ok = text.has_value();
      if (ok) options.schema = *text;
    } else if (arg == "--scenario") {
      auto text = value();
      ok = text && (*text == "plain" || *text == "company" || *text == "both");
      if (ok) {
        options.plain = *text != "company";
        options.company = *text != "plain";
      }
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg == "--enforce-goals") {
      options.enforceGoals = true;
    } else {
      ok = false;
    }
    if (!ok) return std::nullopt;
  }
  return options;
}

int runBench(const Options& options) {
  char pattern[] = "/tmp/selection-bench-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  const std::string home = pattern;
  struct Cleanup {
    const std::string& home;
    bool keep;
    ~Cleanup() {
      std::error_code ignored;
      if (keep)
        std::cout << "kept " << home << "\n";
      else
        fs::remove_all(home, ignored);
    }
  } cleanup{home, options.keep};

  const std::string programFolder = home + "/postrix";
  const std::string database = home + "/qx_data/system33.mdb";
  fs::create_directories(programFolder);
  fs::create_directories(home + "/qx_data");

  auto start = Clock::now();
  Expected expected = generateDatabase(database, options);
  double generateSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (expected.dueFavourites == 0 || expected.dueDashboards == 0) {
    std::cerr << "selection_bench: too few rows for any to be due; use more\n";
    return 2;
  }
  std::printf(
      "selection_bench: %d favourites (%d due, %.2f%%), %d dashboards (%d due), run date %s;\n"
      "database %.1f MB, generated in %.2f s (not measured); %d runs per scenario, each in a "
      "fresh process\n",
      options.favourites, expected.dueFavourites,
      100.0 * expected.dueFavourites / options.favourites, options.dashboards,
      expected.dueDashboards, kRunDate,
      static_cast<double>(fs::file_size(database)) / (1024.0 * 1024.0), generateSeconds,
      options.runs);
  std::fflush(stdout);

  bool ok = true;
  std::string companyTable;
  {
    Sqlite db(database);
    companyTable = readFile(
        (std::filesystem::path(options.schema).parent_path() / "company_reports.sql").string());
  }
  if (options.plain)
    ok = measure({"plain", "no CompanyReports table, so every due row is queued once",
                  expected.dueFavourites, expected.dueDashboards},
                 programFolder, options) &&
         ok;
  if (options.company) {
    {
      Sqlite db(database);
      db.exec(companyTable);
      db.exec("BEGIN");
      sqlite3_stmt* row = db.prepare(
          "INSERT INTO CompanyReports (company_id, email, type, report_id) VALUES (?1, ?2, ?3, "
          "?4)");
      for (const auto& r : expected.companyRows)
        db.insert(row, r.companyId, r.email, r.type, r.reportId);
      sqlite3_finalize(row);
      db.exec("COMMIT");
    }
    ok = measure({"company",
                  "CompanyReports rows (" + std::to_string(expected.companyRows.size()) +
                      ") for 1% of favourites and 10% of dashboards; due rows are queued once "
                      "per company row",
                  expected.favouriteCopies, expected.dashboardCopies},
                 programFolder, options) &&
         ok;
  }
  std::cout << (ok ? "\nselection_bench: ok\n" : "\nselection_bench: FAILED\n");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return runChild(argv[2], std::atoi(argv[3]));
  auto options = parseOptions(argc, argv);
  if (!options) {
    usage();
    return 2;
  }
  try {
    return runBench(*options);
  } catch (const std::exception& e) {
    std::cerr << "selection_bench: " << e.what() << "\n";
    return 1;
  }
}
