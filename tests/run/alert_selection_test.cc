// Alerts: one queued copy per recipient, read through the system database.
#include <gtest/gtest.h>

#include "run/select_reports.h"
#include "support/run_fixture.h"

namespace postrix::test {
namespace {

class AlertSelectionTest : public RunFixture {
 protected:
  AlertSelectionTest() {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES"
        " (1,1,'Sales','region=North&x=1','html','a@x.com','daily','on'),"
        " (2,1,'Weekly','region=South','html','a@x.com','weekly|2','on');"
        "INSERT INTO reportsemails VALUES (7,'p7@x.com','sales'), (12,'p12@x.com','sales'),"
        " (14,'ob@x.com','o''brien');");
  }

  void addAlert(int id, int report, const std::string& type, const std::string& toreplace,
                const std::string& dsn) {
    sql("INSERT INTO mass_reports_to_email VALUES (" + std::to_string(id) + "," +
        std::to_string(report) + ",99,'" + type + "','" + toreplace + "','" + dsn + "','','','');");
  }

  std::string systemDsn() const { return "Driver=SQLite3;Database=" + databasePath(); }

  // One line per queued recipient: alert id, recipient and report URL.
  std::vector<std::string> select(const std::string& args = "") {
    EXPECT_FALSE(parse("-alerts " + args));
    auto queue = selectReports(*settings, *utilities);
    std::vector<std::string> lines;
    for (int i = 0; i < queue->numReports(); ++i) {
      const UserFavorite& f = *queue->getReport(i);
      lines.push_back(f.alertID() + " " + f.reportEmails() + " " + f.reportUrl());
    }
    return lines;
  }

  using Lines = std::vector<std::string>;
};

TEST_F(AlertSelectionTest, EachRecipientGetsItsOwnReportAddress) {
  addAlert(1, 1, "sales", "region", systemDsn());
  addAlert(2, 1, "Sales", "REGION", systemDsn());  // passes the check, replaces nothing
  addAlert(3, 1, "o''brien", "region", systemDsn());
  EXPECT_EQ(select(), (Lines{"7 p7@x.com 7=North&x=1", "12 p12@x.com 12=North&x=1",
                             "7 p7@x.com region=North&x=1", "12 p12@x.com region=North&x=1",
                             "14 ob@x.com 14=North&x=1"}));
  EXPECT_TRUE(logHas("Queued 2 alert emails for report 1"));
  EXPECT_TRUE(logHas("Queued 1 alert emails for report 1"));
}

TEST_F(AlertSelectionTest, ScheduleEmptyListAndMissingKeyQueueNothing) {
  addAlert(1, 2, "sales", "region", systemDsn());  // weekly on Mondays: not due
  addAlert(2, 1, "nobody", "region", systemDsn());
  addAlert(3, 1, "sales", "city", systemDsn());
  EXPECT_TRUE(select().empty());
  EXPECT_EQ(logText().find("Queued"), std::string::npos);
  EXPECT_TRUE(
      logHas("WARNING: Alerts email result set is empty for report 1 with SQL: SELECT ID, "
             "Email FROM (select id, email from reportsemails where type='nobody') tmp "
             "WHERE id IS NOT NULL and email is not null and email <> ''"));
  EXPECT_TRUE(
      logHas("The value 'city' you entered in 'Value To Replace' in Schedule Mass Email "
             "Setup, is not contained inside the favourite"));
  newRun();
  EXPECT_EQ(select("-ignoreschedule -id 1").size(), 2u);
}

}  // namespace
}  // namespace postrix::test
