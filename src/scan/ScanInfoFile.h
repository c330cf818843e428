#pragma once
// Saved scans ("scan information"): a file that keeps the result of one scan
// so recovery can go on later without scanning the volume again. Two forms,
// told apart by the kind byte of the trailer:
//
//   volume scan (kind 13)   header block, engine tables, source list,
//                           selected source, found items, trailer
//   drive scan (kind 14)    header block, the volumes a lost-volume search
//                           found, trailer
//
// Header and trailer are 1024-byte blocks. Every count and length the file
// carries is checked against the bytes that remain before the trailer, and
// stored pointer slots are never kept: a file the reader accepts is one
// whose blocks add up exactly. Writers go through a temporary file in the
// destination folder, so a failed save leaves the old file as it was.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/FoundItemInfo.h"
#include "scan/ScanInfoIndex.h"
#include "sources/SourceRecords.h"

namespace corvan {

inline constexpr std::size_t kScanInfoBlockSize = 1024;
inline constexpr std::size_t kScanImageFileHeaderSize = 973;
inline constexpr std::size_t kScanInfoBannerSize = 128;
inline constexpr char kScanInfoBanner[] = "CORVAN scan information";
inline constexpr char kScanInfoSecondBanner[] = "CORVAN saved scan, version 1";

// Engine-table units.
inline constexpr std::size_t kScanInfoSectorSize = 512;
inline constexpr std::size_t kMftRunEntrySize = 14;
inline constexpr std::size_t kAdvanceEntrySize = 28;
inline constexpr std::size_t kRunListNodeSize = 47;
inline constexpr std::size_t kRunListNodeRunBytes = 20;  // u32 in the node: bytes of run data after it

// FAT source (header byte 18): the FAT the engine read, or none.
inline constexpr std::uint8_t kScanFatSourceContiguous = 2;
// What the writers of this program store at byte 953: the volume's place
// comes from the header, never from a search of the machine's disks.
inline constexpr std::uint8_t kScanPlaceFromHeader = 7;
// Header byte 17 of an NTFS scan.
inline constexpr std::uint8_t kScanNtfsKind = 7;

struct ScanImageFileHeader {
  std::uint8_t form = 0;               // 0: 1, or 2 after a drive scan was saved in this run
  std::uint8_t driveByte = 0;          // 1
  std::uint8_t engineByte = 0;         // 2: the engine's byte after its drive byte
  std::uint32_t fatSize = 0;           // 3: sectors (exFAT: FatLength)
  std::uint32_t rootCluster = 0;       // 7
  std::uint32_t clusterMapSize = 0;    // 11: bytes, one per cluster
  std::uint8_t sectorsPerCluster = 0;  // 16: FAT only; never 0 in a FAT scan
  std::uint8_t fatKind = 0;            // 17: 0 FAT12, 1 FAT16, 2 FAT32, 7 NTFS
  std::uint8_t fatSource = 0;          // 18: 0 FAT1, 1 FAT2, 2 contiguous
  std::uint32_t reservedSectors = 0;   // 19 (exFAT: FatOffset)
  std::uint32_t rootDirSectors = 0;    // 23
  std::uint64_t mftSector = 0;         // 27
  std::uint64_t mftMirrorSector = 0;   // 35
  std::uint32_t mftRunCount = 0;       // 43
  std::uint32_t mftRunBytes = 0;       // 47: mftRunCount * 14
  std::uint32_t advanceCount = 0;      // 51
  std::uint32_t advanceFirstRecord = 0;  // 55
  std::uint16_t clusterSectors = 0;    // 59: NTFS and exFAT sectors per cluster
  std::uint8_t hasMftRuns = 0;         // 61
  std::uint8_t engineMark = 0;         // 62: 1 in a volume scan
  std::uint64_t firstSector = 0;       // 63
  std::uint64_t endSector = 0;         // 71
  std::uint64_t sectorCount = 0;       // 79
  std::uint64_t totalBytes = 0;        // 87: of the found files
  std::uint32_t postedItems = 0;       // 95
  std::uint16_t driveCount = 0;        // 99: source records that follow the engine tables
  std::string banner = kScanInfoBanner;              // 101: 128 bytes, ASCII
  std::string secondBanner = kScanInfoSecondBanner;  // 229: 128 bytes, ASCII
  std::uint8_t sectorFlag = 0;         // 357: FAT absolute sectors, exFAT relative
  std::u16string imagePath;            // 358: 260 units, the mounted image
  std::string diskIdentity;            // 878: 41 bytes; left empty by this program
  std::string diskIdentity2;           // 919: 21 bytes
  std::string diskIdentity3;           // 940: 9 bytes
  std::uint32_t diskSizeLow = 0;       // 949
  std::uint8_t placeMode = 0;          // 953: kScanPlaceFromHeader
  std::uint32_t clusterCount = 0;      // 954: exFAT
  std::uint8_t placeFromHeader = 0;    // 958
  std::uint32_t runListNodes = 0;      // 959: NTFS per-file run lists
  std::uint8_t imageType = 0;          // 963: 1 VMDK, 2 VDI, 3 VHD

