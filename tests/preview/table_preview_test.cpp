// Database files as grids. CSV files are checked against Python's csv module
// (quoted fields, LF and CR LF lines: the two read the same), dBASE tables are written by
// a small writer after the published dBASE III layout and read back by an
// independent Python reader, and MDF data pages are laid out by hand from the
// page and record layout (header, slot array at the page end, torn bits).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "preview/TablePreview.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using Rows = std::vector<std::vector<std::u16string>>;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Runs a Python script on `input` and reads back rows it writes as UTF-16LE,
// cells ended by U+001F and rows by U+001E.
Rows PythonRows(const char* script, const std::string& input) {
  test::TempDir dir;
  test::WriteWholeFile(dir / "in", input);
  test::WriteWholeFile(dir / "reader.py", script);
  const std::string command = "python3 '" + (dir / "reader.py").string() + "' '" + (dir / "in").string() + "'";
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0) << command;
  }
  Rows rows;
  std::vector<std::u16string> row;
  std::u16string cell;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    const auto c = static_cast<char16_t>(static_cast<unsigned char>(out[i]) | (static_cast<unsigned char>(out[i + 1]) << 8));
    if (c == 0x1F) {
      row.push_back(std::move(cell));
      cell.clear();
    } else if (c == 0x1E) {
      rows.push_back(std::move(row));
      row.clear();
    } else {
      cell.push_back(c);
    }
  }
  return rows;
}

// ---------------------------------------------------------------- CSV

constexpr const char* kPythonCsv = R"(
import csv, sys
out = sys.stdout.buffer
with open(sys.argv[1], newline='', encoding='latin-1') as f:
    for row in csv.reader(f):
        out.write(''.join(c + '\x1f' for c in row).encode('utf-16-le') + '\x1e'.encode('utf-16-le'))
)";

// A blank line is one empty cell in the grid and an empty row to Python.
Rows PythonCsv(const std::string& file) {
  Rows rows = PythonRows(kPythonCsv, file);
  for (auto& r : rows)
    if (r.empty()) r.push_back(u"");
  return rows;
}

TableGrid Csv(const std::string& file, std::u16string_view name = u"data.csv") {
  MemoryByteSource source(Bytes(file));
  TableGrid grid;
  EXPECT_TRUE(ReadCsvGrid(source, name, grid));
  return grid;
}

std::vector<std::u16string> Headings(const TableGrid& grid) {
  std::vector<std::u16string> out;
  for (const auto& c : grid.columns) out.push_back(c.heading);
  return out;
}

TEST(CsvGrid, AgreesWithPythonsCsvReader) {
  const std::string files[] = {
      "name,size,date\r\nalpha,1,2020\r\nbeta,22,2021\r\n",
      // As written on Linux: LF ends each line.
      "name,size,date\nalpha,1,2020\nbeta,22,2021\n",
      // Ragged rows, empty cells, a blank line, no final line break.
      "a\r\nb,c,,d\r\n\r\n,e\r\nlast,line",
      "a\nb,c,,d\n\n,e\nlast,line",
      // A quoted field keeps its commas and line ends, and "" is one quote.
      "\"Smith, J\",42\n\"say \"\"hi\"\"\",\"two\nlines\",\"crlf\r\ninside\"\r\n\"\",x\n",
      // A quote inside an unquoted field is text; text after a closing quote
      // joins the field; single quotes are ordinary.
      "ab\"c,\"q\"rest,'s'\n",
      // A file that ends inside a quoted field keeps what it has.
      "a,\"open, never closed\nstill open",
      // Latin-1 bytes become the characters of the same value.
      std::string("caf\xE9,\x80\xFF\r\n\xA0\r\n"),
      // A comma as the last byte leaves an empty pending cell.
      "a,b,",
      "",
  };
  for (const auto& f : files) {
    const TableGrid grid = Csv(f);
    EXPECT_EQ(grid.rows, PythonCsv(f)) << f;
    std::size_t widest = 1;
    for (const auto& r : grid.rows) widest = std::max(widest, r.size());
    ASSERT_EQ(grid.columns.size(), widest) << f;
    for (const auto& c : grid.columns) {
      EXPECT_EQ(c.width, 100);
      EXPECT_FALSE(c.rightAligned);
    }
  }
  EXPECT_EQ(Headings(Csv("a\r\nb,c,,d\r\n")), (std::vector<std::u16string>{u"A", u"B", u"C", u"D"}));
  EXPECT_EQ(Csv("\"Smith, J\",42\n").rows, (Rows{{u"Smith, J", u"42"}}));
}

