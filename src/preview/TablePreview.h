#pragma once
// Database files shown as a grid, read straight from the volume: a dBASE
// table's fields and records, a comma-separated file's cells in lettered
// columns, and the user tables of a SQL Server data file (".mdf") with the
// columns of each. No database engine is involved: the pages are walked.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/ByteSource.h"

namespace corvan {

// 1 dBASE ("DBF"), 2 CSV, 3 MDF, by the extension ignoring case; 0 other.
int TableModeOfName(std::u16string_view name);

// What one grid keeps at most, so that a huge or damaged file cannot take
// the memory: reading ends when a bound is reached, keeping what was read.
inline constexpr std::size_t kMaxGridRows = 100000;
inline constexpr std::size_t kMaxGridColumns = 256;  // cells to the right are dropped
inline constexpr std::size_t kMaxGridCells = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxGridChars = 64 * 1024 * 1024;

struct TableGrid {
  struct Column {
    std::u16string heading;
    int width = 100;
    bool rightAligned = false;
  };
  std::vector<Column> columns;
  // Row by row as shown, top to bottom; a row may have fewer cells than
  // there are columns.
  std::vector<std::vector<std::u16string>> rows;
  bool stopped = false;
};

// Mode 1: the fields (at most ten) as columns and every record as a row.
// False when the file is not a dBASE table.
bool ReadDbfTable(ByteSource& source, TableGrid& grid);
// Mode 2: false when the name does not end in ".csv".
bool ReadCsvGrid(ByteSource& source, std::u16string_view name, TableGrid& grid);
// The heading of CSV column n counted from 0: "A" ... "Z", then "AA", "AB", ...
std::u16string CsvColumnHeading(std::size_t n);

struct MdfColumn {
  std::u16string name;
  std::uint8_t typeCode = 0;
  std::uint8_t flags = 0;  // bit 0: nullable
  std::uint16_t length = 0;
};

struct MdfTable {
  std::u16string name;
  std::uint32_t objectId = 0;
  std::vector<MdfColumn> columns;  // in the order found
};

// What one MDF walk keeps at most (a damaged page can point many slots at
// one record); names are cut at the longest an identifier can be.
inline constexpr std::size_t kMaxMdfTables = 65536;
inline constexpr std::size_t kMaxMdfColumns = 262144;
inline constexpr std::size_t kMaxMdfNameChars = 128;

// Mode 3: the user tables in the order found; false when the name does not
// end in ".mdf" or no user table (other than "dtproperties") was found.
bool ReadMdfTables(ByteSource& source, std::u16string_view name, std::vector<MdfTable>& tables, bool* stopped = nullptr);

// The grid of one table's columns ("Name", "Data type", "Size", "NULL"),
// in the reverse of the order found.
TableGrid MdfColumnsGrid(const MdfTable& table);
// The four empty columns of the MDF grid.
std::vector<TableGrid::Column> MdfGridColumns();

}  // namespace corvan
