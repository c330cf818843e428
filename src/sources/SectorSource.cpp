#include "sources/SectorSource.h"

#include <atomic>
#include <cstring>
#include <mutex>

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

namespace {
std::mutex g_mountMutex;
std::shared_ptr<SectorSource> g_mounted;
}  // namespace

void MountSectorSource(std::shared_ptr<SectorSource> source) {
  std::lock_guard lock(g_mountMutex);
  g_mounted = std::move(source);
}

std::shared_ptr<SectorSource> MountedSectorSource() {
  std::lock_guard lock(g_mountMutex);
  return g_mounted;
}

bool ReadSourceSectors(void* buffer, std::uint64_t sector, std::uint32_t byteCount) {
  if (byteCount == 0) return false;
  const auto source = MountedSectorSource();
  if (!source) {
    std::memset(buffer, 0, byteCount);
    return false;
  }
  return source->ReadSectors(sector, buffer, byteCount);
}

}  // namespace corvan
