#include "platform/db/access_dialect.h"

#include <gtest/gtest.h>

#include <utility>

namespace postrix::db {
namespace {

TEST(AccessDialectTest, RewritesOutsideLiteralsNamesAndCommentsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"select 'a&b' & c & 'it''s & x'", "select 'a&b' || c || 'it''s & x'"},
      {"select \"a&b\" & [c&d] & [isnull(y)]", "select \"a&b\" || [c&d] || [isnull(y)]"},
      {"values (#2026-12-05 17:06:37#)", "values ('2026-12-05 17:06:37')"},
      {"values ('#12/5/2026#', #1/2/2026 12:00:00 AM#)", "values ('#12/5/2026#', '2026-01-02')"},
      {"where d = #not a date#", "where d = 'not a date'"},
      {"iif(IsNull (x),1,2) & Left([a],2) & RIGHT(b, 1)",
       "iif(qx_isnull (x),1,2) || qx_left([a],2) || qx_right(b, 1)"},
      {"where x isnull and myisnull(x) and t.left_col from a left join b",
       "where x isnull and myisnull(x) and t.left_col from a left join b"},
      {"select a -- it's & x\n& b /* it's */ & 'Grüße'",
       "select a -- it's & x\n|| b /* it's */ || 'Grüße'"},
      {"select 'abc & d", "select 'abc & d"},
  };
  for (const auto& [access, want] : cases) EXPECT_EQ(toSqliteDialect(access), want) << access;
}

}  // namespace
}  // namespace postrix::db