  // The header every volume scan starts from: banners, byte 62 and 953 set.
  static ScanImageFileHeader ForVolumeScan();

  void Encode(std::span<std::uint8_t, kScanImageFileHeaderSize> out) const;
  // The 1024-byte block: the header and zeros.
  std::array<std::uint8_t, kScanInfoBlockSize> EncodeBlock() const;
  static ScanImageFileHeader Decode(std::span<const std::uint8_t, kScanImageFileHeaderSize> in);

  bool operator==(const ScanImageFileHeader&) const = default;
};

enum class ScanInfoEngine { Fat, Ntfs, ExFat };

// Byte 16 set: FAT; else no $MFT, no Advance records and byte 17 not 7:
// exFAT; else NTFS.
ScanInfoEngine EngineOfHeader(const ScanImageFileHeader& header);

// Both banners equal ours byte for byte, their NULs included. `block` holds
// at least the first 357 bytes of the file.
bool HasScanInfoBanners(std::span<const std::uint8_t> block);
// What a volume scan must pass before a resume: the banners and a sectors
// per cluster value (byte 16 or the u16 at 59).
bool CheckResumeHeader(std::span<const std::uint8_t> block);
bool CheckResumeHeader(const std::filesystem::path& file);
// A drive scan needs the banners only.
bool CheckDriveScanHeader(std::span<const std::uint8_t> block);

// Fills the drive-size field (949) and the place flag (958) from the source
// list and the selected source, as the writers of each engine do.
void ApplySourceFields(ScanImageFileHeader& header, ScanInfoEngine engine, const std::vector<SourceRecord>& sources,
                       const SourceRecord& selected);

// Source kinds whose payload is stored as a DiskRecord; every other kind
// stores a PartitionRecord.
bool ScanInfoStoresDiskRecord(std::uint8_t kind);
// Kinds a drive scan keeps.
bool IsDriveScanVolume(std::uint8_t kind);

// A found item as the file stores it, and the rule for which are stored:
// files, and folders whose low four bits of byte 67 are clear.
struct ScanInfoItem {
  FoundItemInfo info;
  std::u16string name;  // at most 255 units are stored

  bool operator==(const ScanInfoItem&) const = default;
};
bool IsStoredFoundItem(const FoundItemInfo& info);

// One node of the NTFS engine's per-file run lists: its 47-byte image with
// the pointer slots (0, 30) cleared, and the run bytes that follow it.
struct ScanRunListNode {
  std::array<std::uint8_t, kRunListNodeSize> image{};
  std::vector<std::uint8_t> runs;

  bool operator==(const ScanRunListNode&) const = default;
};

// The engine tables as blocks of bytes; the engines own their meaning. A
// writer stores the blocks the header announces (an empty one as zeros of
// its length) and leaves out any other, as the reader would not look for it.
struct ScanEngineTables {
  std::vector<std::uint8_t> fat;             // FAT and exFAT: fatSize * 512 bytes
  std::vector<std::uint8_t> clusterMap;      // FAT: clusterMapSize bytes; exFAT: whole sectors
  std::vector<std::uint8_t> advanceRecords;  // NTFS: advanceCount * 28 bytes
  std::vector<std::uint8_t> mftRuns;         // NTFS: mftRunBytes
  std::vector<ScanRunListNode> runListNodes;