TEST(CsvGrid, LineEndsAndQuotesAcrossReadPieces) {
  // CRLF straddling offsets 512 and 65536: the CR is the last byte of one
  // piece read and the LF the first of the next. Then a doubled quote and a
  // closing quote followed by CR LF, split the same way.
  for (const std::size_t at : {std::size_t{511}, std::size_t{65535}}) {
    std::string f;
    int n = 0;
    while (f.size() + 20 < at) f.append("row").append(std::to_string(n++)).append(",v\r\n");
    f += std::string(at - f.size(), 'x') + "\r\nafter,it\r\nend";
    ASSERT_EQ(f.substr(at, 2), "\r\n");
    TableGrid grid = Csv(f);
    EXPECT_EQ(grid.rows, PythonCsv(f));
    EXPECT_EQ(grid.rows.back(), std::vector<std::u16string>{u"end"});

    std::string q = "\"";
    q += std::string(at - 1, 'y') + "\"\"z\"\r\nnext";
    ASSERT_EQ(q.substr(at, 2), "\"\"");
    grid = Csv(q);
    EXPECT_EQ(grid.rows, PythonCsv(q));
    ASSERT_EQ(grid.rows.size(), 2u);
    EXPECT_EQ(grid.rows[0][0].substr(at - 1), u"\"z");
  }
}

TEST(CsvGrid, ALoneCarriageReturnStaysInTheCell) {
  // LF and CR LF end a row; a CR that no LF follows is part of the cell.
  const TableGrid grid = Csv("a\nb,c\r\nd\re,f\r\r\n");
  EXPECT_EQ(grid.rows, (Rows{{u"a"}, {u"b", u"c"}, {u"d\re", u"f\r"}}));
}

TEST(CsvGrid, ColumnsPastZAreLetteredLikeASpreadsheet) {
  std::string line;
  for (int i = 0; i < 30; ++i) {
    if (i) line += ',';
    line += std::to_string(i);
  }
  const TableGrid grid = Csv(line + "\r\n");
  EXPECT_EQ(grid.rows, PythonCsv(line + "\r\n"));
  const auto h = Headings(grid);
  ASSERT_EQ(h.size(), 30u);
  EXPECT_EQ(h[25], u"Z");
  EXPECT_EQ(h[26], u"AA");
  EXPECT_EQ(h[29], u"AD");
  EXPECT_EQ(CsvColumnHeading(26 * 27 - 1), u"ZZ");
  EXPECT_EQ(CsvColumnHeading(26 * 27), u"AAA");
}

TEST(CsvGrid, OnlyCsvNamesAndBoundedGrids) {
  const std::string small = "a,b\r\n";
  MemoryByteSource source(Bytes(small));
  TableGrid grid;
  EXPECT_FALSE(ReadCsvGrid(source, u"data.txt", grid));
  EXPECT_FALSE(ReadCsvGrid(source, u"csv", grid));
  EXPECT_TRUE(ReadCsvGrid(source, u"DATA.CSV", grid));
  EXPECT_EQ(grid.rows, (Rows{{u"a", u"b"}}));

  // More cells than the grid keeps on a line: the first columns only.
  std::string wide;
  for (std::size_t i = 0; i < kMaxGridColumns + 40; ++i) wide += "c,";
  wide += "\r\nnext\r\n";
  grid = Csv(wide);
  EXPECT_EQ(grid.columns.size(), kMaxGridColumns);
  ASSERT_EQ(grid.rows.size(), 2u);
  EXPECT_EQ(grid.rows[0].size(), kMaxGridColumns);
  EXPECT_EQ(grid.rows[1], std::vector<std::u16string>{u"next"});

  // More lines than the grid keeps.
  std::string tall;
  for (std::size_t i = 0; i < kMaxGridRows + 10; ++i) tall += "x\r\n";
  grid = Csv(tall);
  EXPECT_EQ(grid.rows.size(), kMaxGridRows);
}

