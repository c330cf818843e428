// What a saved scan keeps of the NTFS engine, and the restore of a fresh
// engine from it.
//
// The header's NTFS column copies the engine's place and geometry; the
// tables are Advance Recovery's found records (28-byte entries) or, when
// there are none, the $MFT's runs (14-byte entries), then the per-file run
// lists the journal filled (47-byte nodes, each followed by its runs as
// 14-byte entries).
//
// A run entry holds a length of 32 bits and a cluster offset of at most four
// bytes: the first entry's is where the run begins, each later one's the
// signed distance from the run before. A run longer than an entry can say
// is written in pieces, and a distance too far for four bytes in hops of
// entries that hold no clusters, so every run list is kept whole.
//
// What the file leaves out is found again on the volume when the engine is
// restored: the free clusters raw hits are read through (the volume's bitmap
// is read again), the $MFT's runs when only Advance records were kept, and,
// for those records, where a record split over two $MFT runs has its second
// half and whether a record's number is known.

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/EngineHost.h"
#include "core/Prompt.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "engines/ntfs/NtfsSavedScan.h"
#include "platform/ByteCodec.h"
#include "scan/ScanInfoEngines.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

constexpr std::uint8_t kFirstRunMark = 'S';
constexpr std::uint8_t kNextRunMark = 'M';
constexpr std::int64_t kFarthestStep = 0x7FFFFFFF;
constexpr std::int64_t kFarthestStepBack = -0x80000000LL;
// Clusters of one entry of a run that holds data: a piece ends where the
// next piece's distance still fits four bytes.
constexpr std::uint64_t kLongestDataPiece = 0x7FFFFFFF;
constexpr std::uint64_t kLongestHolePiece = 0xFFFFFFFF;
// Past this a distance or a length would take many thousands of entries: no
// volume has clusters that far, so a run there is a damaged field and the
// run list is not kept.
constexpr std::uint64_t kFarthestCluster = 1ull << 40;

// 47-byte node: offsets of its fields.
constexpr std::size_t kNodeRecord = 4;
constexpr std::size_t kNodeRecordCluster = 8;
constexpr std::size_t kNodeRecordVcn = 12;
constexpr std::size_t kNodeRunCount = 16;
constexpr std::size_t kNodeBlock = 24;
constexpr std::size_t kNodeDataOffset = 26;
constexpr std::size_t kNodePairsOffset = 28;
constexpr std::size_t kNodeCompressed = 34;
constexpr std::size_t kNodeAllocated = 35;

// ---- run entries ----------------------------------------------------------

// Bytes a signed offset needs: 1 to 4.
std::uint8_t SignedSize(std::int64_t v) {
  for (std::uint8_t n = 1; n < 4; ++n) {
    const std::int64_t limit = std::int64_t{1} << (8 * n - 1);
    if (v >= -limit && v < limit) return n;
  }
  return 4;
}

std::uint32_t StoredOffset(std::int64_t v, std::uint8_t size) {
  const auto raw = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
  return size == 4 ? raw : raw & ((1u << (8 * size)) - 1);
}

class RunEntryWriter {
 public:
  bool Add(const DataExtent& e) {
    if (e.length == 0) return true;  // maps nothing
    // A gap reads as a hole; runs that overlap cannot be written.
    if (e.vcn < vcn_ || !Hole(e.vcn - vcn_)) return false;
    if (!(e.sparse ? Hole(e.length) : Data(e.lcn, e.length))) return false;
    vcn_ = e.vcn + e.length;
    return true;
  }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  std::uint32_t Count() const { return count_; }
  bool Fits() const { return entries_ <= std::numeric_limits<std::uint32_t>::max(); }

