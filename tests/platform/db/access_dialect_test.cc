#include "platform/db/access_dialect.h"

#include <gtest/gtest.h>

namespace postrix::db {
namespace {

struct RewriteCase {
  const char* access;
  const char* want;
};

void expectRewrites(std::initializer_list<RewriteCase> cases) {
  for (const RewriteCase& c : cases) {
    EXPECT_EQ(toSqliteDialect(c.access), c.want) << "for: " << c.access;
  }
}

TEST(AccessDialectTest, ConcatenationOutsideLiteralsOnly) {
  expectRewrites({
      {"select 'a' & b & 'c'", "select 'a' || b || 'c'"},
      {"select 'a&b' & c", "select 'a&b' || c"},
      {"select 'it''s & x' & y", "select 'it''s & x' || y"},
      {"select \"a&b\" & [c&d]", "select \"a&b\" || [c&d]"},
      {"select ''&''", "select ''||''"},
  });
}

TEST(AccessDialectTest, DateLiteralsBecomeQuotedSqlDates) {
  expectRewrites({
      {"values (#2026-12-05 17:06:37#)", "values ('2026-12-05 17:06:37')"},
      {"values (#12/5/2026 5:06:37 PM#)", "values ('2026-12-05 17:06:37')"},
      {"where d < #12/5/2026#", "where d < '2026-12-05'"},
      {"where d = #not a date#", "where d = 'not a date'"},
      {"values ('#12/5/2026#', #1/2/2026 12:00:00 AM#)", "values ('#12/5/2026#', '2026-01-02')"},
      {"select 1 # 2", "select 1 # 2"},
  });
}

TEST(AccessDialectTest, KeywordFunctionCallsAreRenamed) {
  expectRewrites({
      {"iif(isnull(x),1,2)", "iif(qx_isnull(x),1,2)"},
      {"IsNull (x) and ISNULL\t(y)", "qx_isnull (x) and qx_isnull\t(y)"},
      {"Left([a],2) & RIGHT(b, 1)", "qx_left([a],2) || qx_right(b, 1)"},
      {"where x isnull", "where x isnull"},
      {"myisnull(x), isnull_x(y), t.left_col", "myisnull(x), isnull_x(y), t.left_col"},
      {"from a left join b on a.x = b.x", "from a left join b on a.x = b.x"},
      {"'ISNULL(x)' & [isnull(y)] & \"left(z)\"", "'ISNULL(x)' || [isnull(y)] || \"left(z)\""},
  });
}

TEST(AccessDialectTest, UnterminatedQuotesAreCopiedForTheEngineToReport) {
  expectRewrites({
      {"select 'abc & d", "select 'abc & d"},
      {"select [abc & d", "select [abc & d"},
  });
}

TEST(AccessDialectTest, CommentsAreCopiedWithoutStartingLiterals) {
  expectRewrites({
      {"select a -- it's & x\n& b", "select a -- it's & x\n|| b"},
      {"select a /* it's */ & b", "select a /* it's */ || b"},
      {"select 5-1 & 'x'", "select 5-1 || 'x'"},
  });
}

TEST(AccessDialectTest, MultibyteTextPassesThroughUnchanged) {
  expectRewrites({{"select 'Grüße' & 'ß' as x", "select 'Grüße' || 'ß' as x"}});
}

}  // namespace
}  // namespace postrix::db
