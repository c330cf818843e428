#include "core/RunWalker.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace corvan {

namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

std::uint64_t MulSat(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > kMax64 / a) return kMax64;
  return a * b;
}

std::uint64_t AddSat(std::uint64_t a, std::uint64_t b) { return b > kMax64 - a ? kMax64 : a + b; }

const std::uint8_t* ZeroBlock() {
  static const std::array<std::uint8_t, kMaxDataBlock> zeros{};
  return zeros.data();
}

// Hands blocks to the sink and keeps the tally.
class Emitter {
 public:
  Emitter(const BlockSink& sink, std::uint64_t validSize, WalkResult& result)
      : sink_(sink), validSize_(validSize), result_(result) {}

  bool Zeros(std::uint64_t offset, std::uint64_t length) {
    while (length > 0) {
      const std::uint64_t n = std::min<std::uint64_t>(length, kMaxDataBlock);
      if (!Send(DataBlockKind::Sparse, offset, ZeroBlock(), n, false, kNoDataCluster)) return false;
      offset += n;
      length -= n;
    }
    return true;
  }

  // Bytes at or past the valid size go out as zeros.
  bool Data(DataBlockKind kind, std::uint64_t offset, const std::uint8_t* data, std::uint64_t length,
            bool damaged, std::uint64_t lcn = kNoDataCluster) {
    if (offset >= validSize_) return Zeros(offset, length);
    const std::uint64_t keep = std::min(length, validSize_ - offset);
    if (!Send(kind, offset, data, keep, damaged, lcn)) return false;
    return keep == length || Zeros(offset + keep, length - keep);
  }

 private:
  bool Send(DataBlockKind kind, std::uint64_t offset, const std::uint8_t* data, std::uint64_t length,
            bool damaged, std::uint64_t lcn) {
    if (length == 0) return true;
    DataBlock block;
    block.kind = kind;
    block.offset = offset;
    block.bytes = {data, static_cast<std::size_t>(length)};
    block.damaged = damaged;
    block.lcn = lcn;
    result_.bytes += length;
    if (!sink_(block)) {
      result_.stopped = true;
      return false;
    }
    return true;
  }

  const BlockSink& sink_;
  std::uint64_t validSize_;
  WalkResult& result_;
};

struct Piece {
  std::uint64_t lcn;
  std::uint64_t count;
};

// The buffer clusters are read into: grown as needed and never zero-filled
// first, since every ClusterReader writes each byte it is handed (zeros
// where its read failed).
class ReadBuffer {
 public:
  std::uint8_t* Get(std::size_t bytes) {
    if (bytes > capacity_) {
      data_ = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
      capacity_ = bytes;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t capacity_ = 0;
};

}  // namespace

std::vector<DataExtent> NormaliseExtents(std::vector<DataExtent> extents, std::uint64_t clusters) {
  std::stable_sort(extents.begin(), extents.end(),
                   [](const DataExtent& a, const DataExtent& b) { return a.vcn < b.vcn; });
  std::vector<DataExtent> out;
  out.reserve(extents.size() + 2);
  std::uint64_t cursor = 0;
  for (DataExtent e : extents) {
    if (e.length == 0 || e.vcn >= clusters) continue;
    const std::uint64_t endVcn = AddSat(e.vcn, e.length);
    if (endVcn <= cursor) continue;  // wholly covered by an earlier extent
    if (e.vcn < cursor) {            // overlap: the earlier extent wins
      const std::uint64_t cut = cursor - e.vcn;
      if (!e.sparse) e.lcn += cut;
      e.vcn = cursor;
      e.length -= cut;
    }
    if (e.vcn > cursor) out.push_back({cursor, 0, e.vcn - cursor, true});
    e.length = std::min(e.length, clusters - e.vcn);
    out.push_back(e);
    cursor = e.vcn + e.length;
  }
  if (cursor < clusters) out.push_back({cursor, 0, clusters - cursor, true});
  return out;
}

WalkResult WalkFileData(const FileDataLayout& layout, const ClusterReader& read, const BlockSink& sink,
                        std::uint64_t begin, std::uint64_t end) {
  WalkResult result;
  const std::uint64_t stop = std::min(end, layout.size);
  if (begin >= stop) return result;
  Emitter emit(sink, layout.validSize, result);

  if (layout.resident) {
    const std::uint64_t avail = std::min<std::uint64_t>(layout.residentData.size(), stop);
    if (begin < avail &&
        !emit.Data(DataBlockKind::Resident, begin, layout.residentData.data() + begin, avail - begin, false))
      return result;
    const std::uint64_t from = std::max(begin, avail);
    if (from < stop) emit.Zeros(from, stop - from);
    return result;
  }

  const std::uint64_t cb = layout.clusterBytes;
  if (cb == 0) {
    result.failedReads = 1;
    return result;
  }
  // Whole compressed units are decoded even when only part is asked for.
  std::uint64_t clusters = layout.size / cb + (layout.size % cb ? 1 : 0);
  if (layout.unitClusters != 0 && clusters % layout.unitClusters != 0)
    clusters += layout.unitClusters - clusters % layout.unitClusters;
  const std::vector<DataExtent> segs = NormaliseExtents(layout.extents, clusters);
  ReadBuffer buffer;

  if (layout.unitClusters == 0 || layout.decoder == nullptr) {
    const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxDataBlock / cb);
    for (const DataExtent& seg : segs) {
      const std::uint64_t lo = std::max(MulSat(seg.vcn, cb), begin);
      const std::uint64_t hi = std::min(MulSat(seg.vcn + seg.length, cb), stop);
      if (lo >= hi) continue;
      if (seg.sparse) {
        if (!emit.Zeros(lo, hi - lo)) return result;
        continue;
      }
      // Nothing past the valid size is read.
      const std::uint64_t readHi = std::min(hi, std::max(lo, layout.validSize));
      std::uint64_t pos = lo;
      while (pos < readHi) {
        const std::uint64_t c0 = pos / cb;
        const std::uint64_t cEnd = std::min((readHi + cb - 1) / cb, c0 + maxClusters);
        const std::uint64_t n = cEnd - c0;
        std::uint8_t* const data = buffer.Get(static_cast<std::size_t>(n * cb));
        const bool ok = read(seg.lcn + (c0 - seg.vcn), n, data);
        if (!ok) ++result.failedReads;
        const std::uint64_t blockHi = std::min(readHi, cEnd * cb);
        if (!emit.Data(DataBlockKind::Normal, pos, data + (pos - c0 * cb), blockHi - pos, !ok,
                       seg.lcn + (c0 - seg.vcn)))
          return result;
        pos = blockHi;
      }
      if (readHi < hi && !emit.Zeros(readHi, hi - readHi)) return result;
    }
    return result;
  }

