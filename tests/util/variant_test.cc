#include "util/variant.h"

#include <gtest/gtest.h>

#include "util/failure.h"

namespace postrix {
namespace {

long failureOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

TEST(VariantTest, BadReadsFailWithTheRunTimeLibrarysNumbers) {
  EXPECT_EQ(failureOf([] { Variant::null().toText(); }), 94);
  EXPECT_EQ(failureOf([] { Variant("abc").toInt16(); }), 13);
  EXPECT_EQ(failureOf([] { Variant("70000").toInt16(); }), 6);
  EXPECT_EQ(failureOf([] { Variant("yes").toBool(); }), 13);
}

TEST(VariantTest, TextReadsAsNumbersAndFlagsAndValuesAsText) {
  EXPECT_EQ(Variant(" 25 ").toInt16(), 25);
  EXPECT_EQ(Variant("2.5").toInt16(), 2);  // halves go to the even neighbour
  EXPECT_EQ(Variant("3.5").toInt16(), 4);
  EXPECT_FALSE(Variant::null().isNumeric());
  EXPECT_FALSE(Variant("").isNumeric());
  EXPECT_TRUE(Variant().isNumeric());
  EXPECT_FALSE(Variant("12a").isNumeric());
  EXPECT_FALSE(Variant("False").toBool());
  EXPECT_TRUE(Variant(-1).toBool());
  // Values read as text the way the run-time library prints them.
  EXPECT_EQ(Variant(0.1 + 0.2).toText(), "0.3");
  EXPECT_EQ(Variant(true).toText(), "True");
  EXPECT_EQ(Variant(Date::fromParts(2026, 12, 5, 17, 6, 37)).toText(), "12/5/2026 5:06:37 PM");
  EXPECT_EQ(Variant().toText(), "");
}

}  // namespace
}  // namespace postrix
