#pragma once
// A disk in memory for the format analysers: a file placed at a sector with
// garbage around it, read as a volume would be.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/FileAnalysers.h"

namespace corvan::test {

using Bytes = std::vector<std::uint8_t>;

// Reads past the end fail and leave zeros; `abortAfter` reads in, Stop is
// asked.
class MemoryReader final : public CarveReader {
 public:
  explicit MemoryReader(Bytes bytes, bool aborted = false) : bytes_(std::move(bytes)), aborted_(aborted) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    ++reads;
    largestRead = std::max(largestRead, n);
    std::memset(buffer, 0, n);
    if (sector >= bytes_.size() / 512 + 1) return false;
    const std::uint64_t at = sector * 512;
    if (at >= bytes_.size()) return false;
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - at));
    std::memcpy(buffer, bytes_.data() + at, have);
    return have == n;
  }
  bool Aborted() const override { return aborted_ || reads > abortAfter; }

  std::size_t largestRead = 0, reads = 0, abortAfter = SIZE_MAX;

 private:
  Bytes bytes_;
  bool aborted_;
};

// The disk ends at the sector boundary after the file.
inline constexpr long kVolumeEnd = -1;

// A disk with the file at `sector` and `tail` bytes after it, garbage around
// it that steps by 7 from byte to byte: it holds no marker a walk stops at.
inline Bytes DiskWith(const Bytes& file, std::uint64_t sector, long tail) {
  if (tail < 0) tail = static_cast<long>((512 - file.size() % 512) % 512);
  Bytes disk(sector * 512 + file.size() + static_cast<std::size_t>(tail));
  for (std::size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(file.begin(), file.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  return disk;
}

}  // namespace corvan::test
