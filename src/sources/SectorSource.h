#pragma once
// A disk as 512-byte sectors: a mounted image, an image file read as it
// is, or bytes in memory. Whoever reads a disk is handed its source; there
// is no process-wide disk.

#include <cstddef>
#include <cstdint>
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

}  // namespace corvan