// ---------------------------------------------------------------- dBASE

struct DbfSpec {
  std::string name;
  char type;
  std::uint8_t length;
};

void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  Put16(s, at, static_cast<std::uint16_t>(v));
  Put16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// A dBASE III table: 32-byte header, 32-byte field descriptors, the 0x0D
// terminator, then the records (deletion flag and the fields, space-padded).
std::string DbfFile(const std::vector<DbfSpec>& fields, const std::vector<std::vector<std::string>>& records,
                    std::uint8_t version = 3, bool endMark = true) {
  std::size_t recordLength = 1;
  for (const auto& f : fields) recordLength += f.length;
  std::string s(32, '\0');
  s[0] = static_cast<char>(version);
  s[1] = 124, s[2] = 5, s[3] = 17;  // last update YY MM DD
  Put32(s, 4, static_cast<std::uint32_t>(records.size()));
  Put16(s, 8, static_cast<std::uint16_t>(32 + 32 * fields.size() + 1));
  Put16(s, 10, static_cast<std::uint16_t>(recordLength));
  for (const auto& f : fields) {
    std::string d(32, '\0');
    std::memcpy(d.data(), f.name.data(), std::min<std::size_t>(f.name.size(), 10));
    d[11] = f.type;
    d[16] = static_cast<char>(f.length);
    s += d;
  }
  s += '\x0D';
  for (std::size_t r = 0; r < records.size(); ++r) {
    s += r % 3 == 2 ? '*' : ' ';  // every third record deleted
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::string v = records[r][i];
      v.resize(fields[i].length, ' ');
      s += v;
    }
  }
  if (endMark) s += '\x1A';
  return s;
}

// Reads a dBASE table after the published layout: the field names (at most
// the first ten), then every whole record's fields, Windows-1252.
constexpr const char* kPythonDbf = R"(
import struct, sys
data = open(sys.argv[1], 'rb').read()
count, header_len, record_len = struct.unpack('<IHH', data[4:12])
fields = []
pos = 32
while data[pos] != 0x0D:
    fields.append((data[pos:pos + 11].split(b'\0')[0].decode('cp1252'), data[pos + 16]))
    pos += 32
fields = fields[:10]
out = sys.stdout.buffer
def row(cells):
    out.write(''.join(c + '\x1f' for c in cells).encode('utf-16-le') + '\x1e'.encode('utf-16-le'))
row([n for n, _ in fields])
for r in range(count):
    start = header_len + r * record_len
    if start + record_len > len(data):
        break
    pos = start + 1
    cells = []
    for _, length in fields:
        cells.append(data[pos:pos + length].split(b'\0')[0].decode('cp1252'))
        pos += length
    row(cells)
)";

void ExpectDbfLikePython(const std::string& file, std::size_t expectedRecords) {
  MemoryByteSource source(Bytes(file));
  TableGrid grid;
  ASSERT_TRUE(ReadDbfTable(source, grid));
  Rows truth = PythonRows(kPythonDbf, file);
  ASSERT_FALSE(truth.empty());
  EXPECT_EQ(Headings(grid), truth.front());
  for (const auto& c : grid.columns) {
    EXPECT_EQ(c.width, 100);
    EXPECT_TRUE(c.rightAligned);
  }
  truth.erase(truth.begin());
  EXPECT_EQ(truth.size(), expectedRecords);
  EXPECT_EQ(grid.rows, truth);
}

