// The line-end search that whole messages go through, against the obvious scan.
#include "util/text.h"

#include <gtest/gtest.h>

#include <random>

namespace postrix::test {
namespace {

TEST(TextTest, FindLineEndAgreesWithACharacterByCharacterScan) {
  std::mt19937 random(7);
  // Bytes near CR and LF (0x0C, 0x0E, 0x8D, 0x8A) would fool a sloppy word test.
  const std::string alphabet = std::string("ab\r\n\x0C\x0E\x8D\x8A \xFF", 10);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 40, 'x');
    for (char& c : text)
      if (random() % 6 == 0) c = alphabet[random() % alphabet.size()];
    for (size_t from = 0; from <= text.size(); ++from) {
      size_t expected = from;
      while (expected < text.size() && text[expected] != '\r' && text[expected] != '\n') ++expected;
      ASSERT_EQ(findLineEnd(text, from), expected) << round << " from " << from;
    }
  }
}

}  // namespace
}  // namespace postrix::test
