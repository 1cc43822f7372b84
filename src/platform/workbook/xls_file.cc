#include "platform/workbook/xls_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "util/utf8.h"

namespace postrix::workbook {
namespace {

void put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void putDouble(std::string& out, double d) {
  uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof bits);
  put32(out, static_cast<uint32_t>(bits));
  put32(out, static_cast<uint32_t>(bits >> 32));
}
std::string bytes(std::initializer_list<uint8_t> list) {
  return std::string(list.begin(), list.end());
}

// A text as BIFF8 keeps it: a count of UTF-16 units (of `countBytes` bytes),
// the flag for 16-bit characters, then the units, at most maxUnits of them.
std::string unicodeString(std::string_view utf8, size_t maxUnits, int countBytes, bool& cut) {
  std::string units;
  size_t count = 0;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0xFFFD;
    size_t n = utf8At(utf8, i, cp);
    i += n ? n : 1;
    if (!n) cp = 0xFFFD;
    size_t needed = cp > 0xFFFF ? 2 : 1;
    if (count + needed > maxUnits) {
      cut = true;
      break;
    }
    if (cp > 0xFFFF) {
      put16(units, 0xD800 + ((cp - 0x10000) >> 10));
      put16(units, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put16(units, cp);
    }
    count += needed;
  }
  std::string out;
  if (countBytes == 1)
    out += static_cast<char>(count);
  else
    put16(out, static_cast<uint32_t>(count));
  out += '\x01';
  return out + units;
}

class Biff {
 public:
  void record(uint16_t type, const std::string& data) {
    put16(stream_, type);
    put16(stream_, static_cast<uint32_t>(data.size()));
    stream_ += data;
  }
  size_t size() const { return stream_.size(); }
  std::string& stream() { return stream_; }

