#pragma once
// The exFAT on-disk structures the engine reads, as pure functions over
// bytes: the boot sector's layout fields with the geometry derived from
// them, the file entry sets of a directory, and the test that tells a
// directory cluster from any other. Nothing here reads the disk, so the
// fuzz target and the tests drive it with any bytes.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvan::exfat {

inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::uint32_t kFirstCluster = 2;
// The largest cluster the format allows (32 MiB) in 512-byte sectors.
inline constexpr std::uint32_t kMaxSectorsPerCluster = 65536;
// A name is at most 255 units, 17 file name entries of 15.
inline constexpr std::uint32_t kMaxNameUnits = 255;
inline constexpr std::uint32_t kNameUnitsPerEntry = 15;

// Entry types (bit 7 is the in-use bit).
inline constexpr std::uint8_t kEntryUnused = 0x00;
inline constexpr std::uint8_t kEntryBitmap = 0x81;
inline constexpr std::uint8_t kEntryUpcase = 0x82;
inline constexpr std::uint8_t kEntryLabel = 0x83;
// A volume-label entry not in use: a volume without a label (Windows writes
// its root this way).
inline constexpr std::uint8_t kEntryNoLabel = 0x03;
inline constexpr std::uint8_t kEntryFile = 0x85;
inline constexpr std::uint8_t kEntryDeletedFile = 0x05;
inline constexpr std::uint8_t kEntryStream = 0xC0;
inline constexpr std::uint8_t kEntryDeletedStream = 0x40;
inline constexpr std::uint8_t kEntryName = 0xC1;
inline constexpr std::uint8_t kEntryDeletedName = 0x41;

// GeneralSecondaryFlags: AllocationPossible and NoFatChain.
inline constexpr std::uint8_t kFlagsContiguous = 0x03;

inline constexpr std::uint16_t kAttributeFolder = 0x10;

// The boot sector's fields as stored (main boot sector or its backup).
struct BootFields {
  std::uint64_t volumeLength = 0;       // 0x48, sectors
  std::uint32_t fatOffset = 0;          // 0x50
  std::uint32_t fatLength = 0;          // 0x54
  std::uint32_t clusterHeapOffset = 0;  // 0x58
  std::uint32_t clusterCount = 0;       // 0x5C
  std::uint32_t rootCluster = 0;        // 0x60
  std::uint8_t bytesPerSectorShift = 0;     // 0x6C
  std::uint8_t sectorsPerClusterShift = 0;  // 0x6D
  std::uint8_t numberOfFats = 0;            // 0x6E
};

BootFields ReadBootFields(std::span<const std::uint8_t, 512> sector);

// The layout the engine works with, every sector count in 512-byte sectors.
struct Geometry {
  std::uint64_t volumeLength = 0;
  std::uint32_t fatOffset = 0;
  std::uint32_t fatLength = 0;
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t sectorsPerCluster = 0;  // 0: none could be derived
  std::uint64_t heapStart = 0;          // first sector of cluster 2, relative to the volume
  bool spcFromShift = false;            // false: derived from VolumeLength / ClusterCount
  bool heapFromBoot = false;            // false: derived from FatOffset and FatLength
};

// Derives the geometry. False when VolumeLength or ClusterCount is 0 (the
// fields are copied all the same). Sectors per cluster come from the shift
// fields when they describe a cluster of at most 32 MiB whose heap fits the
// volume; otherwise from VolumeLength / ClusterCount, and 0 when that is
// larger than 32 MiB. The heap starts at ClusterHeapOffset when that lies
// after the FAT and the heap fits behind it; otherwise at the first multiple
// of FatOffset after one FAT placed at FatOffset.
bool DeriveGeometry(const BootFields& fields, Geometry& out);

// The checks a boot sector must pass to be used: a FAT that exists, starts
// inside the volume and ends inside it, is shorter than a tenth of the
// volume, and a cluster size. (An odd sector count per cluster other than 1
// is judged by the caller, which then tries the backup.)
bool IsGeometryUsable(const Geometry& g);
inline bool IsOddClusterSize(const Geometry& g) {
  return g.sectorsPerCluster != 1 && (g.sectorsPerCluster & 1) != 0;
}

// The first sector of the heap when the boot sector's own offset is not
// used: the first multiple of FatOffset after one FAT placed at FatOffset.
std::uint64_t DerivedHeapStart(std::uint32_t fatOffset, std::uint32_t fatLength);

// One file entry set as a directory walk sees it.
struct EntrySet {
  std::uint32_t offset = 0;  // of the file entry
  std::uint8_t type = 0;     // kEntryFile or kEntryDeletedFile
  std::uint16_t attributes = 0;
  std::uint32_t createTime = 0;
  std::uint32_t modifiedTime = 0;
  bool hasStream = false;
  std::uint8_t secondaryFlags = 0;
  std::uint8_t nameLength = 0;
  std::uint64_t validDataLength = 0;
  std::uint32_t firstCluster = 0;
  std::uint64_t dataLength = 0;  // the allocation's size; ValidDataLength never exceeds it
  std::u16string name;  // up to the first NUL, at most 255 units
  // False when the set is abandoned: its stream extension gives no name
  // length, or no name was found. The set still takes an item id.
  bool usable = false;
  std::uint32_t next = 0;  // where the scan of the buffer goes on
  bool cut = false;        // the buffer ended inside the set

  bool Deleted() const { return type == kEntryDeletedFile; }
  bool IsFolder() const { return (attributes & kAttributeFolder) != 0; }
  bool UsesFatChain() const { return secondaryFlags != kFlagsContiguous; }
};

// Parses the set whose file entry lies at `offset` (a file entry type is
// assumed). SecondaryCount 0 stands for 256 entries; the set ends at the
// first entry that is neither a stream extension nor a file name, and at the
// end of the buffer.
EntrySet ParseEntrySet(std::span<const std::uint8_t> buffer, std::uint32_t offset);

// The longest a set can run: a file entry and 255 secondary entries.
inline constexpr std::uint32_t kMaxSetBytes = 256 * kEntrySize;

// Every file entry set of a directory buffer in order, abandoned ones
// included, that begins at or after `start` and before `limit`; a set may
// run on past `limit` to the end of the buffer (a set may cross into the
// next cluster of its directory). Entries of other types are passed over
// as the walks always have: 16 bytes on for unused and unknown entries, 32
// for the bitmap, up-case and label entries. `end` gets where the scan
// stopped (at or past `limit`).
std::vector<EntrySet> ScanDirectoryBuffer(std::span<const std::uint8_t> buffer, std::size_t start = 0,
                                          std::size_t limit = ~std::size_t{0}, std::size_t* end = nullptr);

// A cluster that holds only directory entries (no unknown type), not only
// unused ones, and at least one stream extension or file name entry. A
// volume-label entry counts whether it is in use or not.
bool IsDirectoryCluster(std::span<const std::uint8_t> cluster);

// Whether a root folder's first cluster holds, before its first unused
// entry, the allocation bitmap's entry that every exFAT root has: its
// first cluster in the heap and its length enough for `clusterCount` bits.
bool HoldsBitmapEntry(std::span<const std::uint8_t> cluster, std::uint32_t clusterCount);

}  // namespace corvan::exfat