TEST(DbfTable, FieldsAndRecordsAgreeWithAnIndependentReader) {
  const std::vector<DbfSpec> three = {{"NAME", 'C', 12}, {"QTY", 'N', 5}, {"SINCE", 'D', 8}};
  const std::vector<std::vector<std::string>> records = {
      {"Anna", "   12", "20200131"}, {"Bj\xF6rn", "    7", "19991231"}, {"deleted", "    0", "20010101"},
      {"", "", ""},                  {"Zo\xEB Full Wid", "12345", "20240229"},
  };
  ExpectDbfLikePython(DbfFile(three, records), records.size());
  ExpectDbfLikePython(DbfFile(three, records, 0x30), records.size());
  // Without the end mark the last record still lies wholly within the file.
  ExpectDbfLikePython(DbfFile(three, records, 3, false), records.size());

  // Twelve fields: the first ten are shown.
  std::vector<DbfSpec> twelve;
  std::vector<std::string> values;
  for (int i = 0; i < 12; ++i) {
    twelve.push_back({std::string("F").append(std::to_string(i)), 'C', static_cast<std::uint8_t>(3 + i)});
    values.push_back(std::string("v").append(std::to_string(i)));
  }
  const std::string wide = DbfFile(twelve, {values, values});
  ExpectDbfLikePython(wide, 2);
  MemoryByteSource source(Bytes(wide));
  TableGrid grid;
  ASSERT_TRUE(ReadDbfTable(source, grid));
  EXPECT_EQ(grid.columns.size(), 10u);

  // Records longer than 512 bytes are read whole.
  std::vector<DbfSpec> long_fields;
  std::vector<std::string> long_values;
  for (int i = 0; i < 4; ++i) {
    long_fields.push_back({std::string("L").append(std::to_string(i)), 'C', 250});
    long_values.push_back(std::string(240, static_cast<char>('a' + i)).append("end").append(std::to_string(i)));
  }
  ExpectDbfLikePython(DbfFile(long_fields, {long_values, long_values, long_values}), 3);
}

TEST(DbfTable, OnlyDbaseVersions) {
  const std::vector<DbfSpec> one = {{"A", 'C', 4}};
  for (const int version : {0x02, 0x83, 0x8B, 0xF5, 0x00}) {
    const std::string f = DbfFile(one, {{"x"}}, static_cast<std::uint8_t>(version));
    MemoryByteSource source(Bytes(f));
    TableGrid grid;
    EXPECT_FALSE(ReadDbfTable(source, grid)) << version;
  }
  const std::string three("\x03\0\0", 3);
  MemoryByteSource tiny(Bytes(three));
  TableGrid grid;
  EXPECT_FALSE(ReadDbfTable(tiny, grid));
}

