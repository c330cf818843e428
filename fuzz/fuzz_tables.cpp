// Any bytes as a dBASE table, a CSV file and an MDF data file: every reader
// stays inside the input and within its bounds, and makes no cell, table or
// column out of bytes it did not read.
#include <cstdint>
#include <cstdlib>

#include "preview/TablePreview.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  MemoryByteSource source({data, size});

  TableGrid grid;
  if (ReadDbfTable(source, grid)) {
    if (grid.columns.size() > 10) std::abort();
    // Each row is a whole record of at least one byte past the header.
    if (grid.rows.size() > size) std::abort();
    for (const auto& r : grid.rows)
      if (r.size() != grid.columns.size()) std::abort();
  }

  if (!ReadCsvGrid(source, u"f.csv", grid)) std::abort();
  std::size_t chars = 0;
  for (const auto& r : grid.rows) {
    if (r.empty() || r.size() > grid.columns.size() || r.size() > kMaxGridColumns) std::abort();
    for (const auto& c : r) chars += c.size();
  }
  if (chars > size || grid.rows.size() > size) std::abort();

  std::vector<MdfTable> tables;
  ReadMdfTables(source, u"f.mdf", tables);
  if (tables.size() > kMaxMdfTables) std::abort();
  for (const auto& t : tables) {
    if (t.name.size() > kMaxMdfNameChars) std::abort();
    for (const auto& c : t.columns)
      if (c.name.size() > kMaxMdfNameChars) std::abort();
    if (MdfColumnsGrid(t).rows.size() != t.columns.size()) std::abort();
  }
  return 0;
}
