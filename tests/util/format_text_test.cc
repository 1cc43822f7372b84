#include "util/format_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_fixture.h"

namespace postrix {
namespace {

using Strings = std::vector<std::string>;

std::string plain(std::string_view text) { return formatText(text, false, {}); }

TEST(FormatTextTest, CharactersAbove200BecomeReferencesToTheirCodePoint) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"Caf\xC3\xA9", "Caf&#233;"},
      {"\xC3\x88", "\xC3\x88"},  // U+00C8, 200: kept
      {"\xC3\x89", "&#201;"},    // U+00C9, 201
      {"\xC2\x80\xC2\xA0", "\xC2\x80\xC2\xA0"},
      {"\u20AC5", "&#8364;5"},
      {"\xF0\x9F\x98\x80!", "&#128512;!"},  // one reference, not two halves
      {"\xF4\x8F\xBF\xBF", "&#1114111;"},
      {"", ""},
      {"plain <b>ASCII</b> & more", "plain <b>ASCII</b> & more"},
  };
  for (const Case& c : cases) EXPECT_EQ(plain(c.in), c.want) << c.in;
}

TEST(FormatTextTest, EachByteOutsideAValidSequenceIsOneReplacementCharacter) {
  const std::string r = "&#65533;";
  struct Case {
    const char* in;
    std::string want;
  } cases[] = {
      {"a\x80z", "a" + r + "z"},            // stray continuation
      {"\xC0\xAF", r + r},                  // overlong "/"
      {"\xF0\x8F\xBF\xBF", r + r + r + r},  // overlong in four bytes
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xE2\x82", r + r},                  // cut short by the end
      {"\xE2\x82<", r + r + "<"},           // cut short by ASCII
      {"\xC3\xC3\xA9", r + "&#233;"},       // a lead byte where one continues
      {"\xF0\x9F\x98 \xC3\x88", r + r + r + " \xC3\x88"},
  };
  for (const Case& c : cases) EXPECT_EQ(plain(c.in), c.want) << c.in;
}

TEST(FormatTextTest, SkipUnicodeKeepsCharactersButStillEscapesTheEuro) {
  EXPECT_EQ(formatText("Caf\u00E9 \u20AC5", true, {}), "Caf\u00E9 &#8364;5");
  EXPECT_EQ(formatText("\xFF\xF0\x9F\x98\x80", true, {}), "\xFF\xF0\x9F\x98\x80");
  EXPECT_EQ(formatText("\xE2\x82\xAC\xE2\x82\xAC", true, {}), "&#8364;&#8364;");
}

TEST(FormatTextTest, LineBreakFollowsEachCellAndRowEndTagInExactCase) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"<tr><td>a</td></tr>", "<tr><td>a</td>\r\n</tr>\r\n"},
      {"<TR><TD>a</TD></TR>", "<TR><TD>a</TD>\r\n</TR>\r\n"},
      {"</Td></tD></Tr></tR>", "</Td></tD></Tr></tR>"},
      {"< /td></ td></td >", "< /td></ td></td >"},
      {"<</td>>", "<</td>\r\n>"},
      {"</td>\r\n", "</td>\r\n\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formatText(c.in, false, {}), c.want) << c.in;
    EXPECT_EQ(formatText(c.in, true, {}), c.want) << c.in;
    // The same tags in a text that also needs escaping.
    EXPECT_EQ(plain(std::string(c.in) + "\xC3\xA9"), std::string(c.want) + "&#233;") << c.in;
  }
}

TEST(FormatTextTest, SuppressStringsAreRemovedOneAfterTheOther) {
  struct Case {
    const char* in;
    Strings suppress;
    bool skipUnicode;
    const char* want;
  } cases[] = {
      {"cabd", {"ab", "cd"}, false, ""},  // removing "ab" makes the "cd"
      {"cabd", {"cd", "ab"}, false, "cd"},
      {"abc", {"", "b"}, false, "ac"},  // an empty one removes nothing
      {"aaa", {"aa"}, false, "a"},      // occurrences do not overlap
      // Removal sees the escaped text ...
      {"Caf\xC3\xA9!", {"&#233;"}, false, "Caf!"},
      {"Caf\xC3\xA9!", {"\xC3\xA9"}, false, "Caf&#233;!"},
      // ... and the line breaks see the text after removal.
      {"<td>a</tXd>", {"X"}, false, "<td>a</td>\r\n"},
      {"a</td>b", {"</td>"}, false, "ab"},
      // A euro sign put together by a removal is still escaped.
      {"\xE2X\x82\xAC", {"X"}, true, "&#8364;"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatText(c.in, c.skipUnicode, c.suppress), c.want) << c.in;
}

TEST(FormatTextTest, BrokenUtf8MayGrowPastTheRoomFirstReserved) {
  // Room is reserved for valid UTF-8, which grows at most 3.5 times; a lone
  // byte grows 8 times.
  std::string broken(300000, '\xFF');
  std::string want;
  for (std::size_t i = 0; i < broken.size(); ++i) want += "&#65533;";
  EXPECT_EQ(plain("<td>" + broken + "</td>"), "<td>" + want + "</td>\r\n");
  EXPECT_EQ(formatText(broken + "x", false, {"x"}), want);
}

class UtilitiesFormatTextTest : public test::RunFixture {};

TEST_F(UtilitiesFormatTextTest, UsesTheRunsSuppressStringsAndUnicodeOption) {
  const std::string body = "<td>Caf\u00E9 \u20AC5 DRAFT</td>";
  parse("");
  EXPECT_EQ(utilities->formatText(body), "<td>Caf&#233; &#8364;5 DRAFT</td>\r\n");
  newRun();
  parse("-nounicode -suppress DRAFT -suppress Caf");
  EXPECT_EQ(utilities->formatText(body), "<td>\u00E9 &#8364;5 </td>\r\n");
}

}  // namespace
}  // namespace postrix
