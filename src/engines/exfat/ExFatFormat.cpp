#include "engines/exfat/ExFatFormat.h"

#include <algorithm>
#include <limits>

#include "platform/ByteCodec.h"

namespace corvan::exfat {

namespace {

constexpr std::uint8_t kMinSectorShift = 9;   // 512-byte sectors
constexpr std::uint8_t kMaxSectorShift = 12;  // 4096-byte sectors
constexpr std::uint8_t kMaxClusterShift = 25;  // 32 MiB clusters
constexpr std::uint32_t kMaxNameEntries = kMaxNameUnits / kNameUnitsPerEntry;  // 17

// A count of the boot sector's own sectors in 512-byte sectors; false when
// it does not fit 32 bits.
bool Scale32(std::uint32_t value, unsigned shift, std::uint32_t& out) {
  const std::uint64_t v = std::uint64_t{value} << shift;
  if (v > std::numeric_limits<std::uint32_t>::max()) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

BootFields ReadBootFields(std::span<const std::uint8_t, 512> sector) {
  const std::uint8_t* p = sector.data();
  BootFields f;
  f.volumeLength = GetLE64(p + 0x48);
  f.fatOffset = GetLE32(p + 0x50);
  f.fatLength = GetLE32(p + 0x54);
  f.clusterHeapOffset = GetLE32(p + 0x58);
  f.clusterCount = GetLE32(p + 0x5C);
  f.rootCluster = GetLE32(p + 0x60);
  f.bytesPerSectorShift = p[0x6C];
  f.sectorsPerClusterShift = p[0x6D];
  f.numberOfFats = p[0x6E];
  return f;
}

std::uint64_t DerivedHeapStart(std::uint32_t fatOffset, std::uint32_t fatLength) {
  if (fatOffset == 0) return 0;
  const std::uint64_t fatsInOffsets = (std::uint64_t{fatLength} + fatOffset - 1) / fatOffset;
  return (fatsInOffsets + 1) * fatOffset;
}

bool DeriveGeometry(const BootFields& f, Geometry& out) {
  out = Geometry{};
  // Volumes with larger sectors keep their counts in those sectors; the
  // engine counts 512-byte sectors throughout.
  const bool knownSectorSize = f.bytesPerSectorShift >= kMinSectorShift && f.bytesPerSectorShift <= kMaxSectorShift;
  const unsigned unit = knownSectorSize ? f.bytesPerSectorShift - kMinSectorShift : 0;
  std::uint32_t heapOffset = 0;
  bool scaled = (f.volumeLength >> (64 - 4)) == 0;
  out.volumeLength = scaled ? f.volumeLength << unit : 0;
  scaled = Scale32(f.fatOffset, unit, out.fatOffset) && scaled;
  scaled = Scale32(f.fatLength, unit, out.fatLength) && scaled;
  const bool heapScaled = Scale32(f.clusterHeapOffset, unit, heapOffset);
  if (!scaled) {
    // Counts that cannot be held are of no use: the check rejects them.
    out.fatOffset = 0;
    out.fatLength = 0;
  }
  out.clusterCount = f.clusterCount;
  out.rootCluster = f.rootCluster;
  if (out.volumeLength == 0 || out.clusterCount == 0) return false;

  if (knownSectorSize && f.bytesPerSectorShift + f.sectorsPerClusterShift <= kMaxClusterShift) {
    const std::uint32_t spc = 1u << (f.bytesPerSectorShift + f.sectorsPerClusterShift - kMinSectorShift);
    if (std::uint64_t{out.clusterCount} * spc <= out.volumeLength) {
      out.sectorsPerCluster = spc;
      out.spcFromShift = true;
    }
  }
  if (!out.spcFromShift) {
    const std::uint64_t derived = out.volumeLength / out.clusterCount;
    out.sectorsPerCluster = derived <= kMaxSectorsPerCluster ? static_cast<std::uint32_t>(derived) : 0;
  }

  const std::uint64_t heapBytes = std::uint64_t{out.clusterCount} * out.sectorsPerCluster;
  if (heapScaled && out.sectorsPerCluster != 0 && out.fatOffset != 0 &&
      heapOffset >= std::uint64_t{out.fatOffset} + out.fatLength && heapOffset + heapBytes <= out.volumeLength) {
    out.heapStart = heapOffset;
    out.heapFromBoot = true;
  } else {
    out.heapStart = DerivedHeapStart(out.fatOffset, out.fatLength);
  }
  return true;
}

bool IsGeometryUsable(const Geometry& g) {
  if (g.volumeLength == 0 || g.clusterCount == 0 || g.sectorsPerCluster == 0) return false;
  if (g.fatLength == 0 || g.fatOffset == 0) return false;
  if (g.fatLength >= g.volumeLength / 10) return false;
  if (std::uint64_t{g.fatOffset} + g.fatLength > g.volumeLength) return false;
  return g.heapStart < g.volumeLength;
}

EntrySet ParseEntrySet(std::span<const std::uint8_t> buffer, std::uint32_t offset) {
  EntrySet s;
  s.offset = offset;
  const std::size_t size = buffer.size();
  if (offset >= size || size - offset < kEntrySize) {
    s.next = offset + 16;
    s.cut = true;
    return s;
  }
  const std::uint8_t* e = buffer.data() + offset;
  s.type = e[0];
  s.attributes = GetLE16(e + 4);
  s.createTime = GetLE32(e + 8);
  s.modifiedTime = GetLE32(e + 12);

  char16_t units[kMaxNameUnits] = {};
  std::uint32_t counter = e[1] != 0 ? e[1] : 256u;
  std::int32_t remaining = 0;
  std::uint32_t k = 0;
  std::size_t pos = std::size_t{offset} + kEntrySize;
  while (counter > 0 && pos + kEntrySize <= size) {
    const std::uint8_t* x = buffer.data() + pos;
    if (x[0] == kEntryStream || x[0] == kEntryDeletedStream) {
      s.hasStream = true;
      s.secondaryFlags = x[1];
      s.nameLength = x[3];
      s.validDataLength = GetLE64(x + 8);
      s.firstCluster = GetLE32(x + 20);
      s.dataLength = GetLE64(x + 24);
      remaining = s.nameLength;
      if (s.nameLength == 0) {
        s.next = static_cast<std::uint32_t>(pos + 16);
        return s;
      }
    } else if (x[0] == kEntryName || x[0] == kEntryDeletedName) {
      if (remaining > 0) {
        if (k < kMaxNameEntries) {
          for (std::uint32_t u = 0; u < kNameUnitsPerEntry; ++u)
            units[k * kNameUnitsPerEntry + u] = static_cast<char16_t>(GetLE16(x + 2 + 2 * u));
          ++k;
        }
        remaining -= static_cast<std::int32_t>(kNameUnitsPerEntry);
      }
    } else {
      break;
    }
    pos += kEntrySize;
    --counter;
  }
  s.cut = counter > 0 && pos + kEntrySize > size;
  std::size_t length = 0;
  while (length < kMaxNameUnits && units[length] != 0) ++length;
  s.name.assign(units, length);
  if (s.name.empty()) {
    s.next = static_cast<std::uint32_t>(pos + 16);
    return s;
  }
  s.usable = true;
  s.next = static_cast<std::uint32_t>(pos);
  return s;
}

std::vector<EntrySet> ScanDirectoryBuffer(std::span<const std::uint8_t> buffer, std::size_t start, std::size_t limit,
                                          std::size_t* end) {
  std::vector<EntrySet> sets;
  limit = std::min(limit, buffer.size());
  std::size_t p = start;
  while (p < limit) {
    const std::uint8_t type = buffer[p];
    if ((type == kEntryFile || type == kEntryDeletedFile) && buffer.size() - p >= kEntrySize) {
      EntrySet s = ParseEntrySet(buffer, static_cast<std::uint32_t>(p));
      p = s.next;
      sets.push_back(std::move(s));
    } else if (type == kEntryBitmap || type == kEntryUpcase || type == kEntryLabel) {
      p += kEntrySize;
    } else {
      p += 16;
    }
  }
  if (end) *end = p;
  return sets;
}

bool IsDirectoryCluster(std::span<const std::uint8_t> cluster) {
  std::size_t entries = 0, empty = 0, named = 0;
  for (std::size_t p = 0; p + kEntrySize <= cluster.size(); p += kEntrySize) {
    ++entries;
    switch (cluster[p]) {
      case kEntryUnused: ++empty; break;
      case kEntryBitmap:
      case kEntryUpcase:
      case kEntryLabel:
      case kEntryNoLabel:
      case kEntryFile:
      case kEntryDeletedFile: break;
      case kEntryStream:
      case kEntryDeletedStream:
      case kEntryName:
      case kEntryDeletedName: ++named; break;
      default: return false;
    }
  }
  return entries != 0 && empty != entries && named != 0;
}

bool HoldsBitmapEntry(std::span<const std::uint8_t> cluster, std::uint32_t clusterCount) {
  for (std::size_t p = 0; p + kEntrySize <= cluster.size() && cluster[p] != kEntryUnused; p += kEntrySize) {
    const std::uint8_t* e = cluster.data() + p;
    if (e[0] != kEntryBitmap) continue;
    const std::uint32_t first = GetLE32(e + 20);
    if (first >= kFirstCluster && first - kFirstCluster < clusterCount &&
        GetLE64(e + 24) >= (std::uint64_t{clusterCount} + 7) / 8)
      return true;
  }
  return false;
}

}  // namespace corvan::exfat
