#include "preview/ByteSource.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/ScanEngine.h"
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
  PreviewBytes read = ReadPreviewBytes(engine_, item_, windowStart, windowStart + kWindowBytes, cancel_);
  window_ = std::move(read.bytes);
  windowStart_ = windowStart;
  haveWindow_ = !read.cancelled;
  pieceOk_.clear();
  const std::uint64_t expected = std::min(kWindowBytes, item_.size - windowStart);
  windowOk_ = !read.cancelled && window_.size() == expected;
  if (windowOk_ && (read.walk.failedReads != 0 || read.walk.failedUnits != 0)) windowOk_ = LoadPieces();
  return windowOk_;
}

// One bad cluster must not make the rest of its window unreadable: a
// failed read leaves zeros over all it asked for, so each piece of one
// cluster is read again on its own and only the pieces that fail again
// stay unreadable.
bool ItemByteSource::LoadPieces() {
  std::uint64_t cluster = 0;
  {
    // The engine is touched only under the lock, and not once the selection
    // is over (it may be gone then).
    std::lock_guard reading(cancel_.EngineMutex());
    if (cancel_.Cancelled()) {
      haveWindow_ = false;
      return false;
    }
    cluster = engine_.ClusterBytes();
  }
  pieceBytes_ = static_cast<std::size_t>(std::clamp<std::uint64_t>(cluster, kPieceMinBytes, kWindowBytes));
  pieceOk_.assign((window_.size() + pieceBytes_ - 1) / pieceBytes_, false);
  for (std::size_t i = 0; i < pieceOk_.size(); ++i) {
    const std::size_t from = i * pieceBytes_;
    const std::size_t count = std::min(pieceBytes_, window_.size() - from);
    const PreviewBytes piece = ReadPreviewBytes(engine_, item_, windowStart_ + from, windowStart_ + from + count, cancel_);
    if (piece.cancelled) {
      haveWindow_ = false;
      return false;
    }
    pieceOk_[i] = piece.walk.failedReads == 0 && piece.walk.failedUnits == 0 && piece.bytes.size() == count;
    if (pieceOk_[i]) std::memcpy(window_.data() + from, piece.bytes.data(), count);
  }
  return true;
}

bool ItemByteSource::PiecesOk(std::size_t from, std::size_t count) const {
  if (pieceOk_.empty()) return true;
  for (std::size_t i = from / pieceBytes_; i <= (from + count - 1) / pieceBytes_; ++i)
    if (!pieceOk_[i]) return false;
  return true;
}

bool ItemByteSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  if (offset > item_.size || out.size() > item_.size - offset) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t start = at - at % kWindowBytes;
    const bool loaded = Load(start);
    const std::size_t from = static_cast<std::size_t>(at - start);
    const std::size_t n = loaded ? std::min(out.size() - done, window_.size() - from) : 0;
    if (!loaded || !PiecesOk(from, n)) {
      std::fill(out.begin(), out.end(), 0);
      return false;
    }
    std::memcpy(out.data() + done, window_.data() + from, n);
    done += n;
  }
  return true;
}

}  // namespace corvan