 private:
  std::string stream_;
};

void bof(Biff& biff, uint16_t kind) {  // kind: 5 workbook globals, 16 worksheet
  std::string data;
  put16(data, 0x0600);
  put16(data, kind);
  put16(data, 0x0DBB);
  put16(data, 0x07CC);
  put32(data, 0);
  put32(data, 6);
  biff.record(0x0809, data);
}

// The globals: one font, the 16 style formats and one cell format that
// readers expect, the Normal style, and the sheet's entry. Returns where the
// entry's offset of the sheet goes.
size_t globals(Biff& biff) {
  bof(biff, 0x0005);
  biff.record(0x0042, bytes({0xB0, 0x04}));  // code page 1200: UTF-16
  biff.record(0x003D,
              bytes({0, 0, 0, 0, 0x00, 0x40, 0x00, 0x20, 0x38, 0, 0, 0, 0, 0, 1, 0, 0x58, 0x02}));
  bool cut = false;
  std::string font = bytes({0xC8, 0, 0, 0, 0xFF, 0x7F, 0x90, 0x01, 0, 0, 0, 0, 0, 0});
  font += unicodeString("Arial", 255, 1, cut);
  for (int i = 0; i < 4; ++i) biff.record(0x0031, font);  // readers skip font 4; four is the least
  const std::string styleXf =
      bytes({0, 0, 0, 0, 0xF5, 0xFF, 0x20, 0, 0, 0xF4, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x20});
  for (int i = 0; i < 15; ++i) biff.record(0x00E0, styleXf);
  biff.record(0x00E0,
              bytes({0, 0, 0, 0, 0x01, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x20}));
  biff.record(0x0293, bytes({0x00, 0x80, 0x00, 0xFF}));  // Normal
  size_t offsetAt = biff.size() + 4;
  std::string sheet = bytes({0, 0, 0, 0, 0, 0});
  sheet += unicodeString("Sheet1", 255, 1, cut);
  biff.record(0x0085, sheet);
  biff.record(0x000A, "");
  return offsetAt;
}

constexpr uint16_t kCellFormat = 15;

void cells(Biff& biff, const Sheet& sheet, WorkbookLoss& loss) {
  size_t rows = std::min(sheet.rows().size(), XlsLimits::kRows);
  size_t columns = 0;
  for (size_t r = 0; r < rows; ++r)
    for (const Cell& cell : sheet.rows()[r])
      if (cell.column < XlsLimits::kColumns) columns = std::max(columns, cell.column + 1);
  std::string dimensions;
  put32(dimensions, 0);
  put32(dimensions, static_cast<uint32_t>(rows));
  put16(dimensions, 0);
  put16(dimensions, static_cast<uint32_t>(columns));
  put16(dimensions, 0);
  biff.record(0x0200, dimensions);
  biff.record(0x023E, bytes({0xB6, 0x06, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (size_t r = 0; r < sheet.rows().size(); ++r) {
    const Row& row = sheet.rows()[r];
    if (r >= XlsLimits::kRows) {
      loss.rowsLeftOut += !row.empty();
      loss.cellsLeftOut += row.size();
      continue;
    }
    for (const Cell& cell : row) {
      if (cell.column >= XlsLimits::kColumns) {
        ++loss.cellsLeftOut;
        continue;
      }
      std::string data;
      put16(data, static_cast<uint32_t>(r));
      put16(data, static_cast<uint32_t>(cell.column));
      put16(data, kCellFormat);
      if (cell.number) {
        putDouble(data, *cell.number);
        biff.record(0x0203, data);
      } else {
        bool cut = false;
        data += unicodeString(cell.text, XlsLimits::kText, 2, cut);
        loss.textsCut += cut;
        biff.record(0x0204, data);
      }
    }
  }
}

// The compound file around one stream named "Workbook": 512-byte sectors
// holding the stream, then the allocation table (and, past 109 sectors of
// it, the sectors that list them), then the one directory sector.
class CompoundFile {
 public:
  static constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFat = 0xFFFFFFFD,
                            kDifat = 0xFFFFFFFC;
  static constexpr size_t kSector = 512;

  static std::string around(std::string stream) {
    // A stream under 4,096 bytes would belong in the mini stream: padding keeps one kind.
    if (stream.size() < 4096) stream.resize(4096, '\0');
    size_t streamBytes = stream.size();
    stream.resize((stream.size() + kSector - 1) / kSector * kSector, '\0');
    uint32_t data = static_cast<uint32_t>(stream.size() / kSector);
    uint32_t fat = 1, difat = 0;
    for (;;) {  // the table covers its own sectors and those that list them
      uint32_t total = data + fat + difat + 1;
      uint32_t neededFat = (total + 127) / 128;
      uint32_t neededDifat = neededFat > 109 ? (neededFat - 109 + 126) / 127 : 0;
      if (neededFat == fat && neededDifat == difat) break;
      fat = neededFat;
      difat = neededDifat;
    }
    std::vector<uint32_t> table(fat * 128, kFree);
    for (uint32_t s = 0; s < data; ++s) table[s] = s + 1 < data ? s + 1 : kEnd;
    for (uint32_t s = 0; s < fat; ++s) table[data + s] = kFat;
    for (uint32_t s = 0; s < difat; ++s) table[data + fat + s] = kDifat;
    uint32_t directory = data + fat + difat;
    table[directory] = kEnd;

    std::string out = header(fat, difat, data, directory);
    out += stream;
    for (uint32_t v : table) put32(out, v);
    for (uint32_t d = 0; d < difat; ++d) {  // FAT sectors 109 and on, 127 a sector
      std::string sector;
      for (uint32_t k = 0; k < 127; ++k) {
        uint32_t index = 109 + d * 127 + k;
        put32(sector, index < fat ? data + index : kFree);
      }
      put32(sector, d + 1 < difat ? data + fat + d + 1 : kEnd);
      out += sector;
    }
    out += directoryEntry("Root Entry", 5, 1, kEnd, 0);
    out += directoryEntry("Workbook", 2, kFree, 0, streamBytes);
    out += directoryEntry("", 0, kFree, 0, 0);
    out += directoryEntry("", 0, kFree, 0, 0);
    return out;
  }

 private:
  static std::string header(uint32_t fat, uint32_t difat, uint32_t firstFat, uint32_t directory) {
    std::string h = bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    h.append(16, '\0');
    put16(h, 0x003E);
    put16(h, 0x0003);
    put16(h, 0xFFFE);
    put16(h, 9);
    put16(h, 6);
    h.append(6, '\0');
    put32(h, 0);  // directory sectors: none counted in version 3
    put32(h, fat);
    put32(h, directory);
    put32(h, 0);
    put32(h, 4096);
    put32(h, kEnd);  // no mini table
    put32(h, 0);
    put32(h, difat ? firstFat + fat : kEnd);
    put32(h, difat);
    for (uint32_t i = 0; i < 109; ++i) put32(h, i < fat ? firstFat + i : kFree);
    return h;
  }

  static std::string directoryEntry(std::string_view name, uint8_t type, uint32_t child,
                                    uint32_t start, size_t size) {
    std::string e;
    for (char c : name) put16(e, static_cast<unsigned char>(c));
    e.resize(64, '\0');
    put16(e, name.empty() ? 0 : static_cast<uint32_t>(name.size() + 1) * 2);
    e += static_cast<char>(type);
    e += static_cast<char>(type ? 1 : 0);  // black
    put32(e, kFree);
    put32(e, kFree);
    put32(e, child);
    e.append(16 + 4 + 8 + 8, '\0');
    put32(e, start);
    put32(e, static_cast<uint32_t>(size));
    put32(e, 0);
    return e;
  }
};

}  // namespace

WorkbookLoss writeXls(const Sheet& sheet, const std::string& path) {
  WorkbookLoss loss;
  loss.cellsLeftOut = sheet.cellsLeftOut();
  Biff biff;
  size_t offsetAt = globals(biff);
  std::string offset;
  put32(offset, static_cast<uint32_t>(biff.size()));
  biff.stream().replace(offsetAt, 4, offset);
  bof(biff, 0x0010);
  cells(biff, sheet, loss);
  biff.record(0x000A, "");
  std::string file = CompoundFile::around(std::move(biff.stream()));
  try {
    files::writeFile(path, file);
  } catch (const Failure&) {
    try {
      files::deleteFile(path);  // half a workbook is worse than none
    } catch (const Failure&) {
    }
    throw;
  }
  return loss;
}

}  // namespace postrix::workbook
