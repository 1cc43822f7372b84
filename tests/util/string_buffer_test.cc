#include "util/string_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace postrix {
namespace {

constexpr std::size_t kBlock = StringBuffer::kBlock;

TEST(StringBufferTest, ManySmallAppendsKeepEveryCharacterInOrder) {
  StringBuffer buffer;
  std::string expected;
  for (int i = 0; i < 70000; ++i) {
    char c = static_cast<char>('a' + i % 26);
    buffer.append(c);
    expected += c;
  }
  EXPECT_EQ(buffer.length(), 70000u);
  EXPECT_EQ(buffer.capacity(), 2 * kBlock);
  EXPECT_EQ(buffer.toString(), expected);
}

TEST(StringBufferTest, GrowsByTheFewestWholeBlocksThatFit) {
  struct Case {
    std::size_t first, second, capacity;
  } cases[] = {
      {kBlock, 0, kBlock},                  // exactly full: no growth
      {kBlock, 1, 2 * kBlock},              // one byte over
      {10, 3 * kBlock, 4 * kBlock},         // one append across several blocks
      {kBlock - 1, kBlock + 1, 2 * kBlock}  // the second ends exactly on a block
  };
  for (const Case& c : cases) {
    StringBuffer buffer;
    std::string first(c.first, 'x'), second(c.second, 'y');
    buffer.append(first);
    buffer.append(second);
    EXPECT_EQ(buffer.capacity(), c.capacity) << c.first << "+" << c.second;
    EXPECT_EQ(buffer.toString(), first + second) << c.first << "+" << c.second;
  }
}

TEST(StringBufferTest, TakeStringAndClearLeaveAnEmptyOneBlockBuffer) {
  StringBuffer buffer;
  EXPECT_EQ(buffer.toString(), "");
  buffer.append(std::string(3 * kBlock, 'z'));
  std::string taken = buffer.takeString();
  EXPECT_EQ(taken, std::string(3 * kBlock, 'z'));
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_EQ(buffer.capacity(), kBlock);
  EXPECT_EQ(buffer.toString(), "");

  buffer.append("again");
  EXPECT_EQ(buffer.takeString(), "again");
  buffer.append(std::string(kBlock + 5, 'q'));
  buffer.clear();
  EXPECT_EQ(buffer.toString(), "");
  EXPECT_EQ(buffer.capacity(), kBlock);
  buffer.append("after");
  EXPECT_EQ(buffer.toString(), "after");
}

}  // namespace
}  // namespace postrix
