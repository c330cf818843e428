#include "preview/PreviewRead.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "core/ScanEngine.h"
#include "preview/PreviewWorker.h"

namespace corvan {

namespace {

// A new file (never one that exists: the folder is private, but a name
// there is still not trusted to be free), owner read and write only.
int CreatePrivate(const std::filesystem::path& file) {
  return ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

PreviewBytes ReadPreviewBytes(ScanEngine& engine, const FoundItemInfo& item, std::uint64_t begin, std::uint64_t end,
                              const PreviewCancel& cancel) {
  PreviewBytes out;
  if (end <= begin) return out;
  const std::uint64_t wanted = std::min(end - begin, item.size > begin ? item.size - begin : 0);
  out.bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, 64ull << 20)));
  std::lock_guard reading(cancel.EngineMutex());
  if (cancel.Cancelled()) {
    out.cancelled = true;
    return out;
  }
  out.walk = engine.ReadItemData(
      item,
      [&](const DataBlock& block) {
        if (cancel.Cancelled()) return false;
        out.bytes.insert(out.bytes.end(), block.bytes.begin(), block.bytes.end());
        return true;
      },
      begin, end);
  out.cancelled = cancel.Cancelled();
  return out;
}

bool CopyPreviewFile(ScanEngine& engine, const FoundItemInfo& item, std::uint64_t limit,
                     const std::filesystem::path& file, const PreviewCancel& cancel) {
  const int fd = CreatePrivate(file);
  if (fd < 0) return false;
  bool ok = true;
  WalkResult walk;
  {
    std::lock_guard reading(cancel.EngineMutex());
    walk = engine.ReadItemData(
        item,
        [&](const DataBlock& block) {
          if (cancel.Cancelled()) return false;
          ok = WriteAll(fd, block.bytes.data(), block.bytes.size());
          return ok;
        },
        0, limit);
  }
  ok = ::close(fd) == 0 && ok;
  return ok && !cancel.Cancelled() && walk.bytes > 0;
}

}  // namespace corvan
