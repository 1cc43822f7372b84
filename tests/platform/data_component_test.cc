#include "platform/data_component.h"

#include <gtest/gtest.h>

#include "support/temp_database.h"

namespace postrix {
namespace {

TEST(DataComponentTest, RunsQueriesOnTheSourceItsKeyNames) {
  EXPECT_EQ(DataComponent::connectionStringOf("dsn=x;QXDB=Sales;uid=a"), "dsn=x;uid=a");
  test::TempDir dir;
  std::string path = dir.file("alerts.db"), error = "stale";
  test::createSystemDatabase(path);
  test::runSqlite(path, "INSERT INTO reportsemails VALUES (1, 'a@x', 'sales');");
  DataComponent component;
  component.suppressExceptions();
  ASSERT_TRUE(component.remoteConnect("Driver=SQLite3;QXDB=Sales01;Database=" + path));
  EXPECT_TRUE(component.remoteLoad("sales01", error));
  std::string sql = "select id, email from reportsemails where type='Sales'";
  db::Recordset rs = component.remoteExecute("sales01", sql, error);
  EXPECT_EQ(error, "");
  ASSERT_FALSE(rs.eof());
  EXPECT_EQ(rs.Fields("email"), Variant("a@x"));

  EXPECT_FALSE(component.remoteLoad("other", error));
  EXPECT_NE(error.find("other"), std::string::npos) << error;
  sql = "select id from nosuchtable";
  EXPECT_FALSE(component.remoteExecute("sales01", sql, error).isOpen());
  EXPECT_EQ(error, "no such table: nosuchtable");

  EXPECT_FALSE(
      component.remoteConnect("Driver=SQLite3;Database=" + dir.file("none.db") + ";qxdb=Sales01"));
  EXPECT_FALSE(component.remoteLoad("sales01", error)) << "no earlier connection is kept";
}

}  // namespace
}  // namespace postrix
