#include "sources/FileSectorSource.h"

#include <cstring>

namespace corvan {

FileSectorSource::FileSectorSource(const std::filesystem::path& path)
    : file_(FileHandle::Open(path, FileHandle::Mode::ReadOnly)) {
  if (file_.IsOpen()) size_ = file_.Size().value_or(0);
}

bool FileSectorSource::ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::memset(out, 0, bytes);
  if (!file_.IsOpen() || sector > size_ / kSectorSize) return false;
  const std::int64_t got = file_.ReadAt(out, bytes, sector * kSectorSize);
  if (got < 0) {
    std::memset(out, 0, bytes);
    return false;
  }
  return static_cast<std::size_t>(got) == bytes;
}

}  // namespace corvan
