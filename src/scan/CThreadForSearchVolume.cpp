#include "scan/CThreadForSearchVolume.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "core/EngineHost.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatFormat.h"
#include "engines/fat/FatLayout.h"
#include "engines/fat/FatRebuild.h"
#include "engines/ntfs/NtfsRecord.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceList.h"

namespace corvan {

namespace {

using Sector = std::array<std::uint8_t, kSectorSize>;

bool HasSignature(const std::uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }
bool SaysNtfs(const std::uint8_t* s) { return std::memcmp(s + 3, "NTFS", 4) == 0; }
bool SaysExFat(const std::uint8_t* s) { return std::memcmp(s + 3, "EXFA", 4) == 0 && s[7] == 'T'; }

// Byte 13 of an NTFS boot sector: a count, or above 0x80 a negative power of two.
std::uint64_t NtfsClusterSectors(std::uint8_t value) {
  if (value <= 0x80) return value;
  const int shift = 256 - value;
  return shift < 32 ? (std::uint64_t{1} << shift) : 0;
}

// A count of `total` sectors holds the record (two sectors) at cluster
// `cluster` of `cl` sectors.
bool HoldsRecordAt(std::uint64_t total, std::uint64_t cl, std::uint64_t cluster) {
  return cl != 0 && cluster < total / cl && cluster * cl + 2 <= total;
}

// A FAT volume's first FAT and data area as its record gives them.
void SetFatAreas(ListedSource& x, const PartitionRecord& p) {
  x.firstFat = x.dataStart = 0;
  if (p.fileSystemKind != kFsFat12 && p.fileSystemKind != kFsFat16 && p.fileSystemKind != kFsFat32) return;
  x.firstFat = p.startSector + p.reservedSectors;
  x.dataStart = x.firstFat + 2ull * p.fatSize + p.rootDirSectors;
}

// Gives `p`, its start and kind set, `count` sectors: its end (an NTFS
// volume's the sector after its count, its backup boot sector's) and size.
void SetSectorCount(PartitionRecord& p, std::uint64_t count) {
  p.sectorCount = count;
  p.endSector = p.fileSystemKind == kFsNtfs || count == 0 ? p.startSector + count : p.startSector + count - 1;
  p.sizeInBytes = count * kSectorSize;
  p.sizeText = FormatSizeText(count);
}

std::string Formatted(const char* format, unsigned long long value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::u16string FoundVolumeName(std::uint32_t number) {
  const std::string name = "Std Vol" + Formatted(" %llu ", number);
  return std::u16string(name.begin(), name.end());
}

std::u16string DeepFoundVolumeName(std::uint32_t number) {
  const std::string name = "Adv Vol" + Formatted(" %llu ", number);
  return std::u16string(name.begin(), name.end());
}

ListedSource ListedSourceOf(const SourceRecord& record) {
  ListedSource x{.index = record.index, .kind = record.kind, .flags = record.flags};
  if (const PartitionRecord* p = record.partition.get()) {
    x.hasPartition = true;
    x.fileSystemKind = p->fileSystemKind;
    x.diskNumber = p->diskNumber;
    x.startSector = p->startSector;
    x.sectorCount = p->sectorCount;
    x.backedSectors = p->sectorCount;
    SetFatAreas(x, *p);
  }
  return x;
}

std::vector<ListedSource> ListedSourcesOf(const SourceList& sources) {
  std::vector<ListedSource> listed;
  listed.reserve(sources.m_sources.size());
  for (const auto& record : sources.m_sources)
    if (record) listed.push_back(ListedSourceOf(*record));
  return listed;
}

CThreadForSearchVolume::CThreadForSearchVolume(LostVolumeJob job)
    : job_(std::move(job)), listed_(std::move(job_.listed)), imageFlag_(job_.imageFlag) {
  // After the highest index listed, so no two records share one.
  for (const ListedSource& p : listed_) nextIndex_ = std::max<std::uint32_t>(nextIndex_, p.index + 1u);
  listedBefore_ = listed_.size();
}

CThreadForSearchVolume::~CThreadForSearchVolume() = default;

bool CThreadForSearchVolume::Read(std::uint64_t sector, std::uint8_t* buffer, std::size_t sectors) {
  // A failed read must not leave the last sector's bytes to be tested again.
  const std::size_t bytes = sectors * kSectorSize;
  std::memset(buffer, 0, bytes);
  const bool ok = job_.selection.disk && sector < total_ && job_.selection.disk->ReadSectors(sector, buffer, bytes);
  if (!ok) {
    std::memset(buffer, 0, bytes);
    ++readFailures_;
  }
  return ok;
}

void CThreadForSearchVolume::Run() {
  EngineHost& host = job_.host;
  host.BusyFlag() = 1;
  host.AbortFlag() = 0;
  const DiskRecord* disk = job_.selection.source ? job_.selection.source->disk.get() : nullptr;
  if (!imageFlag_ && disk) driveNumber_ = disk->driveNumber;
  GetSourceSize();
  if (job_.sink) job_.sink->SetProgressPos(0);

  if (job_.deep) DeepSearch();
  else QuickSearch();
  CutGuessesAtNextVolume();

  host.BusyFlag() = 0;
  host.AbortFlag() = 0;
  if (job_.resetScanState) job_.resetScanState();
  host.FlushLog();
  if (job_.sink) job_.sink->SearchDone();
}

void CThreadForSearchVolume::GetSourceSize() {
  // Always the virtual disk's own size, never the container file's.
  const DiskRecord* disk = job_.selection.source ? job_.selection.source->disk.get() : nullptr;
  total_ = job_.selection.disk ? job_.selection.disk->SectorCount() : 0;
  diskSectors_ = disk && disk->sectorCount ? disk->sectorCount : total_;
  if (total_ && total_ < diskSectors_) diskSectors_ = total_;
}

void CThreadForSearchVolume::BeginSearch() {
  EngineHost& host = job_.host;
  if (job_.freeResults) job_.freeResults();
  host.BusyFlag() = 1;
  host.AbortFlag() = 0;
  job_.session->Release();
  host.AppendLog("Searching volume", true);
  host.LogProcessStarted();
}

void CThreadForSearchVolume::QuickSearch() {
  EngineHost& host = job_.host;
  BeginSearch();
  const std::int64_t range = static_cast<std::int64_t>(total_ / kSmallCylinder + total_ / kCylinder + 255 +
                                                       total_ / kAlignment);
  if (job_.sink) {
    job_.sink->SetProgressRange(0, range);
    job_.sink->SetProgressStep(1);
  }
  ScanForBootSectors();
  host.LogProcessEnded(host.StopRequested());
  if (job_.sink) {
    job_.sink->SetProgressPos(range);
    job_.sink->HideProgress();
  }
  host.BusyFlag() = 0;
  host.AbortFlag() = 0;
}

bool CThreadForSearchVolume::AtPosition(std::uint64_t s) {
  if (job_.sink) {
    job_.sink->SetProgressText("Reading sector " + std::to_string(s) + " of " + std::to_string(total_));
    job_.sink->StepProgress();
  }
  return !job_.host.StopRequested();
}

bool CThreadForSearchVolume::TestSector(const std::uint8_t* sector, std::uint64_t number) {
  if (SaysNtfs(sector)) return IsNtfsBootSector(sector, number);
  if (SaysExFat(sector)) return IsExFatBootSector(sector, number);
  return IsFat32BootSector(sector, number);
}

bool CThreadForSearchVolume::TestFollowing(std::uint64_t sector) {
  Sector next;
  Read(sector, next.data(), 1);
  return SaysExFat(next.data()) ? IsExFatBootSector(next.data(), sector) : IsFat32BootSector(next.data(), sector);
}

bool CThreadForSearchVolume::TestExFatBackup(std::uint64_t start) {
  // Nothing lies past the disk: not read, so not counted as a failed read.
  if (start + kExFatBackupOffset >= total_) return false;
  Sector backup;
  Read(start + kExFatBackupOffset, backup.data(), 1);
  return HasSignature(backup.data()) && SaysExFat(backup.data()) &&
         IsExFatBootSector(backup.data(), start + kExFatBackupOffset);
}

bool CThreadForSearchVolume::ProbeCylinder(std::uint64_t s) {
  Sector at, before, after;
  Read(s, at.data(), 1);
  Read(s - 1, before.data(), 1);
  Read(s + 63, after.data(), 1);
  if (HasSignature(after.data()) && TestSector(after.data(), s + 63)) return true;
  if (HasSignature(at.data()) && TestSector(at.data(), s)) return true;
  // A volume's NTFS backup boot sector in its last sector, just before.
  if (HasSignature(before.data()) && SaysNtfs(before.data()) && IsNtfsBootSector(before.data(), s - 1)) return true;
  return TestExFatBackup(s + 63) || TestExFatBackup(s);
}

bool CThreadForSearchVolume::ProbeAligned(std::uint64_t s) {
  Sector at, before;
  Read(s, at.data(), 1);
  Read(s - 1, before.data(), 1);
  if (HasSignature(at.data()) && TestSector(at.data(), s)) return true;
  if (HasSignature(before.data()) && SaysNtfs(before.data()) && IsNtfsBootSector(before.data(), s - 1)) return true;
  return TestExFatBackup(s);
}

void CThreadForSearchVolume::ScanForBootSectors() {
  bool going = true;
  // Pass 1: the first cylinder, every track start.
  for (std::uint64_t s = 0; s < kCylinder; s += 63) {
    if (!(going = AtPosition(s))) break;
    Sector at;
    Read(s, at.data(), 1);
    if (s == 0) {
      // The usual first starts, tested even without their signature.
      const std::uint64_t first = job_.selection.source && job_.selection.source->kind == kSourceNamedDisk ? 1 : kAlignment;
      Sector other;
      Read(first, other.data(), 1);
      other[510] = 0x55;
      other[511] = 0xAA;
      if (!TestSector(other.data(), first)) TestExFatBackup(first);
    }
    if (s == 63) {
      at[510] = 0x55;
      at[511] = 0xAA;
    }
    bool found = HasSignature(at.data()) && TestSector(at.data(), s);
    if (!found && HasSignature(at.data()) && !SaysNtfs(at.data())) found = TestFollowing(s + 1);
    if (!found) TestExFatBackup(s);
  }
  // Pass 2: every cylinder boundary of 255 heads.
  bool foundOnCylinders = false;
  for (std::uint64_t s = kCylinder; going && s < total_; s += kCylinder) {
    if (!(going = AtPosition(s))) break;
    if (ProbeCylinder(s)) foundOnCylinders = true;
  }
  // Pass 3: cylinders of 16 heads, only when the large ones held nothing.
  for (std::uint64_t s = kSmallCylinder * 16; going && !foundOnCylinders && s < total_; s += kSmallCylinder) {
    if (!(going = AtPosition(s))) break;
    ProbeCylinder(s);
  }
  // Pass 4: 1 MiB boundaries, where partitioning tools put volumes today.
  for (std::uint64_t s = 2 * kAlignment; going && s < total_; s += kAlignment) {
    if (!(going = AtPosition(s))) break;
    ProbeAligned(s);
  }
}

bool CThreadForSearchVolume::IsMftRecordOfMft(std::uint64_t sector, std::uint8_t* raw) {
  using namespace ntfs;
  std::array<std::uint8_t, kMftRecordSize> record{};
  Read(sector, record.data(), kMftRecordSize / kSectorSize);
  if (raw) std::memcpy(raw, record.data(), kMftRecordSize);
  if (std::memcmp(record.data(), "FILE", 4) != 0 || (record[4] != '*' && record[4] != '0')) return false;
  ApplyRecordFixup(record);
  MftRecord parsed;
  if (!parsed.Parse(record)) return false;
  std::vector<FileNameInfo> names;
  for (const Attribute& a : parsed.Attributes()) {
    if (a.type != kAttrFileName || a.nonResident) continue;
    if (auto name = ParseFileName(parsed.Value(a))) names.push_back(std::move(*name));
  }
  const FileNameInfo* chosen = ChooseFileName(names);
  return chosen && chosen->name == u"$MFT";
}

bool CThreadForSearchVolume::IsNtfsBootSector(const std::uint8_t* boot, std::uint64_t s) {
  const std::uint64_t cl = NtfsClusterSectors(boot[13]);
  const std::uint64_t total = GetLE64(boot + 40);
  const std::uint64_t mft = GetLE64(boot + 48);
  const std::uint64_t mirror = GetLE64(boot + 56);
  // The count leaves out the backup boot sector after it. One that wraps
  // with it or past the disk's sector numbers, or leaves no room for the
  // volume's own $MFT and mirror records, is no size.
  const bool sized = total < ~s && HoldsRecordAt(total, cl, mft) && HoldsRecordAt(total, cl, mirror);
  // The backup boot sector at the count backs it.
  bool backedByCopy = false;
  std::uint64_t start = s;
  if (sized) {
    Sector copy;
    if (Read(s + total, copy.data(), 1) && std::memcmp(copy.data(), boot, kSectorSize) == 0) backedByCopy = true;
  }
  // The $MFT's record 0 and the mirror's first record (a copy of it) as
  // read, kept for the size and the runs below.
  std::array<std::uint8_t, ntfs::kMftRecordSize> record{}, mirrorRecord{};
  const auto holdsMft = [&](std::uint64_t at) {
    return IsMftRecordOfMft(at + cl * mft, record.data()) || IsMftRecordOfMft(at + cl * mirror, mirrorRecord.data());
  };
  const bool recordsRead = !backedByCopy;
  bool found = backedByCopy || holdsMft(s);
  if (!found && sized && s > total) {
    // The sector may be the backup in the volume's last sector.
    start = s - total;
    found = backedByCopy = holdsMft(start);
  }
  if (!found || IsVolumeAlreadyListed(kFsNtfs, start)) return false;
  const auto spc = static_cast<std::uint16_t>(cl <= 0xFFFF ? cl : 0);
  // The volume holds its backup boot sector, at its sector `total`. A count
  // no backup backs is taken only where its $Bitmap agrees; otherwise the
  // $Bitmap and that backup tell the size, as for a volume the deep search
  // finds from its $MFT.
  if (!recordsRead) Read(start + cl * mft, record.data(), ntfs::kMftRecordSize / kSectorSize);
  if (std::memcmp(record.data(), "FILE", 4) != 0) {
    if (!recordsRead) Read(start + cl * mirror, mirrorRecord.data(), ntfs::kMftRecordSize / kSectorSize);
    record = mirrorRecord;
  }
  std::uint64_t count = total + 1, backed = count;
  if (!backedByCopy) {
    const std::uint64_t held = NtfsVolumeSectors(record.data(), start + cl * mft, start, spc, &backed);
    // The $Bitmap counts whole clusters; the backup follows the last one.
    const bool agrees = sized && backed != 0 && backed <= total + 1 && total + 1 <= held + cl;
    if (agrees) backed = count;
    else count = held;
  }
  SourceRecord* r = Append(kFsNtfs, start, count, backed);
  if (r == nullptr) return true;
  RememberMftFind(record.data(), *r);
  PartitionRecord& p = *r->partition;
  p.mftSector = cl * mft;
  p.mftMirrorSector = cl * mirror;
  p.ntfsSectorsPerCluster = spc;
  ReportFind(*r);
  return true;
}

bool CThreadForSearchVolume::IsNtfsBackupOf(const std::uint8_t* boot, std::uint64_t sector, std::uint64_t start,
                                            std::uint16_t spc, std::uint64_t mftSector) {
  // The count excludes the sector the backup itself lies in.
  if (!HasSignature(boot) || !SaysNtfs(boot) || sector <= start) return false;
  return GetLE64(boot + 40) == sector - start && NtfsClusterSectors(boot[13]) == spc &&
         GetLE64(boot + 48) * spc == mftSector;
}

bool CThreadForSearchVolume::IsFat32BootSector(const std::uint8_t* boot, std::uint64_t s) {
  FatBootInfo info{};
  if (!ParseFatBootSector(info, boot)) return false;
  Sector fat;
  Read(s + info.reservedSectors, fat.data(), 1);
  if (!IsFatFirstSector(fat.data())) return false;
  if (IsVolumeAlreadyListed(info.kind, s)) return false;
  // 64-bit, so large FATs cannot wrap.
  const std::uint64_t estimate =
      std::uint64_t{info.sectorsPerCluster} * info.fatSize * FatEntriesPerSector(info.kind);
  if (estimate <= 4096) return false;
  // The boot sector's own count when the disk holds it and the FAT engine
  // would take it (room for a cluster after the reserved sectors, the FATs
  // and the root folder; FATs of less than a tenth of it); otherwise as far
  // as the FAT reaches, up to the next volume listed.
  const std::uint16_t small = GetLE16(boot + 19);
  const FatLayout layout{.kind = info.kind,
                         .sectorsPerCluster = info.sectorsPerCluster,
                         .reservedSectors = info.reservedSectors,
                         .rootDirSectors = info.rootDirSectors,
                         .fatSize = info.fatSize,
                         .rootCluster = info.rootCluster,
                         .sectorCount = small ? small : GetLE32(boot + 32)};
  // The count must lie on the disk (so must its FATs, then) and its FATs
  // cover the clusters it holds.
  const bool sized = s + layout.sectorCount <= diskSectors_ && IsFatLayoutSound(layout) &&
                     !IsBootGeometrySuspect(layout) &&
                     layout.DataClusters() <= FatClusterCapacity(layout.kind, layout.fatSize);
  // A guess otherwise: as far as FATs on the disk reach, or with FATs that
  // cannot be, as far as a count on the disk says; never past the next
  // volume listed, and hiding nothing.
  const std::uint64_t room = ListedCeiling(s) - s;
  std::uint64_t count = layout.sectorCount, backed = count;
  if (!sized) {
    const bool fatsFit = s < diskSectors_ && layout.DataStart() <= diskSectors_ - s;
    backed = 0;
    count = fatsFit                                                 ? std::min(FatReachSectors(layout), room)
            : layout.sectorCount != 0 && layout.sectorCount <= room ? layout.sectorCount
                                                                    : room;
  }
  SourceRecord* r = Append(info.kind, s, count, backed);
  if (r == nullptr) return true;
  PartitionRecord& p = *r->partition;
  p.fileSystemText = info.rootCluster == 0 ? u"FAT" : u"FAT32";
  p.fatSize = info.fatSize;
  p.reservedSectors = info.reservedSectors;
  p.rootDirSectors = info.rootDirSectors;
  p.sectorsPerCluster = info.sectorsPerCluster;
  p.rootCluster = info.rootCluster;
  ReportFind(*r);
  return true;
}

bool CThreadForSearchVolume::IsExFatBootSector(const std::uint8_t* boot, std::uint64_t s) {
  const exfat::BootFields f = exfat::ReadBootFields(std::span<const std::uint8_t, kSectorSize>(boot, kSectorSize));
  Sector fat;
  Read(s + f.fatOffset, fat.data(), 1);
  std::uint64_t start = s;
  if (!IsFatFirstSector(fat.data())) {
    // The backup boot sector lies twelve sectors after the main one.
    if (s < kExFatBackupOffset) return false;
    start = s - kExFatBackupOffset;
    Read(start + f.fatOffset, fat.data(), 1);
    if (!IsFatFirstSector(fat.data())) return false;
  }
  if (IsVolumeAlreadyListed(kFsExFat, start)) return false;
  const std::uint32_t clusters = f.clusterCount;
  if (clusters == 0) return false;
  const std::uint64_t length = f.volumeLength;
  const std::uint64_t perCluster = length / clusters;
  const std::uint64_t estimate = perCluster * clusters;
  if (estimate <= 4096) return false;
  // The length the cluster heap agrees with (it ends less than a cluster
  // before the volume's end) within the disk; else the heap's end, or a
  // guess up to the next volume listed when the heap cannot be either.
  const std::uint8_t shift = f.sectorsPerClusterShift;
  const std::uint64_t room = start < diskSectors_ ? diskSectors_ - start : 0;
  const std::uint64_t heapEnd = shift <= 25 ? f.clusterHeapOffset + (std::uint64_t{clusters} << shift) : ~0ull;
  std::uint64_t count = length, backed = length;
  if (heapEnd > room) {
    count = std::min(estimate, ListedCeiling(start) - start);
    backed = 0;
  } else if (length < heapEnd || length - heapEnd >= (std::uint64_t{1} << shift) || length > room) {
    count = backed = heapEnd;
  }
  SourceRecord* r = Append(kFsExFat, start, count, backed);
  if (r == nullptr) return true;
  PartitionRecord& p = *r->partition;
  p.fatSize = f.fatLength;
  p.reservedSectors = f.fatOffset;
  // The cluster size the boot sector states; the length's quotient only
  // when the shift is out of range.
  p.sectorsPerCluster = shift <= 7 ? static_cast<std::uint8_t>(1u << shift)
                                   : static_cast<std::uint8_t>(perCluster <= 0xFF ? perCluster : 0);
  p.rootCluster = f.rootCluster;
  ReportFind(*r);
  return true;
}

bool CThreadForSearchVolume::IsOnThisDisk(const ListedSource& p) const {
  if (p.kind == kSourceDisk || p.kind == kSourceNamedDisk || !p.hasPartition || (p.flags & 0x0F) != 0) return false;
  // A volume the partition tables list is the mounted disk's.
  if (p.kind == kSourceVolume) return true;
  return imageFlag_ ? p.diskNumber == kNoDiskNumber : p.diskNumber == driveNumber_;
}

bool CThreadForSearchVolume::IsVolumeAlreadyListed(std::uint8_t fsKind, std::uint64_t start) const {
  return std::any_of(listed_.begin(), listed_.end(), [&](const ListedSource& p) {
    return p.startSector == start && p.fileSystemKind == fsKind && IsOnThisDisk(p);
  });
}

bool CThreadForSearchVolume::LiesInListedVolume(std::uint64_t sector) const {
  return std::any_of(listed_.begin(), listed_.end(), [&](const ListedSource& p) {
    return sector >= p.startSector && sector - p.startSector < p.backedSectors && IsOnThisDisk(p);
  });
}

bool CThreadForSearchVolume::IsFatVolumeListed(std::uint64_t firstFat, std::uint64_t dataStart) const {
  return std::any_of(listed_.begin(), listed_.end(), [&](const ListedSource& p) {
    return p.dataStart != 0 && (p.firstFat == firstFat || p.dataStart == dataStart) && IsOnThisDisk(p);
  });
}

void CThreadForSearchVolume::Resize(std::size_t find, std::uint64_t count) {
  SetSectorCount(*finds_[find]->partition, count);
  listed_[listedBefore_ + find].sectorCount = count;
}

void CThreadForSearchVolume::CutGuessesAtNextVolume() {
  for (std::size_t k = 0; k < finds_.size(); ++k) {
    const ListedSource& x = listed_[listedBefore_ + k];
    if (x.backedSectors >= x.sectorCount) continue;
    const std::uint64_t cut = std::max(x.backedSectors, ListedCeiling(x.startSector) - x.startSector);
    if (cut < x.sectorCount) Resize(k, cut);
  }
}

std::uint64_t CThreadForSearchVolume::ListedCeiling(std::uint64_t start) const {
  std::uint64_t ceiling = diskSectors_ > start ? diskSectors_ : std::numeric_limits<std::uint64_t>::max();
  for (const ListedSource& p : listed_)
    if (p.startSector > start && IsOnThisDisk(p)) ceiling = std::min(ceiling, p.startSector);
  return ceiling;
}

SourceRecord* CThreadForSearchVolume::Append(std::uint8_t fsKind, std::uint64_t start, std::uint64_t count,
                                             std::uint64_t backed, std::uint8_t kind) {
  if (nextIndex_ > kLastSourceIndex) {
    if (!indexesRanOut_)
      job_.host.AppendLog("Volumes: every source index up to " + std::to_string(kLastSourceIndex) +
                              " is taken; later finds are not listed.",
                          false);
    indexesRanOut_ = true;
    return nullptr;
  }
  auto record = std::make_unique<SourceRecord>();
  record->kind = kind == 0xFF ? SourceKind() : kind;
  record->index = static_cast<std::uint16_t>(nextIndex_++);
  if (imageFlag_) record->path = job_.path;
  auto p = std::make_unique<PartitionRecord>();
  p->diskNumber = imageFlag_ ? kNoDiskNumber : driveNumber_;
  p->fileSystemKind = fsKind;
  p->fileSystemText = fsKind == kFsNtfs ? u"NTFS" : fsKind == kFsExFat ? u"exFAT" : fsKind == kFsFat32 ? u"FAT32" : u"FAT";
  // The volume ends on the disk, as listed volumes do.
  if (diskSectors_ != 0) count = start < diskSectors_ ? std::min(count, diskSectors_ - start) : 0;
  p->startSector = start;
  SetSectorCount(*p, count);
  record->partition = std::move(p);
  SourceRecord& appended = job_.appendSource(std::move(record));
  // Later finds are checked against this one as against the listed volumes,
  // hidden only by what it backs.
  listed_.push_back(ListedSourceOf(appended));
  listed_.back().backedSectors = std::min(backed, appended.partition->sectorCount);
  finds_.push_back(&appended);
  return &appended;
}

void CThreadForSearchVolume::ReportFind(SourceRecord& record, bool deepFind) {
  const std::uint32_t n = job_.volumesFoundBefore + ++found_;
  EngineHost& host = job_.host;
  host.AppendLog("Volume: " + Formatted(" %llu ", n), false);
  host.AppendLog("Found at sector no." + Formatted(" %llu ", record.partition->startSector), false);
  record.partition->name = deepFind ? DeepFoundVolumeName(n) : FoundVolumeName(n);
  // Its FAT layout is filled in now: later finds are checked against it.
  if (!finds_.empty() && finds_.back() == &record) SetFatAreas(listed_.back(), *record.partition);
  if (job_.volumeFound) job_.volumeFound(n);
  if (job_.sink) job_.sink->AddFoundVolume(record);
}

}  // namespace corvan
