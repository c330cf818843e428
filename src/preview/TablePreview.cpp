#include "preview/TablePreview.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <unordered_map>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "preview/ArchiveList.h"
#include "preview/PreviewKinds.h"

namespace corvan {

namespace {

std::u16string Text(unsigned id) { return Utf8ToUtf16(LoadString(id)); }

// Counts what a grid holds against the kMaxGrid bounds.
struct GridBudget {
  std::size_t cells = 0;
  std::size_t chars = 0;
  bool Take(std::size_t textChars) {
    if (cells >= kMaxGridCells || textChars > kMaxGridChars - chars) return false;
    ++cells;
    chars += textChars;
    return true;
  }
};

// ---- dBASE ----

struct DbfField {
  std::u16string name;
  std::uint8_t length = 0;
};

constexpr std::size_t kMaxDbfFields = 10;

std::vector<DbfField> ReadDbfFields(ByteSource& source) {
  std::vector<DbfField> fields;
  for (std::uint64_t at = 32; fields.size() < kMaxDbfFields; at += 32) {
    std::array<std::uint8_t, 32> d{};
    // The terminator may be the file's last byte: test it on its own.
    if (!source.Read(at, std::span(d.data(), 1)) || d[0] == 0x0D) break;
    if (!source.Read(at, d)) break;
    fields.push_back({ArchiveName(std::string_view(reinterpret_cast<const char*>(d.data()), 11)), d[16]});
  }
  return fields;
}

void AddDbfRows(ByteSource& source, const std::vector<DbfField>& fields, std::uint32_t recordCount,
                std::uint16_t headerLength, std::uint16_t recordLength, TableGrid& grid) {
  // A record length of 0 would read the same bytes for ever.
  if (recordLength == 0) return;
  const std::uint64_t size = source.Size();
  // Only whole records that lie within the file, whatever the header claims.
  const std::uint64_t inFile = size > headerLength ? (size - headerLength) / recordLength : 0;
  const std::uint64_t count = std::min<std::uint64_t>({recordCount, inFile, kMaxGridRows});
  std::vector<std::uint8_t> record(recordLength);
  GridBudget budget;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (source.Stopped()) {
      grid.stopped = true;
      return;
    }
    // Each record starts with its deletion flag, which is not tested: deleted
    // records are shown too. An unreadable record shows empty cells.
    source.Read(headerLength + i * recordLength, record);
    const std::span<const std::uint8_t> data(record.data() + 1, record.size() - 1);
    std::vector<std::u16string> row(fields.size());
    bool shown = false;
    std::size_t pos = 0;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const std::size_t length = fields[f].length;
      // A field longer than the record is left out; its cell stays empty so
      // the fields after it stay under their own headings.
      if (length > recordLength) continue;
      shown = true;
      if (pos < data.size()) {
        const std::size_t n = std::min(length, data.size() - pos);
        row[f] = ArchiveName(std::string_view(reinterpret_cast<const char*>(data.data() + pos), n));
      }
      pos += length;
    }
    if (!shown) return;
    for (const auto& cell : row)
      if (!budget.Take(cell.size())) return;
    grid.rows.push_back(std::move(row));
  }
}

// ---- CSV ----

// RFC 4180 as files are written: LF or CR LF ends a row (a lone CR is text);
// a field that starts with a quote runs to its closing quote, commas and
// line ends included, and "" inside it is one quote. As common readers do,
// a quote inside an unquoted field is text, and text after a closing quote
// joins the field.
class CsvParser {
 public:
  explicit CsvParser(TableGrid& grid) : grid_(grid) {}

  // False once a bound is reached: the rest of the file is not read.
  bool Feed(std::uint8_t byte) {
    if (state_ == State::Quoted) {
      if (byte == '"') state_ = State::QuoteInQuoted;
      else return Append(static_cast<char16_t>(byte));
      return true;
    }
    if (state_ == State::QuoteInQuoted) {
      if (byte == '"') {
        state_ = State::Quoted;
        return Append(u'"');
      }
      state_ = State::Unquoted;  // the field was closed
    }
    if (pendingCr_) {
      pendingCr_ = false;
      if (byte == '\n') return EndLine();
      if (!Append(u'\r')) return false;
      state_ = State::Unquoted;
    }
    switch (byte) {
      case '\r':
        // The line feed may come in the next piece read.
        pendingCr_ = true;
        return true;
      case '\n': return EndLine();
      case ',': return EndCell();
      case '"':
        if (state_ == State::FieldStart) {
          state_ = State::Quoted;
          return true;
        }
        break;
      default: break;
    }
    state_ = State::Unquoted;
    return Append(static_cast<char16_t>(byte));
  }