 private:
  void Put(std::uint32_t length, std::uint32_t offset, std::uint8_t size) {
    std::array<std::uint8_t, kMftRunEntrySize> e{};
    PutLE32(e.data() + 4, length);
    PutLE32(e.data() + 8, offset);
    e[12] = size;
    e[13] = entries_ == 0 ? kFirstRunMark : kNextRunMark;
    bytes_.insert(bytes_.end(), e.begin(), e.end());
    ++entries_;
    count_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries_, std::numeric_limits<std::uint32_t>::max()));
  }
  bool Hole(std::uint64_t length) {
    if (length >= kFarthestCluster) return false;
    while (length != 0) {
      const std::uint64_t piece = std::min(length, kLongestHolePiece);
      Put(static_cast<std::uint32_t>(piece), 0, 0);
      length -= piece;
    }
    return true;
  }
  // The offset of an entry of data at `lcn`: where it begins for the first
  // entry, else its distance from the run before, after as many hops as a
  // distance beyond four bytes needs.
  std::int64_t OffsetTo(std::uint64_t lcn) {
    const auto target = static_cast<std::int64_t>(lcn);
    if (entries_ == 0) {
      // Positive in as few bytes as read the same taken signed or not.
      if (target <= kFarthestStep) return target;
      Put(0, static_cast<std::uint32_t>(kFarthestStep), 4);
      position_ = kFarthestStep;
    }
    std::int64_t distance = target - position_;
    while (distance > kFarthestStep || distance < kFarthestStepBack) {
      const std::int64_t step = distance > 0 ? kFarthestStep : kFarthestStepBack;
      Put(0, StoredOffset(step, 4), 4);
      position_ += step;
      distance -= step;
    }
    return distance;
  }
  bool Data(std::uint64_t lcn, std::uint64_t length) {
    if (lcn >= kFarthestCluster || length >= kFarthestCluster) return false;
    while (length != 0) {
      const std::uint64_t piece = std::min(length, kLongestDataPiece);
      const std::int64_t offset = OffsetTo(lcn);
      // Even an offset of 0 takes a byte: only a hole has none.
      const std::uint8_t size = SignedSize(offset);
      Put(static_cast<std::uint32_t>(piece), StoredOffset(offset, size), size);
      position_ = static_cast<std::int64_t>(lcn);
      lcn += piece;
      length -= piece;
    }
    return true;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint64_t entries_ = 0;
  std::uint32_t count_ = 0;
  std::uint64_t vcn_ = 0;
  std::int64_t position_ = 0;
};

// The entries of `runs`, or nothing when they cannot be written.
std::optional<std::vector<std::uint8_t>> EncodeRuns(const std::vector<DataExtent>& runs, std::uint32_t& count) {
  RunEntryWriter w;
  for (const DataExtent& e : runs)
    if (!w.Add(e)) return std::nullopt;
  if (!w.Fits()) return std::nullopt;
  count = w.Count();
  return std::move(w.Bytes());
}

// Runs back from their entries; an empty text when they read, else why not.
std::string DecodeRuns(std::span<const std::uint8_t> bytes, std::vector<DataExtent>& out) {
  out.clear();
  if (bytes.size() % kMftRunEntrySize != 0)
    return std::to_string(bytes.size()) + " bytes are no whole number of run entries";
  std::int64_t position = 0;
  std::uint64_t vcn = 0;
  for (std::size_t at = 0; at < bytes.size(); at += kMftRunEntrySize) {
    const std::uint8_t* e = bytes.data() + at;
    const std::uint32_t length = GetLE32(e + 4);
    const std::uint32_t offset = GetLE32(e + 8);
    const std::uint8_t size = e[12];
    const std::uint8_t mark = e[13];
    const std::string which = "run entry " + std::to_string(at / kMftRunEntrySize);
    if (mark != kFirstRunMark && mark != kNextRunMark) return which + " has no run mark";
    if (size > 4) return which + " gives its offset " + std::to_string(size) + " bytes";
    if (size < 4 && (offset >> (8 * size)) != 0) return which + " has an offset wider than its size";
    if (size == 0) {
      if (length != 0) out.push_back({vcn, 0, length, true});
      vcn += length;
      continue;
    }
    if (mark == kFirstRunMark) {
      position = offset;
    } else {
      const std::uint32_t sign = 1u << (8 * size - 1);
      const std::int64_t delta = (offset & sign) ? static_cast<std::int64_t>(offset) - (std::int64_t{1} << (8 * size))
                                                 : static_cast<std::int64_t>(offset);
      position += delta;
      if (position < 0) return which + " places its run before the volume";
    }
    if (length != 0) out.push_back({vcn, static_cast<std::uint64_t>(position), length, false});
    vcn += length;
  }
  return {};
}

// ---- Advance record entries ----------------------------------------------

