#pragma once
// One of the exFAT engine's work files (the FAT copy, the cluster map):
// written once by a pass, then read a few bytes at a time by chain walks and
// map lookups from the scan, preview and save threads. Reads go through a
// small block cache so a walk along a chain costs one system call per block,
// not per entry.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/FileHandle.h"

namespace corvan {

class ExFatWorkFile {
 public:
  ExFatWorkFile() = default;
  ~ExFatWorkFile() { Close(); }
  ExFatWorkFile(const ExFatWorkFile&) = delete;
  ExFatWorkFile& operator=(const ExFatWorkFile&) = delete;

  // A new, empty file at `path` (an existing one is replaced).
  bool Create(const std::filesystem::path& path);
  bool IsOpen() const;
  std::uint64_t Size() const;
  const std::filesystem::path& Path() const { return path_; }

  bool Write(std::uint64_t offset, const void* data, std::size_t size);
  // False when the file is closed or the range does not lie wholly in it.
  bool Read(std::uint64_t offset, void* data, std::size_t size) const;

  void Close();
  // Closes the file and deletes it.
  void Remove();

 private:
  static constexpr std::size_t kBlock = 64 * 1024;

  mutable std::mutex mutex_;
  FileHandle file_;
  std::filesystem::path path_;
  std::uint64_t size_ = 0;
  mutable std::vector<std::uint8_t> cache_;
  mutable std::uint64_t cacheStart_ = 0;
  mutable std::size_t cacheValid_ = 0;
};

}  // namespace corvan