  void Finish() {
    if (pendingCr_ && !Append(u'\r')) return;
    pendingCr_ = false;
    // A quoted field the file ends in is kept as far as it goes.
    if (!cell_.empty() || column_ != 0 || state_ != State::FieldStart) EndLine();
  }

 private:
  enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };

  bool Append(char16_t c) {
    if (chars_ >= kMaxGridChars) return false;
    ++chars_;
    cell_.push_back(c);
    return true;
  }

  bool EndCell() {
    if (column_ >= grid_.columns.size() && column_ < kMaxGridColumns)
      grid_.columns.push_back({CsvColumnHeading(column_), 100, false});
    if (column_ == 0) {
      if (grid_.rows.size() >= kMaxGridRows || cells_ >= kMaxGridCells) return false;
      grid_.rows.push_back({std::move(cell_)});
      ++cells_;
    } else if (column_ < kMaxGridColumns) {
      if (cells_ >= kMaxGridCells) return false;
      grid_.rows.back().push_back(std::move(cell_));
      ++cells_;
    }
    cell_.clear();
    ++column_;
    state_ = State::FieldStart;
    return true;
  }

  bool EndLine() {
    if (!EndCell()) return false;
    column_ = 0;
    return true;
  }

  TableGrid& grid_;
  std::u16string cell_;
  std::size_t column_ = 0;
  std::size_t cells_ = 0;
  std::size_t chars_ = 0;
  State state_ = State::FieldStart;
  bool pendingCr_ = false;
};

// ---- MDF ----

constexpr std::size_t kPageBytes = 8192;
constexpr std::size_t kPageHeaderBytes = 96;
constexpr std::size_t kMaxSlots = (kPageBytes - kPageHeaderBytes) / 2;

struct MdfPage {
  std::uint64_t offset = 0;
  std::uint16_t slots = 0;
};

// One page in memory with its torn bits. Every field is read through At,
// which refuses what does not lie within the page and mends the torn byte.
class PageReader {
 public:
  bool Load(ByteSource& source, const MdfPage& page) {
    bytes_.resize(kPageBytes);
    if (!source.Read(page.offset, bytes_)) return false;
    torn_ = GetLE32(bytes_.data() + 60);
    return true;
  }

  bool Has(std::size_t offset, std::size_t count) const { return offset <= kPageBytes && count <= kPageBytes - offset; }

  // `count` bytes at page offset `offset` as read, with the torn byte mended
  // when `repair` is set.
  bool At(std::size_t offset, std::size_t count, bool repair, std::vector<std::uint8_t>& out) const {
    if (!Has(offset, count)) return false;
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
               bytes_.begin() + static_cast<std::ptrdiff_t>(offset + count));
    if (repair) RepairTornByte(offset, out);
    return true;
  }

  // Bytes the caller has checked with Has.
  std::uint8_t Byte(std::size_t offset) const { return bytes_[offset]; }
  std::uint16_t U16(std::size_t offset) const { return GetLE16(bytes_.data() + offset); }

  // Slot k's record offset, slots in order 0, 1, 2, ...
  std::vector<std::uint16_t> Slots(std::uint16_t count) const {
    std::vector<std::uint16_t> slots;
    std::vector<std::uint8_t> entry;
    for (std::size_t k = 0; k < count; ++k) {
      At(kPageBytes - 2 * (k + 1), 2, true, entry);
      slots.push_back(GetLE16(entry.data()));
    }
    return slots;
  }

 private:
  // A page is written sector by sector; the last byte of each sector 1..15
  // keeps two of its bits in the header's torn bits. A read that starts
  // inside a sector and covers its last byte gets that byte's low two bits
  // back.
  void RepairTornByte(std::size_t offset, std::vector<std::uint8_t>& out) const {
    if (offset % 512 == 0) return;
    const std::size_t s = offset / 512;
    const std::size_t last = s * 512 + 511;
    if (s == 0 || last >= offset + out.size()) return;
    std::uint8_t& b = out[last - offset];
    b = static_cast<std::uint8_t>((b & 0xFC) | ((torn_ >> (2 * s)) & 3));
  }

  std::vector<std::uint8_t> bytes_;
  std::uint32_t torn_ = 0;
};