void PutAdvanceEntry(std::uint8_t* p, const AdvanceRecordEntry& e) {
  PutLE64(p, e.sector);
  PutLE32(p + 8, e.itemId);
  PutLE32(p + 12, e.parentRecord);
  PutLE32(p + 16, e.recordNumber);
  PutLE32(p + 20, e.isFile ? 1 : 0);
  PutLE32(p + 24, e.done ? 1 : 0);
}

AdvanceRecordEntry GetAdvanceEntry(const std::uint8_t* p) {
  AdvanceRecordEntry e;
  e.sector = GetLE64(p);
  e.itemId = GetLE32(p + 8);
  e.parentRecord = GetLE32(p + 12);
  e.recordNumber = GetLE32(p + 16);
  e.isFile = GetLE32(p + 20) != 0;
  e.done = GetLE32(p + 24) != 0;
  return e;
}

// ---- per-file run-list nodes ---------------------------------------------

ScanRunListNode NodeOf(const KeptRunNode& k) {
  ScanRunListNode node;
  std::uint8_t* p = node.image.data();
  std::uint32_t count = 0;
  if (k.runsValid) {
    // Runs that cannot be written leave the node as one whose journal gave
    // nothing: the file is read from its record.
    if (auto bytes = EncodeRuns(k.runs, count); bytes && count != 0) node.runs = std::move(*bytes);
    else count = 0;
  }
  PutLE32(p + kNodeRecord, k.recordNumber);
  // The journal's place of the record: only the journal pass reads these,
  // and it does not run again on a restored scan.
  PutLE32(p + kNodeRecordCluster, static_cast<std::uint32_t>(k.recordLcn));
  PutLE32(p + kNodeRecordVcn, static_cast<std::uint32_t>(k.recordVcn));
  PutLE32(p + kNodeRunCount, count);
  PutLE32(p + kRunListNodeRunBytes, static_cast<std::uint32_t>(node.runs.size()));
  PutLE16(p + kNodeBlock, k.blockInCluster);
  PutLE16(p + kNodeDataOffset, k.dataAttributeOffset);
  PutLE16(p + kNodePairsOffset, k.pairsOffset);
  p[kNodeCompressed] = k.compressed ? 1 : 0;
  PutLE64(p + kNodeAllocated, k.runsValid && count != 0 ? k.allocatedSize : 0);
  return node;
}

std::string KeptNodeOf(const ScanRunListNode& node, KeptRunNode& k) {
  const std::uint8_t* p = node.image.data();
  k = KeptRunNode{};
  k.recordNumber = GetLE32(p + kNodeRecord);
  k.recordLcn = GetLE32(p + kNodeRecordCluster);
  k.recordVcn = GetLE32(p + kNodeRecordVcn);
  k.blockInCluster = GetLE16(p + kNodeBlock);
  k.dataAttributeOffset = GetLE16(p + kNodeDataOffset);
  k.pairsOffset = GetLE16(p + kNodePairsOffset);
  k.compressed = p[kNodeCompressed] != 0;
  k.allocatedSize = GetLE64(p + kNodeAllocated);
  const std::uint32_t count = GetLE32(p + kNodeRunCount);
  if (GetLE32(p + kRunListNodeRunBytes) != node.runs.size())
    return "its run bytes are " + std::to_string(node.runs.size()) + ", it says " +
           std::to_string(GetLE32(p + kRunListNodeRunBytes));
  if (std::uint64_t{count} * kMftRunEntrySize != node.runs.size())
    return "it counts " + std::to_string(count) + " runs in " + std::to_string(node.runs.size()) + " bytes";
  if (std::string why = DecodeRuns(node.runs, k.runs); !why.empty()) return why;
  // Entries that only move the position give no runs: the file is then
  // read from its record, as when the journal gave nothing.
  k.runsValid = !k.runs.empty();
  // The size the journal gave is read only for items that carry none; those
  // have no runs either.
  k.size = k.allocatedSize;
  return {};
}

// ---- restore ---------------------------------------------------------------

std::string Damaged(const std::string& what) {
  return "The saved scan information is damaged: " + what + ".\nScan the volume again.";
}