TEST(DbfTable, DamagedHeadersAreBounded) {
  const std::vector<DbfSpec> two = {{"A", 'C', 4}, {"B", 'C', 3}};
  const std::vector<std::vector<std::string>> records = {{"aaaa", "bbb"}, {"cccc", "ddd"}, {"eeee", "fff"}};

  // A record length of 0: the header only, no rows.
  std::string f = DbfFile(two, records);
  Put16(f, 10, 0);
  MemoryByteSource zero(Bytes(f));
  TableGrid grid;
  ASSERT_TRUE(ReadDbfTable(zero, grid));
  EXPECT_EQ(Headings(grid), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_TRUE(grid.rows.empty());

  // Four billion records claimed: the records the file holds.
  f = DbfFile(two, records);
  Put32(f, 4, 0xFFFFFFFF);
  ExpectDbfLikePython(f, 3);

  // A cut file: its last, partial record is not shown.
  f = DbfFile(two, records, 3, false);
  f.resize(f.size() - 2);
  ExpectDbfLikePython(f, 2);

  // A field longer than the whole record is left out of the rows and does
  // not move the position; the fields after it stay under their own headings.
  f = DbfFile({{"A", 'C', 4}, {"B", 'C', 3}, {"C", 'C', 2}}, {{"aaaa", "bbb", "cc"}});
  f[32 + 32 + 16] = static_cast<char>(200);  // B claims 200 bytes of a 10-byte record
  MemoryByteSource longer(Bytes(f));
  ASSERT_TRUE(ReadDbfTable(longer, grid));
  EXPECT_EQ(grid.rows, (Rows{{u"aaaa", u"", u"bb"}}));
}

// ---------------------------------------------------------------- MDF

constexpr std::size_t kPage = 8192;

// One 8 KiB page as the engine writes it: header, records from offset 96,
// the slot array growing down from the page end.
struct PageBuilder {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kPage, 0);
  std::vector<std::uint16_t> slots;
  std::size_t next = 96;

  PageBuilder(std::uint32_t objectId, std::uint8_t type = 1) {
    bytes[0] = 1;
    bytes[1] = type;
    Set32(24, objectId);
  }
  void Set16(std::size_t at, std::uint16_t v) {
    bytes[at] = static_cast<std::uint8_t>(v);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Set32(std::size_t at, std::uint32_t v) {
    Set16(at, static_cast<std::uint16_t>(v));
    Set16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  // Places a record at `at` (or the next free offset) and gives it a slot.
  std::size_t Add(const std::vector<std::uint8_t>& record, std::size_t at = 0) {
    if (at == 0) {
      at = next;
      next += record.size();
    }
    std::copy(record.begin(), record.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    slots.push_back(static_cast<std::uint16_t>(at));
    return at;
  }
  // The finished page; with `torn`, the last byte of each sector 1..15 is
  // written with other low bits and its own two kept in the header.
  std::vector<std::uint8_t> Build(bool torn = false) {
    for (std::size_t k = 0; k < slots.size(); ++k) Set16(kPage - 2 * (k + 1), slots[k]);
    Set16(22, static_cast<std::uint16_t>(slots.size()));
    if (torn) {
      std::uint32_t bits = 0;
      for (std::uint32_t s = 1; s < 16; ++s) {
        std::uint8_t& b = bytes[s * 512 + 511];
        bits |= std::uint32_t{b & 3u} << (2 * s);
        b = static_cast<std::uint8_t>((b & 0xFC) | (~b & 3));
      }
      Set32(60, bits);
    }
    return bytes;
  }
};

void PutName(std::vector<std::uint8_t>& r, std::size_t at, std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    r[at + 2 * i] = static_cast<std::uint8_t>(name[i]);
    r[at + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
}

// A row of the objects table: fixed part of 42 bytes, type "U " for a user
// table, the name as the first variable-length column.
std::vector<std::uint8_t> TableRow(std::uint32_t id, std::u16string_view name, std::uint8_t columnCount = 12,
                                   const char* type = "U ", std::uint8_t status = 0x30) {
  const std::size_t start = columnCount < 16 ? 50 : 52;
  std::vector<std::uint8_t> r(start + 2 * name.size(), 0);
  r[0] = status;
  r[2] = 42;
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(id >> (8 * i));
  r[8] = static_cast<std::uint8_t>(type[0]);
  r[9] = static_cast<std::uint8_t>(type[1]);
  r[42] = columnCount;
  const std::size_t endAt = columnCount < 16 ? 48 : 50;
  r[endAt] = static_cast<std::uint8_t>(r.size());
  r[endAt + 1] = static_cast<std::uint8_t>(r.size() >> 8);
  PutName(r, start, name);
  return r;
}

// A row of the columns table: fixed part of 46 bytes.
std::vector<std::uint8_t> ColumnRow(std::uint32_t id, std::u16string_view name, std::uint8_t typeCode,
                                    std::uint16_t length, bool nullable, std::uint8_t columnCount = 0x20,
                                    std::uint8_t byte22 = 0) {
  std::size_t start = columnCount == 0x20 ? 56 : 55;
  if ((byte22 & 0x0F) % 2 == 1) start += 2;
  std::vector<std::uint8_t> r(start + 2 * name.size(), 0);
  r[0] = 0x30;
  r[2] = 46;
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(id >> (8 * i));
  r[8] = typeCode;
  r[9] = nullable ? 0x01 : 0x00;
  r[12] = static_cast<std::uint8_t>(length);
  r[13] = static_cast<std::uint8_t>(length >> 8);
  r[22] = byte22;
  r[46] = columnCount;
  const std::size_t endAt = columnCount == 0x20 ? 54 : 53;
  r[endAt] = static_cast<std::uint8_t>(r.size());
  r[endAt + 1] = static_cast<std::uint8_t>(r.size() >> 8);
  PutName(r, start, name);
  return r;
}

std::vector<std::uint8_t> Join(const std::vector<std::vector<std::uint8_t>>& pages) {
  std::vector<std::uint8_t> out;
  for (const auto& p : pages) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Fails the test when a read runs outside the page it starts in.
class PageBoundSource final : public ByteSource {
 public:
  explicit PageBoundSource(std::span<const std::uint8_t> bytes) : inner_(bytes) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    EXPECT_LE(offset % kPage + out.size(), kPage) << "read at " << offset << " of " << out.size();
    return inner_.Read(offset, out);
  }

 private:
  MemoryByteSource inner_;
};

std::vector<MdfTable> Mdf(const std::vector<std::uint8_t>& file, bool expectFound = true) {
  PageBoundSource source(file);
  std::vector<MdfTable> tables;
  bool stopped = true;
  EXPECT_EQ(ReadMdfTables(source, u"sales.mdf", tables, &stopped), expectFound);
  EXPECT_FALSE(stopped);
  return tables;
}

TEST(MdfTables, UserTablesAndTheirColumns) {
  PageBuilder boot(9);  // a data page of another object
  boot.Add(TableRow(77, u"NotATable"));
  PageBuilder objects(1);
  objects.Add(TableRow(101, u"Orders"));
  objects.Add(TableRow(102, u"Customers", 20));  // 16 columns or more: end offset at 50
  objects.Add(TableRow(103, u"sysobjects", 12, "S "));
  objects.Add(TableRow(104, u"Gone", 12, "U ", 0x3C));
  objects.Add(TableRow(105, u"dtproperties"));
  PageBuilder columns(3);
  columns.Add(ColumnRow(101, u"OrderId", 56, 4, false));
  columns.Add(ColumnRow(102, u"CustName", 231, 80, true, 0x11));
  columns.Add(ColumnRow(101, u"Placed", 61, 8, true, 0x20, 0x03));
  columns.Add(ColumnRow(103, u"id", 56, 4, false));
  PageBuilder more(3);
  more.Add(ColumnRow(101, u"Total", 60, 8, false, 0x07, 0x01));
  // An index page (type 2) of object 3 is not read.
  PageBuilder index(3, 2);
  index.Add(ColumnRow(101, u"Phantom", 56, 4, false));
  const auto tables = Mdf(Join({boot.Build(), objects.Build(), columns.Build(), index.Build(), more.Build()}));

  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].name, u"Orders");
  EXPECT_EQ(tables[0].objectId, 101u);
  EXPECT_EQ(tables[1].name, u"Customers");
  const TableGrid orders = MdfColumnsGrid(tables[0]);
  EXPECT_EQ(orders.rows, (Rows{{u"Total", u"60", u"8", u"Not Null"},
                               {u"Placed", u"61", u"8", u"Allow Null"},
                               {u"OrderId", u"56", u"4", u"Not Null"}}));
  EXPECT_EQ(MdfColumnsGrid(tables[1]).rows, (Rows{{u"CustName", u"231", u"80", u"Allow Null"}}));

  const auto cols = MdfGridColumns();
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0].heading, u"Name");
  EXPECT_EQ(cols[1].heading, u"Data type");
  EXPECT_EQ(cols[2].heading, u"Size");
  EXPECT_EQ(cols[3].heading, u"NULL");
  EXPECT_EQ((std::vector<int>{cols[0].width, cols[1].width, cols[2].width, cols[3].width}),
            (std::vector<int>{220, 100, 80, 100}));
  EXPECT_EQ((std::vector<bool>{cols[0].rightAligned, cols[1].rightAligned, cols[2].rightAligned, cols[3].rightAligned}),
            (std::vector<bool>{false, true, true, false}));
  EXPECT_EQ(orders.columns.size(), 4u);
}

