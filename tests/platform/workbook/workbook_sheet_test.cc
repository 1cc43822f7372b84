// Report pages read into a sheet, and the sheet as CSV read back by
// Python's csv module.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/workbook/csv_text.h"
#include "platform/workbook/html_tables.h"
#include "support/shell_output.h"
#include "support/temp_database.h"
#include "util/failure.h"

namespace postrix::workbook {
namespace {

using Grid = std::vector<std::vector<std::string>>;

Grid gridOf(const Sheet& sheet) {
  Grid grid;
  for (const Row& row : sheet.rows()) {
    grid.emplace_back(row.empty() ? 0 : row.back().column + 1);
    for (const Cell& cell : row) grid.back()[cell.column] = cell.text;
  }
  return grid;
}

TEST(WorkbookSheetTest, TablesAreLaidOutAsABrowserShowsThem) {
  struct Case {
    const char* what;
    std::string html;
    Grid want;
  } cases[] = {
      {"cells, entities, white space and line breaks",
       "<table><tr><th> Region </th><th>Caf&eacute; &amp;\n  Bar</th></tr>"
       "<tr><td>&#1044;&#1072; "
       "\xD0\xBC\xD0\xB8\xD1\x80</td><td>a<br>b&nbsp;&nbsp;c</td></tr></table>",
       {{"Region", "Caf\xC3\xA9 & Bar"}, {"\xD0\x94\xD0\xB0 \xD0\xBC\xD0\xB8\xD1\x80", "a\nb  c"}}},
      {"spans",
       "<table><tr><td colspan=2>Q1</td><td rowspan=2>Total</td></tr>"
       "<tr><td>Jan</td><td>Feb</td></tr><tr><td>1</td><td>2</td><td>3</td></tr></table>",
       {{"Q1", "", "Total"}, {"Jan", "Feb"}, {"1", "2", "3"}}},
      {"two tables, one below the other; scripts are no text",
       "<p>Sales</p><table><tr><td>a<script>var x='<td>';</script></td></tr></table>"
       "<style>td{}</style><table><thead><tr><th>b</th></tr></thead>"
       "<tbody><tr><td>c</td></tr></tbody></table>",
       {{"a"}, {"b"}, {"c"}}},
      {"a layout table around the report table",
       "<table><tr><td><b>Monthly</b><table><tr><td>x</td><td>1</td></tr>"
       "<tr><td>y</td><td>2</td></tr></table></td></tr></table>",
       {{"Monthly"}, {"x", "1"}, {"y", "2"}}},
      {"tag soup", "<table><tr><td>a<td>b<tr><td>c</table>", {{"a", "b"}, {"c"}}},
      {"no table at all", "<p>No Matching Records</p>", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(gridOf(sheetFromHtml(c.html)), c.want) << c.what;
}

TEST(WorkbookSheetTest, NumbersAsThePageShowsThemAreNumbers) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"1234.5", 1234.5},
      {"-3", -3},
      {"1,234.50", 1234.5},
      {"12,345,678", 12345678},
      {"0", 0},
      {"0.25", 0.25},
      {"+4", 4},
      {"007", std::nullopt},
      {"1,23", std::nullopt},
      {"1,2345", std::nullopt},
      {"1234,567", std::nullopt},
      {"1.", std::nullopt},
      {"1.2.3", std::nullopt},
      {"$5", std::nullopt},
      {"5%", std::nullopt},
      {"", std::nullopt},
      {"1234567890123456", std::nullopt},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(numberIn(text), want) << text;
  Sheet sheet = sheetFromHtml("<table><tr><td> 1,234.50 </td><td>007</td></tr></table>");
  EXPECT_EQ(sheet.rows()[0][0].number, 1234.5);
  EXPECT_EQ(sheet.rows()[0][1].number, std::nullopt);
}

// Spans as wide and deep as browsers allow push each row's cells further right;
// what passes the last column of a workbook is left out and counted.
TEST(WorkbookSheetTest, HostileSpansCostNoMoreThanThePageHolds) {
  std::string html = "<table>";
  for (int i = 0; i < 20; ++i) html += "<tr><td rowspan=99999 colspan=99999>x</td><td>y</td></tr>";
  Sheet sheet = sheetFromHtml(html + "</table>");
  ASSERT_EQ(sheet.rows().size(), 17u);
  EXPECT_EQ(sheet.rows()[15], (Row{{15000, "x", {}}, {16000, "y", {}}}));
  EXPECT_EQ(sheet.rows()[16], (Row{{16000, "x", {}}}));
  EXPECT_EQ(sheet.cellsLeftOut(), 7u);
}

TEST(WorkbookSheetTest, BlankRowsAtTheTopGoAndOnlyThose) {
  Sheet sheet = sheetFromHtml(
      "<table><tr><td></td></tr><tr><td>&nbsp;</td></tr><tr></tr>"
      "<tr><td>Head</td></tr><tr><td></td></tr><tr><td>Row</td></tr></table>");
  sheet.put(0, 100, "only in column 101");
  sheet.removeBlankTopRows();
  EXPECT_EQ(gridOf(sheet), (Grid{{"Head"}, {}, {"Row"}}));
}

TEST(WorkbookSheetTest, CsvReadsBackCellForCell) {
  Sheet sheet = sheetFromHtml(
      "<table><tr><td>Caf&eacute;, Bar</td><td>say \"hi\"</td><td>1,234.50</td></tr>"
      "<tr><td>two<br>lines</td><td></td><td>-3</td></tr></table>");
  test::TempDir dir;
  std::string path = dir.file("sheet.csv");
  std::ofstream(path, std::ios::binary) << csvText(sheet);
  std::string command =
      "/usr/bin/python3 -c \"import csv,sys; f=open(sys.argv[1], newline='', "
      "encoding='utf-8-sig'); print(repr(list(csv.reader(f))))\" " +
      path;
  EXPECT_EQ(test::outputOf(command),
            "[['Café, Bar', 'say \"hi\"', '1,234.50'], ['two\\nlines', '', '-3']]\n");
  EXPECT_EQ(test::readFile(path).substr(0, 3), "\xEF\xBB\xBF");
}

}  // namespace
}  // namespace postrix::workbook
