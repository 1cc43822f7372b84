#include "run/report_queue.h"

namespace postrix {

// Slot capacity_ is usable too, so there is always one more slot than the capacity.
ReportQueue::ReportQueue() : slots_(static_cast<size_t>(capacity_) + 1) {}

std::shared_ptr<UserFavorite> ReportQueue::getReport(std::int32_t index) const {
  if (index < 0 || index >= count_) return nullptr;
  return slots_[static_cast<size_t>(index)];
}

void ReportQueue::addReport(const std::shared_ptr<UserFavorite>& favorite) {
  if (count_ >= capacity_) grow();
  slots_[static_cast<size_t>(count_)] = favorite;
  ++count_;
}

void ReportQueue::grow() {
  capacity_ *= 2;
  slots_.resize(static_cast<size_t>(capacity_) + 1);
}

}  // namespace postrix
