#include "sources/FileSectorSource.h"

#include <cstring>

namespace corvan {

FileSectorSource::FileSectorSource(const std::filesystem::path& path)
    : file_(FileHandle::Open(path, FileHandle::Mode::ReadOnly)) {
  if (file_.IsOpen()) size_ = file_.Size().value_or(0);
}

bool FileSectorSource::ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (!file_.IsOpen() || sector > size_ / kSectorSize) {
    std::memset(out, 0, bytes);
    return false;
  }
  const std::int64_t got = file_.ReadAt(out, bytes, sector * kSectorSize);
  // Only what was not read is zeroed: a whole read is not written twice.
  const std::size_t have = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (have < bytes) std::memset(out + have, 0, bytes - have);
  return have == bytes;
}

}  // namespace corvan
