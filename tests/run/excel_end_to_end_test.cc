// Whole runs that mail a favourite in the "excel" format: each converter
// shape and file form, with the workbook read back by Python's readers.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/mail_reader.h"
#include "support/program_fixture.h"
#include "support/shell_output.h"
#include "util/text.h"

namespace postrix::test {
namespace {

// The non-empty cells of the first sheet, "row value" a line (rows from 1).
std::string cellsOf(const std::string& path) {
  std::string command =
      "/usr/bin/python3 -c \"import sys\nn = lambda v: int(v) if isinstance(v, float) and "
      "v.is_integer() else v\nif sys.argv[1].endswith('.xls'):\n import xlrd\n"
      " s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
      " cells = [(r + 1, c.value) for r in range(s.nrows) for c in s.row(r) if c.ctype]\nelse:\n"
      " import openpyxl\n cells = [(c.row, c.value) for r in "
      "openpyxl.load_workbook(sys.argv[1]).active.iter_rows() for c in r if c.value is not None]\n"
      "[print(r, repr(n(v))) for r, v in cells]\" " +
      path;
  return outputOf(command);
}

class ExcelEndToEndTest : public ProgramFixture {
 protected:
  ExcelEndToEndTest() {
    sql("INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,"
        " schedule_details, sendreport) VALUES (1, 7, 'Sales', 'analysis.asp?page=sales', 'excel',"
        " 'a@x.com', 'daily', 'on');");
  }
};

TEST_F(ExcelEndToEndTest, EachShapeAndFormMailsTheReportTable) {
  const std::string table =
      " 'Region'\n%1 'Umsatz'\n%2 'K\xC3\xB6ln'\n%2 1234.5\n"
      "%3 '\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0'\n%3 -3\n";
  auto rowsFrom = [&](int first) {
    std::string out = std::to_string(first) + table;
    for (int k = 1; k <= 3; ++k)
      out = replaceAll(out, "%" + std::to_string(k), std::to_string(first + k - 1));
    return out;
  };
  struct Case {
    std::string args, file, cells, line;
  } cases[] = {
      {"", "Sales.xlsx", rowsFrom(1), "Detected Excel.Application version: 16"},
      {"-imageincluded", "Sales.xlsx", rowsFrom(3), "Using Excel"},
      {"-easyxls -excelformat .xls", "Sales.xls", rowsFrom(3), "Using EasyXLS"},
      {"-easyxls -fileformat csv", "Sales.csv.xlsx", rowsFrom(3), "Using EasyXLS"},
      {"-fileformat csv", "Sales.csv", "", "Using Excel"},
  };
  size_t mails = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ASSERT_EQ(postrix("-excel -reportname -id 1 " + c.args), 0);
    ASSERT_EQ(mail.received().size(), ++mails) << logText();
    std::string view = readerView(mail.received().back().data);
    EXPECT_NE(view.find("part " + c.file), std::string::npos) << view;
    EXPECT_NE(view.find("Please see the attached spreadsheet."), std::string::npos) << view;
    EXPECT_TRUE(logHas(c.line) && logHas("File attached")) << logText();
    std::string path = programFolder() + "/" + c.file;
    if (c.cells.empty())
      EXPECT_EQ(readFile(path),
                "\xEF\xBB\xBFRegion,Umsatz\r\nK\xC3\xB6ln,\"1,234.50\"\r\n"
                "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0,-3\r\n");
    else
      EXPECT_EQ(cellsOf(path), c.cells);
  }

  // A table longer than an .xls holds goes up to its last row, and the log says so.
  sql("UPDATE UserReports SET reporturl='analysis.asp?page=sized&kb=6600';");
  ASSERT_EQ(postrix("-excel -reportname -id 1 -easyxls -excelformat .xls"), 0);
  EXPECT_EQ(cellsOf(programFolder() + "/Sales.xls").substr(0, 8), "1 'Repor") << logText();
  EXPECT_TRUE(logText().find("Sales.xls' holds only part of the report table, as the format "
                             "holds no more: ") != std::string::npos)
      << logText();
  sql("UPDATE UserReports SET reporturl='analysis.asp?page=sales';");

  // -deletefile: the message keeps the workbook, the folder keeps nothing.
  ASSERT_EQ(postrix("-excel -reportname -id 1 -deletefile"), 0);
  EXPECT_NE(readerView(mail.received().back().data).find("part Sales.xlsx"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(programFolder() + "/Sales.xlsx"));
  EXPECT_FALSE(std::filesystem::exists(programFolder() + "/Sales.html"));
}

// A page that cannot become a file gives no workbook: both shapes say why,
// and the report is not mailed without its spreadsheet.
TEST_F(ExcelEndToEndTest, NoWorkbookNoMessage) {
  sql("UPDATE UserReports SET reporttitle='" + std::string(300, 'L') + "';");
  const std::string base = programFolder() + "/" + std::string(300, 'L');
  for (const std::string shape : {"", "-easyxls"}) {
    SCOPED_TRACE(shape);
    sql("DELETE FROM Email_Log;");
    ASSERT_EQ(postrix("-excel -reportname -emaillog -id 1 " + shape), 0);
    EXPECT_TRUE(logHas("Error writing to html file: 57 Device I/O error (File name too long)"))
        << logText();
    EXPECT_TRUE(shape.empty()
                    ? logHas("Error with excel.application: 75 Cannot open '" + base + ".html'")
                    : logHas("File not created: Problem using EasyXls"))
        << logText();
    std::string status = "ERROR: The workbook '" + base + (shape.empty() ? "" : ".xlsx") +
                         "' was not created. Report 1 is not sent.";
    EXPECT_EQ(query("SELECT msgstatus FROM Email_Log"), Rows{status});
  }
  EXPECT_TRUE(mail.received().empty());
}

}  // namespace
}  // namespace postrix::test
