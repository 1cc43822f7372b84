// DryRun: what a run would send, shown before anything is sent.
//
// With -dryrun the run selects exactly as its options say, cycle by cycle,
// and prints each queued favourite on standard output instead of sending
// it; nothing is written to the database (an immediate report is not marked
// sent). With -id or -dashboardid, each named favourite or dashboard that is
// not queued gets a line saying why.
#pragma once

#include <ostream>  // the preview's output

namespace postrix {

class ReportQueue;
class Settings;
class Utilities;

class DryRun {
 public:
  explicit DryRun(std::ostream& out) : out_(out) {}

  // One cycle's selection, printed.
  void cycle(Settings& settings, Utilities& utilities);
  // The closing line with the number of favourites the run would send.
  void finish();

 private:
  void printQueue(const Settings& settings, const ReportQueue& queue);
  void explainFavorites(Settings& settings, Utilities& utilities, const ReportQueue& queue);
  void explainDashboards(Settings& settings, Utilities& utilities, const ReportQueue& queue);

  std::ostream& out_;
  long total_ = 0;
};

}  // namespace postrix
