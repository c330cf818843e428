#pragma once
// The things a user can recover from: the mounted disk as a whole and each
// volume on it, as the source list holds them. The scan-information file
// stores these records raw, so their packed little-endian byte images below
// are a file format: SourceRecord 532 bytes, DiskRecord 287, PartitionRecord
// 407. The 32-bit pointer slots of those images are written as 0 and ignored
// on reading; in memory the payload and arrays are owned objects.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace corvan {

inline constexpr std::size_t kSourceRecordSize = 532;
inline constexpr std::size_t kDiskRecordSize = 287;
inline constexpr std::size_t kPartitionRecordSize = 407;

// SourceRecord kinds. Saved scans may carry every one of them; this program
// makes 0 to 4, 6, 7, 11 and 12 itself.
inline constexpr std::uint8_t kSourceDisk = 0;            // the mounted disk (DiskRecord)
inline constexpr std::uint8_t kSourceVolume = 1;          // a volume of the partition tables
inline constexpr std::uint8_t kSourceLostVolume = 2;      // boot-sector search on the disk
inline constexpr std::uint8_t kSourceDeepLostVolume = 3;  // deep search on the disk
inline constexpr std::uint8_t kSourceNamedDisk = 4;       // disk matched by its name text (DiskRecord)
inline constexpr std::uint8_t kSourceNamedDrive = 5;      // whole drive matched by its name text (DiskRecord)
inline constexpr std::uint8_t kSourceDiskImage = 6;       // disk image file the saved-scan index lists (DiskRecord)
inline constexpr std::uint8_t kSourcePlainImage = 7;      // whole image file holding one volume from its first sector
inline constexpr std::uint8_t kSourceOtherDisk = 8;       // whole disk of no other kind (DiskRecord)
inline constexpr std::uint8_t kSourceRemovableImage = 9;  // image file of a removable disk (DiskRecord)
inline constexpr std::uint8_t kSourceImageLostVolume = 11;
inline constexpr std::uint8_t kSourceImageDeepLostVolume = 12;

// Kinds that stand for a whole drive or disk: their payload is a DiskRecord.
constexpr bool IsWholeDiskKind(std::uint8_t kind) {
  return kind == kSourceDisk || kind == kSourceNamedDisk || kind == kSourceNamedDrive || kind == kSourceDiskImage ||
         kind == kSourceOtherDisk || kind == kSourceRemovableImage;
}

// File-system kinds (PartitionRecord byte 301).
inline constexpr std::uint8_t kFsFat12 = 0;
inline constexpr std::uint8_t kFsFat16 = 1;
inline constexpr std::uint8_t kFsFat32 = 2;
inline constexpr std::uint8_t kFsExFat = 3;
inline constexpr std::uint8_t kFsRaw = 4;
inline constexpr std::uint8_t kFsNtfs = 7;

// Drive number of the mounted image; disk number of a partition-table volume.
inline constexpr std::uint8_t kImageDriveNumber = 0x80;
inline constexpr std::uint8_t kNoDiskNumber = 0xFF;

// A physical drive's identity (owned by the drive identification code).
struct DriveIdentity;

struct DiskRecord {
  std::uint8_t driveNumber = 0;   // 0: 0x80 for the mounted image
  std::uint64_t sectorCount = 0;  // 1
  std::u16string sizeText;        // 9: 32 units
  std::u16string nameText;        // 73: 105 units
  // 283: pointer slot. Attached by the scan-information restore; shared_ptr
  // so this header needs no complete DriveIdentity.
  std::shared_ptr<DriveIdentity> identity;

  void Encode(std::span<std::uint8_t, kDiskRecordSize> out) const;
  static DiskRecord Decode(std::span<const std::uint8_t, kDiskRecordSize> in);
};

struct PartitionRecord {
  std::uint8_t reserved = 0;         // 0
  std::u16string name;               // 1: 32 units
  std::u16string label;              // 65: 33 units
  std::u16string typeText;           // 131: 36 units
  std::uint64_t sizeInBytes = 0;     // 203
  std::u16string fileSystemText;     // 211: 32 units and a spare byte
  std::uint8_t diskNumber = 0;       // 276
  std::uint64_t startSector = 0;     // 277
  std::uint64_t sectorCount = 0;     // 285
  std::uint64_t endSector = 0;       // 293
  std::uint8_t fileSystemKind = 0;   // 301
  std::uint32_t fatSize = 0;         // 302
  std::uint32_t reservedSectors = 0; // 306
  std::uint16_t rootDirSectors = 0;  // 310
  std::uint8_t sectorsPerCluster = 0;  // 312
  std::uint32_t rootCluster = 0;     // 313
  // 317 is the pointer slot of the deep search's cluster array; 321 its
  // count. A loaded record has the count but not the array until its loader
  // rebuilds it.
  std::vector<std::uint32_t> clusterArray;
  std::uint32_t clusterArrayCount = 0;  // 321
  std::uint64_t mftSector = 0;          // 325
  std::uint64_t mftMirrorSector = 0;    // 333
  std::uint16_t ntfsSectorsPerCluster = 0;  // 341
  std::u16string sizeText;              // 343: 32 units

  void Encode(std::span<std::uint8_t, kPartitionRecordSize> out) const;
  static PartitionRecord Decode(std::span<const std::uint8_t, kPartitionRecordSize> in);
};

struct SourceRecord {
  std::uint16_t index = 0;  // 4: 0 for the disk, volumes 1, 2, 3, ...
  std::uint8_t flags = 0;   // 6: lost-volume listing state
  std::uint8_t kind = 0;    // 7
  std::u16string path;      // 8: 260 units, image path for kinds 11 and 12
  // 528: the payload. Kinds 0 and 4 carry a DiskRecord, every other kind a
  // PartitionRecord.
  std::unique_ptr<DiskRecord> disk;
  std::unique_ptr<PartitionRecord> partition;

  static bool HasDiskPayload(std::uint8_t kind) { return kind == kSourceDisk || kind == kSourceNamedDisk; }

  // The record's own 532 bytes; the payload is stored separately.
  void Encode(std::span<std::uint8_t, kSourceRecordSize> out) const;
  static SourceRecord Decode(std::span<const std::uint8_t, kSourceRecordSize> in);
};

// One partition found in the MBR, GPT or dynamic-disk tables (memory only).
struct PartitionNode {
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
  std::array<std::uint8_t, 512> firstSector{};  // the volume's boot sector
  std::uint32_t typeCode = 0;                   // MBR partition type
};

// Size of `sectorCount` 512-byte sectors: "%.2f GB", "%.2f MB" or "%.2f KB"
// at powers of 1024, always with a point whatever the process locale.
std::u16string FormatSizeText(std::uint64_t sectorCount);

}  // namespace corvan