// A UTF-16 name of `end - start` bytes at record offsets [start, end),
// cut at its first NUL and at kMaxMdfNameChars.
bool ReadMdfName(const PageReader& page, std::size_t record, std::size_t start, std::size_t end,
                 std::u16string& name) {
  if (end < start) return false;
  std::vector<std::uint8_t> bytes;
  if (!page.At(record + start, end - start, true, bytes)) return false;
  name = GetUtf16Field(bytes.data(), std::min(bytes.size() / 2, kMaxMdfNameChars));
  return true;
}

bool Deleted(std::uint8_t status) { return status == 0x1C || status == 0x3C; }

class MdfWalk {
 public:
  MdfWalk(ByteSource& source, std::vector<MdfTable>& tables) : source_(source), tables_(tables) {}

  bool Run() {
    ClassifyPages();
    const bool found = ReadTables();
    pages1_.clear();
    if (found) ReadColumns();
    return found;
  }

  bool Stopped() const { return stopped_; }

 private:
  bool CheckStop() {
    if (source_.Stopped()) stopped_ = true;
    return stopped_;
  }

  // The data pages (header bytes 1, 1) of object 1 (tables) and object 3
  // (columns). A page whose slot count cannot fit in a page is left out.
  void ClassifyPages() {
    const std::uint64_t pages = source_.Size() / kPageBytes;
    for (std::uint64_t p = 0; p < pages; ++p) {
      if (CheckStop()) return;
      std::array<std::uint8_t, 28> header{};
      const std::uint64_t offset = p * kPageBytes;
      if (!source_.Read(offset, std::span(header.data(), 2))) return;
      if (header[0] != 1 || header[1] != 1) continue;
      if (!source_.Read(offset, header)) return;
      const std::uint32_t object = GetLE32(header.data() + 24);
      const std::uint16_t slots = GetLE16(header.data() + 22);
      if (slots > kMaxSlots) continue;
      if (object == 1) pages1_.push_back({offset, slots});
      if (object == 3) pages3_.push_back({offset, slots});
    }
  }

  // Rows of object 1: user tables ("U "), "dtproperties" left out.
  bool ReadTables() {
    bool found = false;
    PageReader page;
    std::vector<std::uint8_t> field;
    for (const MdfPage& p : pages1_) {
      if (CheckStop() || !page.Load(source_, p)) break;
      for (const std::uint16_t r : page.Slots(p.slots)) {
        if (tables_.size() >= kMaxMdfTables) return found;
        // A record offset inside the header or past the fields read is refused.
        if (r < kPageHeaderBytes || !page.Has(r, 52)) continue;
        if (Deleted(page.Byte(r)) || page.Byte(r + 2) != 0x2A) continue;
        page.At(r + 4, 4, true, field);
        const std::uint32_t object = GetLE32(field.data());
        if (page.Byte(r + 8) != 'U' || page.Byte(r + 9) != ' ') continue;
        // The name is the first variable-length column; where its end offset
        // lies depends on the number of columns.
        const bool few = page.Byte(r + 42) < 16;
        const std::size_t start = few ? 50 : 52;
        const std::size_t end = page.U16(r + (few ? 48 : 50));
        std::u16string name;
        if (!ReadMdfName(page, r, start, end, name)) continue;
        if (EqualsNoCase(name, u"dtproperties")) continue;
        tables_.push_back({std::move(name), object, {}});
        found = true;
      }
    }
    return found;
  }

  // Rows of object 3: each column goes to every table of its object id.
  void ReadColumns() {
    std::unordered_multimap<std::uint32_t, std::size_t> byObject;
    for (std::size_t t = 0; t < tables_.size(); ++t) byObject.emplace(tables_[t].objectId, t);
    std::size_t columns = 0;
    PageReader page;
    std::vector<std::uint8_t> field;
    std::vector<std::uint8_t> block;
    for (const MdfPage& p : pages3_) {
      if (CheckStop() || !page.Load(source_, p)) break;
      for (const std::uint16_t r : page.Slots(p.slots)) {
        if (r < kPageHeaderBytes || !page.Has(r, 56)) continue;
        if (Deleted(page.Byte(r)) || page.Byte(r + 2) != 0x2E) continue;
        page.At(r + 4, 4, true, field);
        const auto [first, last] = byObject.equal_range(GetLE32(field.data()));
        if (first == last) continue;
        page.At(r + 8, 48, true, block);
        MdfColumn column;
        column.typeCode = block[0];
        column.flags = block[1];
        column.length = GetLE16(block.data() + 4);
        // Record bytes 46 (column count) and 22 tell where the name lies.
        const bool wide = block[38] == 0x20;
        std::size_t start = wide ? 56 : 55;
        if ((block[14] & 0x0F) % 2 == 1) start += 2;
        const std::size_t end = page.U16(r + (wide ? 54 : 53));
        if (!ReadMdfName(page, r, start, end, column.name)) continue;
        for (auto it = first; it != last; ++it) {
          if (columns >= kMaxMdfColumns) return;
          tables_[it->second].columns.push_back(column);
          ++columns;
        }
      }
    }
  }

