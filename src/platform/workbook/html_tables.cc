#include "platform/workbook/html_tables.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "util/failure.h"

namespace postrix::workbook {
namespace {

// Browsers cap spans at these.
constexpr long kMaxColspan = 1000;
constexpr long kMaxRowspan = 65534;
// The page goes to the parser in pieces: it keeps no tree, so memory stays
// with the sheet, not with the page.
constexpr size_t kPiece = 64 * 1024;

bool named(const xmlChar* name, const char* what) {
  return xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(what)) == 0;
}

long spanOf(const xmlChar** attributes, const char* which, long cap) {
  for (const xmlChar** a = attributes; a && a[0]; a += 2)
    if (named(a[0], which) && a[1]) {
      long n = std::strtol(reinterpret_cast<const char*>(a[1]), nullptr, 10);
      return n < 1 ? 1 : std::min(n, cap);
    }
  return 1;
}

// A cell's text as shown: runs of white space one blank, no-break spaces
// blanks that do not collapse, <br> a line break.
class CellText {
 public:
  void add(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
        pendingBlank_ = !text_.empty() && text_.back() != '\n';
        continue;
      }
      flushBlank();
      bool noBreakSpace = c == 0xC2 && i + 1 < n && static_cast<unsigned char>(s[i + 1]) == 0xA0;
      text_ += noBreakSpace ? ' ' : static_cast<char>(c);
      i += noBreakSpace;
    }
  }
  void lineBreak() {
    while (!text_.empty() && text_.back() == ' ') text_.pop_back();
    text_ += '\n';
    pendingBlank_ = false;
  }
  std::string take() {
    while (!text_.empty() && (text_.back() == ' ' || text_.back() == '\n')) text_.pop_back();
    pendingBlank_ = false;
    return std::move(text_);
  }

 private:
  void flushBlank() {
    if (pendingBlank_) text_ += ' ';
    pendingBlank_ = false;
  }

  std::string text_;
  bool pendingBlank_ = false;
};

// Lays the tables out as the parser reports their tags. A table inside a
// cell breaks the outer row: it goes below what the row held so far, and
// what follows it goes on below it.
class Layout {
 public:
  explicit Layout(Sheet& sheet) : sheet_(sheet) {}

  void start(const xmlChar* name, const xmlChar** attributes) {
    if (named(name, "script") || named(name, "style")) {
      ++hidden_;
    } else if (named(name, "table")) {
      if (inCell()) endCell(false);
      tables_.emplace_back();
    } else if (tables_.empty()) {
      return;
    } else if (named(name, "tr")) {
      startRow();
    } else if (named(name, "td") || named(name, "th")) {
      startCell(attributes);
    } else if (named(name, "br") && inCell()) {
      tables_.back().text.lineBreak();
    }
  }

  void end(const xmlChar* name) {
    if (named(name, "script") || named(name, "style")) {
      hidden_ = std::max(0, hidden_ - 1);
    } else if (tables_.empty()) {
      return;
    } else if (named(name, "table")) {
      if (inCell()) endCell(true);
      tables_.pop_back();
      if (!tables_.empty()) resumeAfterNested();
    } else if ((named(name, "td") || named(name, "th")) && inCell()) {
      endCell(true);
    }
  }

  void text(const xmlChar* s, int n) {
    if (hidden_ == 0 && inCell()) tables_.back().text.add(reinterpret_cast<const char*>(s), n);
  }

 private:
  // The cells below a cell with a rowspan, which later rows leave to it.
  struct Span {
    size_t firstRow, lastRow, firstColumn, lastColumn;
  };
  struct Table {
    std::vector<Span> spans;
    bool rowOpen = false, cellOpen = false;
    size_t row = 0, column = 0;
    long colspan = 1, rowspan = 1;
    CellText text;
  };

  bool inCell() const { return !tables_.empty() && tables_.back().cellOpen; }

  void startRow() {
    Table& t = tables_.back();
    if (t.cellOpen) endCell(true);
    t.row = nextRow_++;
    t.column = 0;
    t.rowOpen = true;
  }

  void startCell(const xmlChar** attributes) {
    Table& t = tables_.back();
    if (t.cellOpen) endCell(true);
    if (!t.rowOpen) startRow();
    skipSpannedColumns(t);
    t.colspan = spanOf(attributes, "colspan", kMaxColspan);
    t.rowspan = spanOf(attributes, "rowspan", kMaxRowspan);
    t.cellOpen = true;
  }

  // Places what the cell holds; a cell interrupted by a table stays open.
  void endCell(bool closes) {
    Table& t = tables_.back();
    // The rest of a cell a table interrupted goes on in a row of its own
    // (resumeAfterNested), so nothing is ever placed twice in one cell.
    sheet_.put(t.row, t.column, t.text.take());
    if (!closes) return;
    size_t lastColumn = t.column + static_cast<size_t>(t.colspan) - 1;
    if (t.rowspan > 1)
      t.spans.push_back(
          {t.row + 1, t.row + static_cast<size_t>(t.rowspan) - 1, t.column, lastColumn});
    t.column = lastColumn + 1;
    t.cellOpen = false;
  }

  // Spans end as rows pass; the open ones are at most a row's cells.
  static void skipSpannedColumns(Table& t) {
    std::erase_if(t.spans, [&](const Span& s) { return s.lastRow < t.row; });
    for (bool moved = true; moved;) {
      moved = false;
      for (const Span& s : t.spans)
        if (s.firstRow <= t.row && s.firstColumn <= t.column && t.column <= s.lastColumn) {
          t.column = s.lastColumn + 1;
          moved = true;
        }
    }
  }

  // The outer row goes on below the table that interrupted it.
  void resumeAfterNested() {
    Table& t = tables_.back();
    if (!t.rowOpen) return;
    t.row = nextRow_++;
  }

  Sheet& sheet_;
  std::vector<Table> tables_;  // the open tables, innermost last
  size_t nextRow_ = 0;
  int hidden_ = 0;
};

void onStart(void* layout, const xmlChar* name, const xmlChar** attributes) {
  static_cast<Layout*>(layout)->start(name, attributes);
}
void onEnd(void* layout, const xmlChar* name) { static_cast<Layout*>(layout)->end(name); }
void onText(void* layout, const xmlChar* text, int n) {
  static_cast<Layout*>(layout)->text(text, n);
}
void onProblem(void*, const char*, ...) {}

}  // namespace

Sheet sheetFromHtml(std::string_view html) {
  Sheet sheet;
  Layout layout(sheet);
  htmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.startElement = onStart;
  sax.endElement = onEnd;
  sax.characters = onText;
  sax.cdataBlock = onText;
  sax.warning = onProblem;
  sax.error = onProblem;
  htmlParserCtxtPtr parser =
      htmlCreatePushParserCtxt(&sax, &layout, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
  if (!parser) return sheet;
  htmlCtxtUseOptions(parser, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC);
  for (size_t at = 0; at < html.size(); at += kPiece) {
    size_t n = std::min(kPiece, html.size() - at);
    htmlParseChunk(parser, html.data() + at, static_cast<int>(n), 0);
  }
  htmlParseChunk(parser, nullptr, 0, 1);
  htmlFreeParserCtxt(parser);
  return sheet;
}

Sheet sheetFromHtmlFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(err::kPathFileAccess, "Cannot open '" + path + "'");
  std::stringstream page;
  page << in.rdbuf();
  return sheetFromHtml(page.str());
}

}  // namespace postrix::workbook