// The engine state the scan saved, or why it cannot be used. Nothing is
// read from the disk before this passes.
std::string SavedStateOf(const VolumeScanInfo& scan, const Volume& volume, NtfsSavedScan& saved) {
  const ScanImageFileHeader& h = scan.header;
  const ScanEngineTables& t = scan.tables;
  if (EngineOfHeader(h) != ScanInfoEngine::Ntfs) return "The saved scan information is not that of an NTFS volume.";
  if (!volume.disk) return "The disk the saved scan was made on is not open.";
  if (!ntfs::ValidSectorsPerCluster(h.clusterSectors))
    return Damaged("its cluster size of " + std::to_string(h.clusterSectors) + " sectors is none NTFS uses");
  if (h.sectorCount == 0) return Damaged("its volume has no sectors");
  if (h.firstSector > std::numeric_limits<std::uint64_t>::max() - h.sectorCount)
    return Damaged("its volume starts at sector " + std::to_string(h.firstSector) + ", beyond what can be addressed");
  const std::uint64_t diskSectors = volume.disk->SectorCount();
  if (diskSectors != 0 && h.firstSector >= diskSectors)
    return "The volume of the saved scan starts at sector " + std::to_string(h.firstSector) +
           ", past the end of its disk (" + std::to_string(diskSectors) +
           " sectors).\nMount the image the scan was made on.";
  if (h.hasMftRuns > 1) return Damaged("its mark of the $MFT runs is " + std::to_string(h.hasMftRuns));

  NtfsVolumeBinding& b = saved.binding;
  b.firstSector = h.firstSector;
  b.sectorCount = h.sectorCount;
  b.endSector = h.endSector;
  b.partitionType = kFsNtfs;
  b.diskNumber = h.driveByte;
  b.sectorsPerCluster = h.clusterSectors;
  b.mftSector = h.mftSector;
  b.mftMirrorSector = h.mftMirrorSector;
  if (volume.partition && !volume.partition->fileSystemText.empty()) b.fileSystemText = volume.partition->fileSystemText;
  b.disk = volume.disk;

  if (h.advanceCount != 0) {
    if (t.advanceRecords.size() != std::uint64_t{h.advanceCount} * kAdvanceEntrySize)
      return Damaged("its Advance records take " + std::to_string(t.advanceRecords.size()) + " bytes for " +
                     std::to_string(h.advanceCount) + " records");
    saved.foundRecords.reserve(h.advanceCount);
    for (std::size_t at = 0; at < t.advanceRecords.size(); at += kAdvanceEntrySize) {
      const AdvanceRecordEntry e = GetAdvanceEntry(t.advanceRecords.data() + at);
      const std::string which = "Advance record " + std::to_string(at / kAdvanceEntrySize);
      // Both halves of a record lie on the volume.
      if (h.sectorCount < 2 || e.sector >= h.sectorCount - 1)
        return Damaged(which + " lies at sector " + std::to_string(e.sector) + ", outside its volume");
      // Items find their record by id in this order.
      if (!saved.foundRecords.empty() && e.itemId <= saved.foundRecords.back().itemId)
        return Damaged(which + " does not follow the one before it");
      saved.foundRecords.push_back(e);
    }
    if (h.advanceFirstRecord != saved.foundRecords.front().recordNumber)
      return Damaged("its first Advance record is record " + std::to_string(saved.foundRecords.front().recordNumber) +
                     ", its header says " + std::to_string(h.advanceFirstRecord));
    saved.mftRunsUsed = h.hasMftRuns == 1;
  } else if (h.hasMftRuns == 1) {
    if (std::uint64_t{h.mftRunCount} * kMftRunEntrySize != h.mftRunBytes || t.mftRuns.size() != h.mftRunBytes)
      return Damaged("its " + std::to_string(h.mftRunCount) + " $MFT runs take " + std::to_string(t.mftRuns.size()) +
                     " bytes");
    if (std::string why = DecodeRuns(t.mftRuns, saved.mftRuns); !why.empty())
      return Damaged("in its $MFT runs " + why);
    saved.mftRunsKept = true;
    saved.mftRunsUsed = true;
  }

  if (t.runListNodes.size() != h.runListNodes)
    return Damaged("it counts " + std::to_string(h.runListNodes) + " run lists and holds " +
                   std::to_string(t.runListNodes.size()));
  saved.keptRuns.resize(t.runListNodes.size());
  for (std::size_t i = 0; i < t.runListNodes.size(); ++i)
    if (std::string why = KeptNodeOf(t.runListNodes[i], saved.keptRuns[i]); !why.empty())
      return Damaged("run list " + std::to_string(i) + ": " + why);

  for (std::size_t i = 1; i < scan.items.size(); ++i) {
    const FoundItemInfo& item = scan.items[i].info;
    if (item.IsFolder()) continue;
    if (item.flags & kItemContiguous) {
      saved.freeClusters = true;
    } else if (saved.foundRecords.empty() && !saved.mftRunsKept) {
      // Files of the $MFT whose runs the file could not keep: they are read
      // again where the scan read them.
      saved.mftRunsUsed = true;
    }
  }
  return {};
}

}  // namespace