  ByteSource& source_;
  std::vector<MdfTable>& tables_;
  std::vector<MdfPage> pages1_;
  std::vector<MdfPage> pages3_;
  bool stopped_ = false;
};

}  // namespace

int TableModeOfName(std::u16string_view name) {
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return 0;
  const std::u16string_view ext = name.substr(dot + 1);
  if (EqualsNoCase(ext, u"DBF")) return 1;
  if (EqualsNoCase(ext, u"CSV")) return 2;
  if (EqualsNoCase(ext, u"MDF")) return 3;
  return 0;
}

bool ReadDbfTable(ByteSource& source, TableGrid& grid) {
  grid = {};
  std::array<std::uint8_t, 32> header{};
  if (!source.Read(0, header)) return false;
  if (header[0] != 3 && header[0] != 0x30) return false;
  const std::vector<DbfField> fields = ReadDbfFields(source);
  if (fields.empty()) return true;
  for (const auto& f : fields) grid.columns.push_back({f.name, 100, true});
  AddDbfRows(source, fields, GetLE32(header.data() + 4), GetLE16(header.data() + 8),
             GetLE16(header.data() + 10), grid);
  return true;
}

std::u16string CsvColumnHeading(std::size_t n) {
  // Bijective base 26, as spreadsheets letter their columns.
  std::u16string out;
  for (std::size_t v = n + 1; v > 0; v = (v - 1) / 26) out.insert(out.begin(), static_cast<char16_t>(u'A' + (v - 1) % 26));
  return out;
}

bool ReadCsvGrid(ByteSource& source, std::u16string_view name, TableGrid& grid) {
  grid = {};
  grid.columns.push_back({CsvColumnHeading(0), 100, false});
  if (!NameEndsWith(name, u".csv")) return false;
  CsvParser parser(grid);
  const std::uint64_t size = source.Size();
  // Sector-sized pieces: a bad sector blanks its own bytes, not the lines
  // around it.
  constexpr std::size_t kPiece = 512;
  std::vector<std::uint8_t> piece;
  for (std::uint64_t at = 0; at < size; at += kPiece) {
    if (source.Stopped()) {
      grid.stopped = true;
      return true;
    }
    piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - at)));
    // An unreadable piece parses as zero bytes.
    source.Read(at, piece);
    for (const std::uint8_t b : piece)
      if (!parser.Feed(b)) return true;
  }
  parser.Finish();
  return true;
}

bool ReadMdfTables(ByteSource& source, std::u16string_view name, std::vector<MdfTable>& tables, bool* stopped) {
  tables.clear();
  if (stopped) *stopped = false;
  if (!NameEndsWith(name, u".mdf")) return false;
  MdfWalk walk(source, tables);
  const bool found = walk.Run();
  if (stopped) *stopped = walk.Stopped();
  return found;
}

std::vector<TableGrid::Column> MdfGridColumns() {
  return {{Text(kIdsNameHeading), 220, false}, {Text(kIdsDataTypeHeading), 100, true}, {Text(kIdsSizeHeading), 80, true}, {u"NULL", 100, false}};
}

TableGrid MdfColumnsGrid(const MdfTable& table) {
  TableGrid grid;
  grid.columns = MdfGridColumns();
  // Each column goes in at the top: the last found shows first.
  for (auto c = table.columns.rbegin(); c != table.columns.rend(); ++c) {
    char type[8], length[8];
    std::snprintf(type, sizeof type, "%d", c->typeCode);
    std::snprintf(length, sizeof length, "%d", c->length);
    grid.rows.push_back({c->name, FromAscii(type), FromAscii(length), (c->flags & 1) ? u"Allow Null" : u"Not Null"});
  }
  return grid;
}

}  // namespace corvan
