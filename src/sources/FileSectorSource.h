#pragma once
// A plain file (a volume or disk copied byte for byte) as the mounted disk.

#include <filesystem>

#include "platform/FileHandle.h"
#include "sources/SectorSource.h"

namespace corvan {

class FileSectorSource final : public SectorSource {
 public:
  explicit FileSectorSource(const std::filesystem::path& path);
  bool IsOpen() const { return file_.IsOpen(); }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override;
  std::uint64_t SectorCount() const override { return size_ / kSectorSize; }

 private:
  FileHandle file_;
  std::uint64_t size_ = 0;
};

}  // namespace corvan
