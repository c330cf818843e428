#include "preview/ByteSource.h"

#include <algorithm>
#include <cstring>

#include "preview/PreviewRead.h"
#include "preview/PreviewWorker.h"

namespace corvan {

bool MemoryByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    std::fill(out.begin(), out.end(), 0);
    return false;
  }
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

ItemByteSource::ItemByteSource(ScanEngine& engine, const FoundItemInfo& item, const PreviewCancel& cancel)
    : engine_(engine), item_(item), cancel_(cancel) {}

bool ItemByteSource::Stopped() const { return cancel_.Cancelled(); }

bool ItemByteSource::Load(std::uint64_t windowStart) {
  if (haveWindow_ && windowStart_ == windowStart) return windowOk_;
  const PreviewBytes read = ReadPreviewBytes(engine_, item_, windowStart, windowStart + kWindowBytes, cancel_);
  window_ = read.bytes;
  windowStart_ = windowStart;
  haveWindow_ = !read.cancelled;
  const std::uint64_t expected = std::min(kWindowBytes, item_.size - windowStart);
  windowOk_ = !read.cancelled && read.walk.failedReads == 0 && read.walk.failedUnits == 0 && window_.size() == expected;
  return windowOk_;
}

bool ItemByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  if (offset > item_.size || out.size() > item_.size - offset) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t start = at - at % kWindowBytes;
    if (!Load(start)) {
      std::fill(out.begin(), out.end(), 0);
      return false;
    }
    const std::size_t from = static_cast<std::size_t>(at - start);
    const std::size_t n = std::min(out.size() - done, window_.size() - from);
    std::memcpy(out.data() + done, window_.data() + from, n);
    done += n;
  }
  return true;
}

}  // namespace corvan
