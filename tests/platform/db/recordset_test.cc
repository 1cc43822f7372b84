#include "platform/db/recordset.h"

#include <gtest/gtest.h>

#include "util/failure.h"

namespace postrix::db {
namespace {

template <typename Call>
long failureNumber(Call call) {
  try {
    call();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

Recordset twoRows() {
  return Recordset({{"ID", ado_type::kInteger}, {"Email", ado_type::kVarWChar}},
                   {{1, "a@x"}, {2, Variant::null()}});
}

TEST(RecordsetTest, WalksRowsAndFindsFieldsInAnyCase) {
  Recordset rs = twoRows();
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.Fields("id"), Variant(1));
  EXPECT_EQ(rs.Fields("EMAIL"), Variant("a@x"));
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("Id"), Variant(2));
  rs.MoveNext();
  EXPECT_TRUE(rs.eof());
  rs.MoveFirst();
  EXPECT_EQ(rs.Fields("id"), Variant(1));
}

TEST(RecordsetTest, ReadingWithoutACurrentRecordFails) {
  Recordset rs = twoRows();
  rs.MoveNext();
  rs.MoveNext();
  EXPECT_EQ(failureNumber([&] { rs.Fields("id"); }), err::kNoCurrentRecord);
  EXPECT_EQ(failureNumber([&] { rs.MoveNext(); }), err::kNoCurrentRecord);
  EXPECT_EQ(failureNumber([&] { rs.Fields("nosuch"); }), err::kFieldNotFound)
      << "an unknown name is reported before the missing record";

  Recordset empty({{"id", ado_type::kInteger}}, {});
  EXPECT_TRUE(empty.eof());
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_EQ(failureNumber([&] { empty.Fields("id"); }), err::kNoCurrentRecord);
  EXPECT_EQ(empty.FieldList().size(), 1u) << "an empty result still describes its fields";
}

TEST(RecordsetTest, ClosedRecordsetRefusesEveryRead) {
  Recordset never;
  Recordset closed = twoRows();
  closed.Close();
  closed.Close();
  for (Recordset* rs : {&never, &closed}) {
    EXPECT_FALSE(rs->isOpen());
    EXPECT_EQ(failureNumber([&] { rs->RecordCount(); }), err::kObjectClosed);
    EXPECT_EQ(failureNumber([&] { rs->eof(); }), err::kObjectClosed);
    EXPECT_EQ(failureNumber([&] { rs->Fields("id"); }), err::kObjectClosed);
    EXPECT_EQ(failureNumber([&] { rs->MoveFirst(); }), err::kObjectClosed);
  }
}

TEST(RecordsetTest, CopiesKeepTheirOwnCursor) {
  Recordset a = twoRows();
  Recordset b = a;
  b.MoveNext();
  EXPECT_EQ(a.Fields("id"), Variant(1));
  EXPECT_EQ(b.Fields("id"), Variant(2));
}

TEST(RecordsetTest, TextTypesAreTheAdoCharacterCodes) {
  for (int type : {8, 129, 130, 200, 201, 202, 203}) EXPECT_TRUE(isTextType(type)) << type;
  for (int type : {2, 3, 5, 7, 11, 72, 128, 131, 135, 204, 205}) {
    EXPECT_FALSE(isTextType(type)) << type;
  }
}

}  // namespace
}  // namespace postrix::db
