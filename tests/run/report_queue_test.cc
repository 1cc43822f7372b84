#include "run/report_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace postrix::test {
namespace {

TEST(ReportQueueTest, GrowsByDoublingAndKeepsTheOrderOfAdding) {
  ReportQueue queue;
  EXPECT_EQ(queue.numReports(), 0);
  EXPECT_EQ(queue.capacity(), 100);
  EXPECT_EQ(queue.getReport(0), nullptr);

  std::vector<std::shared_ptr<UserFavorite>> added;
  for (int i = 0; i < 150; ++i) {
    added.push_back(std::make_shared<UserFavorite>());
    added.back()->setReportID(Variant(i));
    queue.addReport(added.back());
    if (i == 99) {
      EXPECT_EQ(queue.capacity(), 100);
    }
  }
  EXPECT_EQ(queue.numReports(), 150);
  EXPECT_EQ(queue.capacity(), 200);
  for (int i = 0; i < 150; ++i) EXPECT_EQ(queue.getReport(i), added[static_cast<size_t>(i)]);
  EXPECT_EQ(queue.getReport(-1), nullptr);
  EXPECT_EQ(queue.getReport(150), nullptr);

  for (int i = 150; i < 201; ++i) queue.addReport(std::make_shared<UserFavorite>());
  EXPECT_EQ(queue.capacity(), 400);
  EXPECT_EQ(queue.getReport(149)->reportid(), 149);
}

}  // namespace
}  // namespace postrix::test
