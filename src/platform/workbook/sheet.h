// One worksheet, as the workbook writers take it: rows from the top, each
// holding its non-empty cells by column, so that memory follows what the
// page holds, not how far its spans reach. A cell keeps its text as the
// page showed it and, where that text is a number, the number itself so
// that sums work.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace postrix::workbook {

struct Cell {
  size_t column = 0;  // 0-based
  std::string text;
  std::optional<double> number;  // set when text reads as a plain number
  bool operator==(const Cell&) const = default;
};

using Row = std::vector<Cell>;  // the non-empty cells, by rising column

class Sheet {
 public:
  // The largest sheet a workbook holds; cells beyond are left out and counted.
  static constexpr size_t kMaxRows = 1'048'576, kMaxColumns = 16'384;

  const std::vector<Row>& rows() const { return rows_; }
  size_t cellsLeftOut() const { return leftOut_; }

  // Sets the cell at row r, column c (0-based) to text; an empty text sets nothing.
  void put(size_t r, size_t c, std::string text);

  // Deletes the rows at the top whose first `columns` cells are all empty,
  // up to the first row that is not; cells beyond `columns` do not count.
  void removeBlankTopRows(size_t columns = 100);

 private:
  std::vector<Row> rows_;
  size_t leftOut_ = 0;
};

// What a written workbook could not hold of its sheet.
struct WorkbookLoss {
  size_t rowsLeftOut = 0;   // rows past the format's last that held cells
  size_t cellsLeftOut = 0;  // cells past its last row or column, those rows' cells included
  size_t textsCut = 0;      // texts cut to what a cell of the format holds
  bool any() const { return rowsLeftOut || cellsLeftOut || textsCut; }
};

// The number a cell text stands for: an optional sign, digits (grouped by
// "," in threes or not at all) and an optional fraction. A leading zero
// ("007") or more than 15 digits keeps the text a text: codes and account
// numbers would lose their digits as numbers.
std::optional<double> numberIn(const std::string& text);

}  // namespace postrix::workbook
