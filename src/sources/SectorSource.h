#pragma once
// The mounted disk as 512-byte sectors. Every read of the disk, by any
// subsystem and any thread, goes through ReadSourceSectors, which serves it
// from the source mounted last.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvan {

inline constexpr std::uint32_t kSectorSize = 512;

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  // Reads `bytes` (a multiple of 512) from `sector` on. Must be safe to call
  // from several threads at once. On failure the buffer holds zeros where
  // nothing could be read and the result is false.
  virtual bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) = 0;
  // Size of the disk in sectors.
  virtual std::uint64_t SectorCount() const = 0;
};

// A disk held in memory: for tests and for data built on the fly.
class MemorySectorSource final : public SectorSource {
 public:
  explicit MemorySectorSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override;
  std::uint64_t SectorCount() const override { return bytes_.size() / kSectorSize; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Makes `source` the mounted disk (null unmounts). Readers that are running
// keep the source they started with until their call returns.
void MountSectorSource(std::shared_ptr<SectorSource> source);
std::shared_ptr<SectorSource> MountedSectorSource();

// Reads `byteCount` bytes (a multiple of 512) at the absolute 512-byte sector
// `sector` of the mounted disk. False when nothing is mounted, the count is 0
// or the read failed; the buffer then holds zeros where nothing was read.
bool ReadSourceSectors(void* buffer, std::uint64_t sector, std::uint32_t byteCount);

}  // namespace corvan