  bool operator==(const ScanEngineTables&) const = default;
};

struct VolumeScanInfo {
  ScanImageFileHeader header;
  ScanEngineTables tables;
  std::vector<SourceRecord> sources;  // each with its payload
  SourceRecord selected;              // a PartitionRecord only for kind 1
  std::vector<ScanInfoItem> items;    // the root folder first
  ScanImageRecord trailer;
};

struct DriveScanInfo {
  ScanImageFileHeader header;
  std::vector<SourceRecord> volumes;
  ScanImageRecord trailer;
};

enum class ScanInfoError : std::uint8_t {
  None,
  CannotOpen,
  ReadFailed,
  TooShort,            // shorter than header, trailer and what they announce
  NotScanInformation,  // banners differ
  NoClusterSize,       // byte 16 and the u16 at 59 both zero
  WrongKind,           // the trailer's kind is not the form asked for
  Truncated,           // a block runs past the trailer, or items do not end at it
  BadCount,            // counts that contradict each other
  Inconsistent,        // writer: header and content disagree
  PathNotStorable,     // writer: a path does not fit its 260-unit field
  CannotCreate,
  WriteFailed,
  CannotReplace,
};

struct ScanInfoStatus {
  ScanInfoError error = ScanInfoError::None;
  std::string detail;
  explicit operator bool() const { return error == ScanInfoError::None; }
};

struct ScanInfoWriteResult : ScanInfoStatus {
  std::uint64_t itemsWritten = 0;  // found items, or the volumes of a drive scan
  bool indexed = false;  // appended to the index (when one was asked for)
};

// Hands the writer one found item at a time; false when there are no more.
using ScanInfoItemSource = std::function<bool(ScanInfoItem& item)>;
// Hands over `items` in order; the vector must outlive the source.
ScanInfoItemSource ItemSourceOf(const std::vector<ScanInfoItem>& items);

struct ScanInfoWriteOptions {
  std::u16string savedDate;             // the trailer's date text; the first 16 units are kept
  std::filesystem::path indexFile;      // appended to after a successful save; empty: none
  std::vector<ScanImageRecord>* savedScans = nullptr;  // and this list with it
};

// Readers. `out` is complete only on success.
ScanInfoStatus ParseVolumeScan(std::span<const std::uint8_t> bytes, VolumeScanInfo& out);
ScanInfoStatus ReadVolumeScanFile(const std::filesystem::path& path, VolumeScanInfo& out);
ScanInfoStatus ParseDriveScan(std::span<const std::uint8_t> bytes, DriveScanInfo& out);
ScanInfoStatus ReadDriveScanFile(const std::filesystem::path& path, DriveScanInfo& out);

// Writers. The volume scan stores the items `items` hands over (those the
// stored-item rule keeps), or `info.items`; the trailer names the file
// itself. The drive scan stores the volumes of kinds 2, 3, 11 and 12 of
// `sourceList` with a header of its own.
ScanInfoWriteResult WriteVolumeScanFile(const std::filesystem::path& path, const VolumeScanInfo& info,
                                        const ScanInfoItemSource& items, const ScanInfoWriteOptions& options);
ScanInfoWriteResult WriteVolumeScanFile(const std::filesystem::path& path, const VolumeScanInfo& info,
                                        const ScanInfoWriteOptions& options);
ScanInfoWriteResult WriteDriveScanFile(const std::filesystem::path& path, const std::vector<SourceRecord>& sourceList,
                                       const ScanInfoWriteOptions& options);

// The same bytes in memory, with the trailer given.
ScanInfoWriteResult EncodeVolumeScan(const VolumeScanInfo& info, const ScanInfoItemSource& items,
                                     const ScanImageRecord& trailer, std::vector<std::uint8_t>& out);
ScanInfoWriteResult EncodeDriveScan(const std::vector<SourceRecord>& sourceList, const ScanImageRecord& trailer,
                                    std::vector<std::uint8_t>& out);

// "<stem> Drives<extension>": the name a drive scan saved beside a volume
// scan takes.
std::filesystem::path DriveScanFileName(const std::filesystem::path& volumeScanPath);

}  // namespace corvan
