#include "platform/data_component.h"

#include <gtest/gtest.h>

#include "support/temp_database.h"

namespace postrix {
namespace {

TEST(DataComponentTest, ConnectionStringIsTheTextWithoutItsKey) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {"qxdb=Sales;dsn=x;uid=a", "dsn=x;uid=a"},
      {"dsn=x;QXDB=Sales;uid=a", "dsn=x;uid=a"},
      {"Driver=SQLite3;Database=/d.db;qxdb=s", "Driver=SQLite3;Database=/d.db"},
      {" ; qxdb=s ; ", ""},
      {"dsn=x", "dsn=x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DataComponent::connectionStringOf(c.text), c.want) << "for: " << c.text;
  }
}

class DataComponentSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::createSystemDatabase(path_);
    test::runSqlite(path_, "INSERT INTO reportsemails VALUES (1, 'a@x', 'sales');");
    source_ = "Driver=SQLite3;Database=" + path_ + ";qxdb=Sales01";
  }

  test::TempDir dir_;
  std::string path_ = dir_.file("alerts.db");
  std::string source_;
  DataComponent component_;
  std::string error_;
};

TEST_F(DataComponentSourceTest, RunsQueriesOnTheLoadedSource) {
  component_.suppressExceptions();
  ASSERT_TRUE(component_.remoteConnect(source_));
  EXPECT_TRUE(component_.remoteLoad("sales01", error_));
  std::string sql = "select id, email from reportsemails where type='Sales'";
  error_ = "stale";
  db::Recordset rs = component_.remoteExecute("sales01", sql, error_);
  EXPECT_EQ(error_, "");
  ASSERT_FALSE(rs.eof());
  EXPECT_EQ(rs.Fields("email"), Variant("a@x"));
}

TEST_F(DataComponentSourceTest, DatabaseErrorsComeBackAsText) {
  ASSERT_TRUE(component_.remoteConnect(source_));
  std::string sql = "select id from nosuchtable";
  db::Recordset rs = component_.remoteExecute("sales01", sql, error_);
  EXPECT_FALSE(rs.isOpen());
  EXPECT_EQ(error_, "no such table: nosuchtable");
}

TEST_F(DataComponentSourceTest, OtherKeysAndDroppedConnectionsAreNotLoaded) {
  ASSERT_TRUE(component_.remoteConnect(source_));
  EXPECT_FALSE(component_.remoteLoad("other", error_));
  EXPECT_NE(error_.find("other"), std::string::npos) << error_;

  component_.remotedisconnect();
  error_.clear();
  std::string sql = "select 1";
  EXPECT_FALSE(component_.remoteExecute("sales01", sql, error_).isOpen());
  EXPECT_NE(error_, "");
}

TEST_F(DataComponentSourceTest, FailedConnectKeepsNoEarlierConnection) {
  ASSERT_TRUE(component_.remoteConnect(source_));
  EXPECT_FALSE(component_.remoteConnect("Driver=SQLite3;Database=" + dir_.file("none.db") +
                                        ";qxdb=Sales01"));
  EXPECT_FALSE(component_.remoteLoad("sales01", error_));
}

}  // namespace
}  // namespace postrix