  // Compressed: unit by unit, by cluster number.
  const std::uint64_t unit = layout.unitClusters;
  const std::uint64_t unitBytes = unit * cb;
  if (unitBytes > (64u << 20)) {  // no file system makes units this large
    result.failedUnits = 1;
    return result;
  }
  std::vector<std::uint8_t> decoded(static_cast<std::size_t>(unitBytes));
  std::vector<Piece> pieces;
  std::size_t segIndex = 0;
  for (std::uint64_t u = begin / unitBytes; u * unitBytes < stop; ++u) {
    const std::uint64_t uStart = u * unit;
    const std::uint64_t uEnd = uStart + unit;
    while (segIndex < segs.size() && segs[segIndex].vcn + segs[segIndex].length <= uStart) ++segIndex;
    pieces.clear();
    std::uint64_t allocated = 0;
    for (std::size_t i = segIndex; i < segs.size() && segs[i].vcn < uEnd; ++i) {
      const DataExtent& s = segs[i];
      if (s.sparse) continue;
      const std::uint64_t from = std::max(s.vcn, uStart);
      const std::uint64_t to = std::min(s.vcn + s.length, uEnd);
      pieces.push_back({s.lcn + (from - s.vcn), to - from});
      allocated += to - from;
    }
    const std::uint64_t lo = std::max(u * unitBytes, begin);
    const std::uint64_t hi = std::min((u + 1) * unitBytes, stop);
    if (allocated == 0) {
      if (!emit.Zeros(lo, hi - lo)) return result;
      continue;
    }
    const auto stored = static_cast<std::size_t>(allocated * cb);
    std::uint8_t* const data = buffer.Get(stored);
    bool readOk = true;
    std::uint64_t failedLcn = kNoDataCluster;
    std::uint64_t at = 0;
    for (const Piece& p : pieces) {
      if (!read(p.lcn, p.count, data + at)) {
        readOk = false;
        if (failedLcn == kNoDataCluster) failedLcn = p.lcn;
      }
      at += p.count * cb;
    }
    if (!readOk) ++result.failedReads;
    if (allocated == unit) {  // stored plain
      // The cluster that holds the first byte handed out.
      std::uint64_t firstLcn = pieces.front().lcn;
      for (std::uint64_t skip = lo / cb - uStart; const Piece& p : pieces) {
        if (skip < p.count) {
          firstLcn = p.lcn + skip;
          break;
        }
        skip -= p.count;
      }
      if (!emit.Data(DataBlockKind::Normal, lo, data + (lo - u * unitBytes), hi - lo, !readOk, firstLcn))
        return result;
      continue;
    }
    std::fill(decoded.begin(), decoded.end(), 0);
    std::uint32_t length = static_cast<std::uint32_t>(unitBytes);
    const bool decodedOk =
        layout.decoder(data, static_cast<std::uint32_t>(stored), decoded.data(), length);
    if (!decodedOk) ++result.failedUnits;
    if (!emit.Data(DataBlockKind::Decoded, lo, decoded.data() + (lo - u * unitBytes), hi - lo,
                   !readOk || !decodedOk, readOk ? pieces.front().lcn : failedLcn))
      return result;
  }
  return result;
}

std::vector<std::uint8_t> ReadFileData(const FileDataLayout& layout, const ClusterReader& read,
                                       std::uint64_t begin, std::uint64_t end, WalkResult* result) {
  std::vector<std::uint8_t> out;
  const std::uint64_t stop = std::min(end, layout.size);
  if (stop > begin) out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(stop - begin, 256u << 20)));
  const WalkResult r = WalkFileData(
      layout, read,
      [&out](const DataBlock& b) {
        out.insert(out.end(), b.bytes.begin(), b.bytes.end());
        return true;
      },
      begin, end);
  if (result) *result = r;
  return out;
}

std::vector<DataExtent> ExtentsFromClusterList(const std::vector<std::uint32_t>& clusters) {
  std::vector<DataExtent> extents;
  std::uint64_t vcn = 0;
  for (const std::uint32_t c : clusters) {
    DataExtent* last = extents.empty() ? nullptr : &extents.back();
    if (last && last->lcn + last->length == c) {
      ++last->length;
    } else {
      extents.push_back({vcn, c, 1, false});
    }
    ++vcn;
  }
  return extents;
}

}  // namespace corvan