void CaptureScanInfo(const ScanEngine& engine, const NtfsSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables) {
  tables = {};
  const NtfsVolumeBinding& b = saved.binding;
  SetCommonScanFields(header, engine, b.firstSector, b.endSector, b.sectorCount);
  header.driveByte = b.diskNumber;
  header.fatKind = kScanNtfsKind;
  header.mftSector = b.mftSector;
  header.mftMirrorSector = b.mftMirrorSector;
  // An engine that never settled a cluster size read nothing by cluster; 1
  // keeps the file one a resume accepts, which a 0 here would not.
  header.clusterSectors = b.sectorsPerCluster != 0 ? b.sectorsPerCluster : 1;

  std::uint32_t runCount = 0;
  std::optional<std::vector<std::uint8_t>> runs;
  if (!saved.mftRuns.empty()) runs = EncodeRuns(saved.mftRuns, runCount);

  // Found records are there only when the items carry their record's sector.
  const auto& found = saved.foundRecords;
  const bool advance = !found.empty() &&
                       found.size() <= std::numeric_limits<std::uint32_t>::max() / kAdvanceEntrySize;
  if (advance) {
    header.advanceCount = static_cast<std::uint32_t>(found.size());
    header.advanceFirstRecord = found.front().recordNumber;
    tables.advanceRecords.resize(found.size() * kAdvanceEntrySize);
    for (std::size_t i = 0; i < found.size(); ++i)
      PutAdvanceEntry(tables.advanceRecords.data() + i * kAdvanceEntrySize, found[i]);
    // The $MFT's runs are not stored beside the records; the header still
    // says whether the engine had them, and the restore reads them again.
    const bool hadRuns = !saved.mftRuns.empty();
    header.hasMftRuns = hadRuns ? 1 : 0;
    const std::uint64_t entries = runs ? runCount : saved.mftRuns.size();
    header.mftRunCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        hadRuns ? entries : 0, std::numeric_limits<std::uint32_t>::max() / kMftRunEntrySize));
    header.mftRunBytes = header.mftRunCount * static_cast<std::uint32_t>(kMftRunEntrySize);
  } else {
    header.advanceCount = 0;
    header.advanceFirstRecord = 0;
    // Runs that cannot be stored are left out; the restore reads them again.
    const bool keep = runs && runCount != 0 && runs->size() <= std::numeric_limits<std::uint32_t>::max();
    header.hasMftRuns = keep ? 1 : 0;
    header.mftRunCount = keep ? runCount : 0;
    header.mftRunBytes = keep ? static_cast<std::uint32_t>(runs->size()) : 0;
    if (keep) tables.mftRuns = std::move(*runs);
  }

  const auto& kept = saved.keptRuns;
  const std::size_t nodes = std::min<std::size_t>(kept.size(), std::numeric_limits<std::uint32_t>::max());
  header.runListNodes = static_cast<std::uint32_t>(nodes);
  tables.runListNodes.reserve(nodes);
  for (std::size_t i = 0; i < nodes; ++i) tables.runListNodes.push_back(NodeOf(kept[i]));
}

ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, const Volume& volume, NtfsSavedScan& saved) {
  if (std::string why = SavedStateOf(scan, volume, saved); !why.empty()) return {false, std::move(why)};

  // A header that names a host drive sends the restore looking for it; the
  // files this program writes store 7 at byte 953 and never do.
  const ScanImageFileHeader& h = scan.header;
  if (const SavedDriveLookup drive = LookUpSavedDrive(h); drive.named) {
    if (!drive.drive) return {false, LoadString(kIdsSourceDriveNotFound)};
    saved.binding.diskNumber = *drive.drive;
  }
  return {true, {}};
}

}  // namespace corvan
