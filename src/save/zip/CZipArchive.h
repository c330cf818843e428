#pragma once
// Writes a zip archive (PKWARE application note, single disk) entry by
// entry: a local header, the entry's raw-deflate data as it arrives, and on
// Close the central directory and end record. Nothing is read back except
// the local header's sizes, rewritten when an entry closes.
//
// Sizes, offsets and the entry count are 64-bit: an entry whose size may
// reach 4 GiB carries zip64 sizes in its local header, and the central
// directory and end records take their zip64 forms wherever a value does
// not fit its 16- or 32-bit field, so every entry gets in.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "save/zip/CZipException.h"

namespace corvan {

class OutputWriter;

class CZipArchive {
 public:
  CZipArchive();
  // Closes the archive file without a central directory when Close was not called.
  ~CZipArchive();
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;

  // Starts a new archive in `fd` (an empty file opened for writing; the
  // archive owns it from here). `path` is only for messages.
  void Open(int fd, std::string path, OutputWriter* writer = nullptr);
  bool IsOpen() const { return fd_ >= 0; }

  // Opens an entry for writing. `name` uses '/' between folders; each of its
  // components is sanitised, so it is never absolute and never climbs with
  // "..". `sizeHint` is the size the caller expects to write (zip64 sizes
  // in the local header when it may reach 4 GiB). False when the archive is
  // not open, an entry is open already, or the name is empty. Level -1 is
  // zlib's default, 0 stores.
  bool OpenNewFile(const std::string& name, std::uint64_t sizeHint, std::uint8_t attribute, int level = -1);
  void WriteNewFile(const void* data, std::size_t size);
  bool CloseNewFile();
  // Drops the open entry: the archive file is cut back to where the entry's
  // local header began, as if it had never been opened.
  void DiscardNewFile();

  // Closes an open entry, writes the central directory and the end records,
  // and closes the file. The archive is closed afterwards even when this throws.
  void Close();

  std::size_t EntryCount() const;
  const std::string& Path() const { return path_; }

 private:
  struct Entry;
  struct Deflater;
  void Put(const void* data, std::size_t size);
  void Flush();
  void WriteAt(const void* data, std::size_t size, std::uint64_t offset);
  void FinishDeflate();
  void Fail(int code, int systemError = 0) const;

  int fd_ = -1;
  std::string path_;
  OutputWriter* writer_ = nullptr;
  std::uint64_t end_ = 0;  // bytes of the archive, buffered ones included
  std::vector<std::uint8_t> buffer_;
  std::vector<Entry> entries_;
  std::unique_ptr<Entry> open_;
  std::unique_ptr<Deflater> deflater_;
};

}  // namespace corvan
