#include "scan/CThreadForSearchVolume.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/EngineHost.h"
#include "core/StringTable.h"
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
    : job_(std::move(job)), listed_(std::move(job_.listed)), imageFlag_(job_.imageFlag) {}

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

bool CThreadForSearchVolume::IsMftRecordOfMft(std::uint64_t sector) {
  using namespace ntfs;
  std::array<std::uint8_t, kMftRecordSize> record{};
  Read(sector, record.data(), kMftRecordSize / kSectorSize);
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
  bool found = false;
  std::uint64_t start = s;
  if (total != 0) {
    Sector copy;
    if (Read(s + total, copy.data(), 1) && std::memcmp(copy.data(), boot, kSectorSize) == 0) found = true;
  }
  if (!found) found = IsMftRecordOfMft(s + cl * mft) || IsMftRecordOfMft(s + cl * mirror);
  if (!found && s > total) {
    // The sector may be the backup in the volume's last sector.
    start = s - total;
    found = IsMftRecordOfMft(start + cl * mft) || IsMftRecordOfMft(start + cl * mirror);
  }
  if (!found || IsVolumeAlreadyListed(kFsNtfs, start)) return false;
  // The volume holds its backup boot sector, at its sector `total`.
  SourceRecord& r = Append(kFsNtfs, start, total + 1, true);
  PartitionRecord& p = *r.partition;
  p.mftSector = cl * mft;
  p.mftMirrorSector = cl * mirror;
  p.ntfsSectorsPerCluster = static_cast<std::uint16_t>(cl);
  ReportFind(r);
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
  // FAT entries in one 512-byte FAT sector; 64-bit, so large FATs cannot wrap.
  const std::uint64_t entries = info.kind == kFat12 ? 341 : info.kind == kFat16 ? 256 : 128;
  const std::uint64_t estimate = std::uint64_t{info.sectorsPerCluster} * info.fatSize * entries;
  if (estimate <= 4096) return false;
  // The boot sector's own count when the disk holds it; the FAT's reach
  // falls short of the volume's end.
  const std::uint16_t small = GetLE16(boot + 19);
  const std::uint64_t declared = small ? small : GetLE32(boot + 32);
  const std::uint64_t count = declared && s + declared <= diskSectors_ ? declared : estimate;
  SourceRecord& r = Append(info.kind, s, count, false);
  PartitionRecord& p = *r.partition;
  p.fileSystemText = info.rootCluster == 0 ? u"FAT" : u"FAT32";
  p.fatSize = info.fatSize;
  p.reservedSectors = info.reservedSectors;
  p.rootDirSectors = info.rootDirSectors;
  p.sectorsPerCluster = info.sectorsPerCluster;
  p.rootCluster = info.rootCluster;
  ReportFind(r);
  return true;
}

bool CThreadForSearchVolume::IsExFatBootSector(const std::uint8_t* boot, std::uint64_t s) {
  const std::uint32_t fatOffset = GetLE32(boot + 80);
  Sector fat;
  Read(s + fatOffset, fat.data(), 1);
  std::uint64_t start = s;
  if (!IsFatFirstSector(fat.data())) {
    // The backup boot sector lies twelve sectors after the main one.
    if (s < kExFatBackupOffset) return false;
    start = s - kExFatBackupOffset;
    Read(start + fatOffset, fat.data(), 1);
    if (!IsFatFirstSector(fat.data())) return false;
  }
  if (IsVolumeAlreadyListed(kFsExFat, start)) return false;
  const std::uint32_t clusters = GetLE32(boot + 92);
  if (clusters == 0) return false;
  const std::uint64_t length = GetLE64(boot + 72);
  const std::uint64_t perCluster = length / clusters;
  const std::uint64_t estimate = perCluster * clusters;
  if (estimate <= 4096) return false;
  const std::uint64_t count = start + length <= diskSectors_ ? length : estimate;
  SourceRecord& r = Append(kFsExFat, start, count, false);
  PartitionRecord& p = *r.partition;
  p.fatSize = GetLE32(boot + 84);
  p.reservedSectors = fatOffset;
  // The cluster size the boot sector states; the length's quotient only
  // when the shift is out of range.
  const std::uint8_t shift = boot[0x6D];
  p.sectorsPerCluster = shift <= 7 ? static_cast<std::uint8_t>(1u << shift)
                                   : static_cast<std::uint8_t>(perCluster <= 0xFF ? perCluster : 0);
  p.rootCluster = GetLE32(boot + 96);
  ReportFind(r);
  return true;
}

bool CThreadForSearchVolume::IsVolumeAlreadyListed(std::uint8_t fsKind, std::uint64_t start) const {
  for (const ListedSource& p : listed_) {
    const std::uint8_t kind = p.kind;
    if (kind == kSourceDisk || kind == kSourceNamedDisk || !p.hasPartition) continue;
    if (p.startSector != start || p.fileSystemKind != fsKind || (p.flags & 0x0F) != 0) continue;
    // A volume the partition tables list is not lost.
    if (kind == kSourceVolume) return true;
    if (imageFlag_ ? p.diskNumber == kNoDiskNumber : p.diskNumber == driveNumber_) return true;
  }
  return false;
}

SourceRecord& CThreadForSearchVolume::Append(std::uint8_t fsKind, std::uint64_t start, std::uint64_t count, bool ntfsEnd,
                                             std::uint8_t kind) {
  auto record = std::make_unique<SourceRecord>();
  record->kind = kind == 0xFF ? SourceKind() : kind;
  record->index = listed_.empty() ? 0 : static_cast<std::uint16_t>(listed_.back().index + 1);
  if (imageFlag_) record->path = job_.path;
  auto p = std::make_unique<PartitionRecord>();
  p->diskNumber = imageFlag_ ? kNoDiskNumber : driveNumber_;
  p->fileSystemKind = fsKind;
  p->fileSystemText = fsKind == kFsNtfs ? u"NTFS" : fsKind == kFsExFat ? u"exFAT" : fsKind == kFsFat32 ? u"FAT32" : u"FAT";
  // The volume ends on the disk, as listed volumes do.
  if (diskSectors_ != 0) count = start < diskSectors_ ? std::min(count, diskSectors_ - start) : 0;
  p->startSector = start;
  p->sectorCount = count;
  p->endSector = ntfsEnd || count == 0 ? start + count : start + count - 1;
  p->sizeInBytes = count * kSectorSize;
  p->sizeText = FormatSizeText(count);
  record->partition = std::move(p);
  SourceRecord& appended = job_.appendSource(std::move(record));
  // Later finds are checked against this one as against the listed volumes.
  listed_.push_back(ListedSourceOf(appended));
  return appended;
}

void CThreadForSearchVolume::ReportFind(SourceRecord& record, bool deepFind) {
  const std::uint32_t n = job_.volumesFoundBefore + ++found_;
  EngineHost& host = job_.host;
  host.AppendLog("Volume: " + Formatted(" %llu ", n), false);
  host.AppendLog("Found at sector no." + Formatted(" %llu ", record.partition->startSector), false);
  record.partition->name = deepFind ? DeepFoundVolumeName(n) : FoundVolumeName(n);
  if (job_.volumeFound) job_.volumeFound(n);
  if (job_.sink) job_.sink->AddFoundVolume(record);
}

}  // namespace corvan
