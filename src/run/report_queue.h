// ReportQueue: the favourites of one cycle, in the order they were added.
//
// Selection adds favourites; the cycle then sends them front to back. The
// queue shares each favourite (adding does not copy it), never sorts,
// removes or de-duplicates: the same favourite added twice is sent twice.
// Its slot array starts with room for 101 and doubles when full.
#pragma once

#include <cstdint>  // indexes
#include <memory>   // shared favourites
#include <vector>   // slots

#include "favorites/user_favorite.h"

namespace postrix {

class ReportQueue {
 public:
  ReportQueue();

  std::int32_t numReports() const { return count_; }
  // The favourite at index, or null for an index outside 0 to numReports() - 1.
  std::shared_ptr<UserFavorite> getReport(std::int32_t index) const;
  void addReport(const std::shared_ptr<UserFavorite>& favorite);
  // The highest slot index; 100 at the start, doubled by each growth.
  std::int32_t capacity() const { return capacity_; }

 private:
  void grow();

  std::int32_t count_ = 0;
  std::int32_t capacity_ = 100;
  std::vector<std::shared_ptr<UserFavorite>> slots_;
};

}  // namespace postrix
