// Workbooks as the build writes them, opened by real readers: LibreOffice
// headless, and Python's openpyxl (.xlsx) and xlrd (.xls).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/workbook/html_tables.h"
#include "platform/workbook/xls_file.h"
#include "platform/workbook/xlsx_file.h"
#include "support/shell_output.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::workbook {
namespace {

// The first three rows and the last of the first sheet as Python reads them:
// text quoted, numbers bare (whole ones without a fraction).
std::string pythonView(const std::string& path) {
  return test::outputOf(
      "/usr/bin/python3 -c \"import sys\nif sys.argv[1].endswith('x'):\n import openpyxl\n"
      " ws = openpyxl.load_workbook(sys.argv[1]).active\n"
      " rows = [[c.value for c in r] for r in ws.iter_rows()]\nelse:\n import xlrd\n"
      " ws = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
      " rows = [[c.value if c.ctype else None for c in ws.row(i)] for i in range(ws.nrows)]\n"
      "n = lambda v: int(v) if isinstance(v, float) and v.is_integer() else v\n"
      "print(ws.title if hasattr(ws, 'title') else ws.name, len(rows))\n"
      "[print([n(v) for v in r]) for r in rows[:3] + rows[-1:]]\" " +
      path);
}

const char kPage[] =
    "<table><tr><th>Region</th><th>Sales</th></tr><tr><td>Caf&eacute; &#1044; \xF0\x9F\x98\x80"
    "</td><td>1,234.50</td></tr><tr><td>007</td><td>-3</td><td colspan=2></td><td>a, \"b\"</td>"
    "</tr></table>";

TEST(WorkbookFilesTest, RealReadersSeeTheReportTable) {
  if (std::system("command -v soffice >/dev/null") != 0) GTEST_SKIP() << "no LibreOffice";
  test::TempDir dir;
  Sheet sheet = sheetFromHtml(kPage);
  EXPECT_FALSE(writeXlsx(sheet, dir.file("report_x.xlsx")).any());
  EXPECT_FALSE(writeXls(sheet, dir.file("report_s.xls")).any());

  test::outputOf("cd " + dir.path() + " && HOME=" + dir.path() +
                 " soffice --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' "
                 "report_x.xlsx report_s.xls >/dev/null 2>&1");
  const std::string table =
      "Region,Sales,,,\nCaf\xC3\xA9 \xD0\x94 \xF0\x9F\x98\x80,1234.5,,,\n007,-3,,,\"a, "
      "\"\"b\"\"\"\n";
  EXPECT_EQ(test::readFile(dir.file("report_x.csv")), table);
  EXPECT_EQ(test::readFile(dir.file("report_s.csv")), table);

  const std::string rows =
      "['Region', 'Sales', None, None, None]\n['Café Д 😀', 1234.5, None, None, None]\n"
      "['007', -3, None, None, 'a, \"b\"']\n['007', -3, None, None, 'a, \"b\"']\n";
  EXPECT_EQ(pythonView(dir.file("report_x.xlsx")), "Sheet1 3\n" + rows);
  EXPECT_EQ(pythonView(dir.file("report_s.xls")), "Sheet1 3\n" + rows);
}

// Rows past 65,536, columns past 256 and texts past 255 characters do not fit
// an .xls: the rest is written and what was left out is counted.
TEST(WorkbookFilesTest, AnXlsHoldsWhatItCanAndCountsTheRest) {
  Sheet sheet;
  for (size_t r = 0; r < 65'537; ++r) sheet.put(r, 0, std::to_string(r));
  sheet.put(0, 1, std::string(300, 'w'));
  sheet.put(1, 256, "column 257");
  test::TempDir dir;
  WorkbookLoss loss = writeXls(sheet, dir.file("long.xls"));
  EXPECT_EQ(loss.rowsLeftOut, 1u);
  EXPECT_EQ(loss.cellsLeftOut, 2u);
  EXPECT_EQ(loss.textsCut, 1u);
  std::string view = pythonView(dir.file("long.xls"));
  EXPECT_EQ(view.substr(0, view.find('\n')), "Sheet1 65536");
  EXPECT_NE(view.find("[0, '" + std::string(255, 'w') + "']"), std::string::npos);
  EXPECT_NE(view.find("[65535, None]"), std::string::npos) << view.substr(view.size() - 100);

  for (auto write : {+[](const Sheet&s, const std::string&p) { writeXls(s, p); },
                     +[](const Sheet&s, const std::string&p) { writeXlsx(s, p); }}) {
    try {
      write(sheet, dir.file("missing/report"));
      ADD_FAILURE() << "a workbook without its folder";
    } catch (const Failure& f) {
      EXPECT_TRUE(f.number() == err::kPathFileAccess || f.number() == 76) << f.description();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

}  // namespace
}  // namespace postrix::workbook