TEST(MdfTables, TornSectorEndsAreMended) {
  PageBuilder objects(1);
  // The object id runs over the end of sector 3 (byte 2047), a name over the
  // end of sector 7 (byte 4095); every slot entry's high byte lies at the end
  // of sector 15 or below.
  objects.Add(TableRow(0x01020304, u"Ledger"), 2042);
  objects.Add(TableRow(0x7777, u"Inventory"), 4095 - 50 - 5);
  PageBuilder columns(3);
  // The type code is the last byte of sector 11.
  columns.Add(ColumnRow(0x01020304, u"Amount", 106, 9, true), 6143 - 8);
  const auto tables = Mdf(Join({objects.Build(true), columns.Build(true)}));
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].name, u"Ledger");
  EXPECT_EQ(tables[0].objectId, 0x01020304u);
  EXPECT_EQ(tables[1].name, u"Inventory");
  EXPECT_EQ(MdfColumnsGrid(tables[0]).rows, (Rows{{u"Amount", u"106", u"9", u"Allow Null"}}));
}

TEST(MdfTables, DamagedPagesAreRefusedWithinThePage) {
  PageBuilder good(1);
  good.Add(TableRow(1, u"Kept"));
  good.slots.push_back(0xFFF0);  // a record offset past the page
  good.slots.push_back(40);      // inside the header
  // A record near the page end whose name would run past it.
  auto tail = TableRow(2, u"Tail");
  good.Add(tail, kPage - 200);
  good.Set16(kPage - 200 + 48, 400);
  // A name whose end lies before its start.
  auto backwards = TableRow(3, u"Back");
  backwards[48] = 20;
  good.Add(backwards);
  good.Add(TableRow(4, u"AfterThem"));

  // A slot count no page can hold, on the file's last page.
  PageBuilder huge(1);
  huge.Add(TableRow(5, u"OnAHugePage"));
  auto hugePage = huge.Build();
  hugePage[22] = 0x88, hugePage[23] = 0x13;  // 5000 slots

  const auto tables = Mdf(Join({good.Build(), hugePage}));
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].name, u"Kept");
  EXPECT_EQ(tables[1].name, u"AfterThem");
}

