#include "sources/SectorSource.h"

#include <cstring>

namespace corvan {

bool MemorySectorSource::ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t size = bytes_.size();
  const std::uint64_t offset = sector * kSectorSize;
  if (sector > size / kSectorSize || offset >= size) {
    std::memset(out, 0, bytes);
    return false;
  }
  const std::size_t avail = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, size - offset));
  std::memcpy(out, bytes_.data() + offset, avail);
  std::memset(out + avail, 0, bytes - avail);
  return avail == bytes;
}

}  // namespace corvan
