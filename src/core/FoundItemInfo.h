#pragma once
// One found folder or file as every engine reports it, and as the results,
// the scan-information file and the savers keep it. Its stored form is a
// packed 73-byte little-endian record.

#include <array>
#include <cstdint>
#include <span>

namespace corvan {

inline constexpr std::size_t kFoundItemInfoSize = 73;

// Attribute byte.
inline constexpr std::uint8_t kItemFolder = 0x10;
inline constexpr std::uint8_t kItemFile = 0x20;

// Flag bits (byte 61).
inline constexpr std::uint8_t kItemDeleted = 0x01;
inline constexpr std::uint8_t kItemCompressed = 0x02;
inline constexpr std::uint8_t kItemContiguous = 0x04;
inline constexpr std::uint8_t kItemEncrypted = 0x08;

// Byte 72, bit 7: the file's runs are kept in the engine's per-file run lists.
inline constexpr std::uint8_t kItemRunsKept = 0x80;

// Record ids the passes make up.
inline constexpr std::uint32_t kNtfsRootId = 5;
inline constexpr std::uint32_t kFatRootId = 0;

struct FoundItemInfo {
  // Bytes 0-7 and 40-43 are list links and name references of the program
  // that wrote the record: written as 0, ignored on reading.
  std::array<std::uint8_t, 8> reserved8{};  // bytes 8-15
  std::uint64_t size = 0;                   // 16: bytes
  std::uint64_t location = 0;               // 24: record number, first cluster, or sector (u64)
  std::uint32_t parentId = 0;               // 32
  std::uint32_t itemId = 0;                 // 36
  std::uint8_t attribute = 0;               // 44: kItemFolder or kItemFile
  std::uint64_t modifiedTime = 0;           // 45: FILETIME
  std::uint64_t creationTime = 0;           // 53: FILETIME
  std::uint8_t flags = 0;                   // 61
  std::uint8_t state = 0;                   // 62
  std::array<std::uint8_t, 9> extra{};      // 63-71: engine-specific
  std::uint8_t runFlags = 0;                // 72

  bool IsFolder() const { return attribute == kItemFolder; }
  bool IsDeleted() const { return (flags & kItemDeleted) != 0; }
  std::uint32_t Location32() const { return static_cast<std::uint32_t>(location); }
  // The fields that identify an item (size, place, ids, attribute, times,
  // flags), without the view and engine bytes: what a queued item keeps.
  FoundItemInfo IdentifyingCopy() const {
    FoundItemInfo r;
    r.size = size;
    r.location = location;
    r.parentId = parentId;
    r.itemId = itemId;
    r.attribute = attribute;
    r.modifiedTime = modifiedTime;
    r.creationTime = creationTime;
    r.flags = flags;
    return r;
  }

  void Encode(std::span<std::uint8_t, kFoundItemInfoSize> out) const;
  static FoundItemInfo Decode(std::span<const std::uint8_t, kFoundItemInfoSize> in);

  bool operator==(const FoundItemInfo&) const = default;
};

}  // namespace corvan