TEST(MdfTables, NoUserTableIsFailure) {
  PageBuilder only(1);
  only.Add(TableRow(5, u"DTProperties"));
  Mdf(Join({only.Build()}), false);

  PageBuilder notData(1, 2);
  notData.Add(TableRow(6, u"Hidden"));
  Mdf(Join({notData.Build()}), false);

  // The right pages under another name.
  PageBuilder objects(1);
  objects.Add(TableRow(7, u"T"));
  const auto file = Join({objects.Build()});
  MemoryByteSource source(file);
  std::vector<MdfTable> tables;
  EXPECT_FALSE(ReadMdfTables(source, u"sales.ldf", tables));
  EXPECT_TRUE(ReadMdfTables(source, u"SALES.MDF", tables));
}

TEST(TableMode, ByExtensionIgnoringCase) {
  EXPECT_EQ(TableModeOfName(u"a.dbf"), 1);
  EXPECT_EQ(TableModeOfName(u"A.DBF"), 1);
  EXPECT_EQ(TableModeOfName(u"x.y.Csv"), 2);
  EXPECT_EQ(TableModeOfName(u"db.mdf"), 3);
  EXPECT_EQ(TableModeOfName(u"db.ldf"), 0);
  EXPECT_EQ(TableModeOfName(u"mdf"), 0);
  EXPECT_EQ(TableModeOfName(u"a.mdf.bak"), 0);
}

// Asks to stop after a few reads.
class StoppingSource final : public ByteSource {
 public:
  StoppingSource(std::span<const std::uint8_t> bytes, int reads) : inner_(bytes), left_(reads) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    --left_;
    return inner_.Read(offset, out);
  }
  bool Stopped() const override { return left_ <= 0; }

 private:
  MemoryByteSource inner_;
  int left_;
};

TEST(TableReaders, StopWhenAsked) {
  std::vector<std::vector<std::string>> records(50, {"abc"});
  const std::string dbf = DbfFile({{"A", 'C', 3}}, records);
  StoppingSource dbfSource(Bytes(dbf), 10);
  TableGrid grid;
  EXPECT_TRUE(ReadDbfTable(dbfSource, grid));
  EXPECT_TRUE(grid.stopped);
  EXPECT_LT(grid.rows.size(), 50u);

  const std::string csv(300000, ',');
  StoppingSource csvSource(Bytes(csv), 1);
  ReadCsvGrid(csvSource, u"a.csv", grid);
  EXPECT_TRUE(grid.stopped);

  std::vector<std::vector<std::uint8_t>> pages;
  for (int i = 0; i < 20; ++i) {
    PageBuilder p(1);
    p.Add(TableRow(static_cast<std::uint32_t>(10 + i), std::u16string{u'T', static_cast<char16_t>(u'a' + i)}));
    pages.push_back(p.Build());
  }
  const auto mdf = Join(pages);
  StoppingSource mdfSource(mdf, 5);
  std::vector<MdfTable> tables;
  bool stopped = false;
  ReadMdfTables(mdfSource, u"a.mdf", tables, &stopped);
  EXPECT_TRUE(stopped);
  EXPECT_LT(tables.size(), 20u);
}

}  // namespace
}  // namespace corvan
