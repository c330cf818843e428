#include "sources/SourceRecords.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/ByteCodec.h"

namespace corvan {

void DiskRecord::Encode(std::span<std::uint8_t, kDiskRecordSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kDiskRecordSize);
  p[0] = driveNumber;
  PutLE64(p + 1, sectorCount);
  PutUtf16Field(p + 9, 32, sizeText);
  PutUtf16Field(p + 73, 105, nameText);
  // 283: identity pointer slot stays 0.
}

DiskRecord DiskRecord::Decode(std::span<const std::uint8_t, kDiskRecordSize> in) {
  const std::uint8_t* p = in.data();
  DiskRecord r;
  r.driveNumber = p[0];
  r.sectorCount = GetLE64(p + 1);
  r.sizeText = GetUtf16Field(p + 9, 32);
  r.nameText = GetUtf16Field(p + 73, 105);
  return r;
}

void PartitionRecord::Encode(std::span<std::uint8_t, kPartitionRecordSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kPartitionRecordSize);
  p[0] = reserved;
  PutUtf16Field(p + 1, 32, name);
  PutUtf16Field(p + 65, 33, label);
  PutUtf16Field(p + 131, 36, typeText);
  PutLE64(p + 203, sizeInBytes);
  PutUtf16Field(p + 211, 32, fileSystemText);  // byte 275 stays 0
  p[276] = diskNumber;
  PutLE64(p + 277, startSector);
  PutLE64(p + 285, sectorCount);
  PutLE64(p + 293, endSector);
  p[301] = fileSystemKind;
  PutLE32(p + 302, fatSize);
  PutLE32(p + 306, reservedSectors);
  PutLE16(p + 310, rootDirSectors);
  p[312] = sectorsPerCluster;
  PutLE32(p + 313, rootCluster);
  // 317: cluster-array pointer slot stays 0.
  PutLE32(p + 321, clusterArrayCount);
  PutLE64(p + 325, mftSector);
  PutLE64(p + 333, mftMirrorSector);
  PutLE16(p + 341, ntfsSectorsPerCluster);
  PutUtf16Field(p + 343, 32, sizeText);
}

PartitionRecord PartitionRecord::Decode(std::span<const std::uint8_t, kPartitionRecordSize> in) {
  const std::uint8_t* p = in.data();
  PartitionRecord r;
  r.reserved = p[0];
  r.name = GetUtf16Field(p + 1, 32);
  r.label = GetUtf16Field(p + 65, 33);
  r.typeText = GetUtf16Field(p + 131, 36);
  r.sizeInBytes = GetLE64(p + 203);
  r.fileSystemText = GetUtf16Field(p + 211, 32);
  r.diskNumber = p[276];
  r.startSector = GetLE64(p + 277);
  r.sectorCount = GetLE64(p + 285);
  r.endSector = GetLE64(p + 293);
  r.fileSystemKind = p[301];
  r.fatSize = GetLE32(p + 302);
  r.reservedSectors = GetLE32(p + 306);
  r.rootDirSectors = GetLE16(p + 310);
  r.sectorsPerCluster = p[312];
  r.rootCluster = GetLE32(p + 313);
  r.clusterArrayCount = GetLE32(p + 321);
  r.mftSector = GetLE64(p + 325);
  r.mftMirrorSector = GetLE64(p + 333);
  r.ntfsSectorsPerCluster = GetLE16(p + 341);
  r.sizeText = GetUtf16Field(p + 343, 32);
  return r;
}

void SourceRecord::Encode(std::span<std::uint8_t, kSourceRecordSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kSourceRecordSize);
  // 0: next pointer slot stays 0.
  PutLE16(p + 4, index);
  p[6] = flags;
  p[7] = kind;
  PutUtf16Field(p + 8, 260, path);
  // 528: payload pointer slot stays 0.
}

SourceRecord SourceRecord::Decode(std::span<const std::uint8_t, kSourceRecordSize> in) {
  const std::uint8_t* p = in.data();
  SourceRecord r;
  r.index = GetLE16(p + 4);
  r.flags = p[6];
  r.kind = p[7];
  r.path = GetUtf16Field(p + 8, 260);
  return r;
}

std::u16string FormatSizeText(std::uint64_t sectorCount) {
  // Computed from the sector count in floating point, so a count beyond
  // 2^55 sectors (corrupt tables) cannot wrap the byte product.
  const double bytes = static_cast<double>(sectorCount) * 512.0;
  double value;
  const char* unit;
  if (sectorCount >= (std::uint64_t{1} << 21)) {
    value = bytes / 1073741824.0;
    unit = " GB";
  } else if (sectorCount >= (std::uint64_t{1} << 11)) {
    value = bytes / 1048576.0;
    unit = " MB";
  } else {
    value = bytes / 1024.0;
    unit = " KB";
  }
  char text[48];
  const auto res = std::to_chars(text, text + sizeof text - 4, value, std::chars_format::fixed, 2);
  std::size_t n = res.ec == std::errc{} ? static_cast<std::size_t>(res.ptr - text) : 0;
  std::memcpy(text + n, unit, 3);
  n = std::min<std::size_t>(n + 3, 32);
  return std::u16string(text, text + n);
}

}  // namespace corvan
