#pragma once
// What the saving thread calls of the zip writer: one archive, filled one
// entry at a time (AddNewFile, WriteNewFile any number of times,
// CloseNewFile) and finished with Close. A failed entry is dropped with
// DiscardNewFile so the archive can still be finished.

#include <cstdint>
#include <string>

#include "save/zip/CZipArchive.h"

namespace corvan {

// What the writer takes from a saved item for its entry.
struct ZipEntryInfo {
  std::uint64_t size = 0;         // expected bytes
  std::uint8_t attribute = 0x20;  // low byte of the external attributes
};

class ZipUnzip {
 public:
  // The archive goes into `fd`, a new empty file the archive now owns.
  void Create(int fd, std::string path, OutputWriter* writer = nullptr) { m_zip.Open(fd, std::move(path), writer); }
  bool IsOpen() const { return m_zip.IsOpen(); }
  bool AddNewFile(const std::string& entryPath, const ZipEntryInfo& info) {
    return m_zip.OpenNewFile(entryPath, info.size, info.attribute, -1);
  }
  void WriteNewFile(const void* data, std::size_t size) { m_zip.WriteNewFile(data, size); }
  bool CloseNewFile() { return m_zip.CloseNewFile(); }
  void DiscardNewFile() { m_zip.DiscardNewFile(); }
  void Close() { m_zip.Close(); }
  std::size_t EntryCount() const { return m_zip.EntryCount(); }

 private:
  CZipArchive m_zip;
};

}  // namespace corvan
