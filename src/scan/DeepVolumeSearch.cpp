// The deep lost-volume search: one pass over the whole disk in 1 MiB chunks
// that tests boot sectors wherever they lie, rebuilds NTFS volumes from a
// surviving $MFT record and gathers the first sectors of FAT folders; after
// the pass the folders are grouped by the data-area start they imply and
// each group that agrees on a cluster size is turned into FAT volumes.

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <span>
#include <unordered_map>
#include <vector>

#include "core/EngineHost.h"
#include "engines/fat/FatRebuild.h"
#include "engines/fat/FatVote.h"
#include "engines/ntfs/NtfsRecord.h"
#include "platform/ByteCodec.h"
#include "scan/CThreadForSearchVolume.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

bool HasSignature(const std::uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }

// The cluster sizes tried for the folder groups, the common ones first.
constexpr std::array<std::uint32_t, 8> kTrialClusterSizes = {8, 64, 16, 32, 128, 4, 1, 2};
// A FAT16 volume rebuilt without its FAT reaches at most 2 GiB.
constexpr std::uint64_t kMaxFat16Sectors = 4194304;
// A data area this close to its volume's start is taken for a FAT16's (one
// reserved sector, FATs and the root folder in front of it), further in for
// a FAT32's, when no FAT is left to tell.
constexpr std::uint64_t kFat16DataStartLimit = 513;
// What the folder groups' backward searches may read besides the disk twice
// over (each sector once, and the FATs whose entries are counted): 32 MiB.
constexpr std::uint64_t kFatSearchAllowance = 65536;

// The sectors of a volume the partition tables list, or the part of one
// found from its boot sector that its own structures back.
struct ListedExtent {
  std::uint64_t start = 0, count = 0;
  bool Holds(std::uint64_t sector) const { return sector >= start && sector - start < count; }
};

bool Holds(const std::vector<ListedExtent>& listed, std::uint64_t sector) {
  return std::any_of(listed.begin(), listed.end(), [&](const ListedExtent& x) { return x.Holds(sector); });
}

// The volumes of the partition tables, and those the search found from
// their boot sectors (records of `lostKind`) on this disk or image.
std::vector<ListedExtent> ListedVolumes(const std::vector<ListedSource>& sources, std::uint8_t lostKind, bool image,
                                        std::uint8_t drive) {
  std::vector<ListedExtent> listed;
  for (const ListedSource& p : sources) {
    // Volumes loaded from a drive scan lie on another disk.
    if (!p.hasPartition || (p.flags & 0x0F) != 0) continue;
    const bool onThisDisk = image ? p.diskNumber == kNoDiskNumber : p.diskNumber == drive;
    if (p.kind == kSourceVolume || (p.kind == lostKind && onThisDisk))
      listed.push_back({p.startSector, p.backedSectors});
  }
  return listed;
}

// What lies around `sector` between the listed volumes: the end of the last
// one before it and the start of the first after it (or the disk's end).
std::pair<std::uint64_t, std::uint64_t> Gap(const std::vector<ListedExtent>& listed, std::uint64_t sector,
                                            std::uint64_t total) {
  std::uint64_t floor = 0, ceiling = total;
  for (const ListedExtent& x : listed) {
    if (x.start + x.count <= sector) floor = std::max(floor, x.start + x.count);
    if (x.start > sector) ceiling = std::min(ceiling, x.start);
  }
  return {floor, ceiling};
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

// $Bitmap, whose bits are the volume's clusters.
constexpr std::uint64_t kBitmapRecord = 6;

// The record's shown name is `wanted` (the fixup already applied).
bool IsNamed(const ntfs::MftRecord& record, std::u16string_view wanted) {
  std::vector<ntfs::FileNameInfo> names;
  for (const ntfs::Attribute& a : record.Attributes()) {
    if (a.type != ntfs::kAttrFileName || a.nonResident) continue;
    if (auto name = ntfs::ParseFileName(record.Value(a))) names.push_back(std::move(*name));
  }
  const ntfs::FileNameInfo* chosen = ntfs::ChooseFileName(names);
  return chosen && chosen->name == wanted;
}

// The unnamed $DATA attribute of the record, or null.
const ntfs::Attribute* DataAttribute(const ntfs::MftRecord& record) {
  for (const ntfs::Attribute& a : record.Attributes())
    if (a.type == ntfs::kAttrData && a.name.empty()) return &a;
  return nullptr;
}

bool HasAttributeList(const ntfs::MftRecord& record) {
  for (const ntfs::Attribute& a : record.Attributes())
    if (a.type == ntfs::kAttrAttributeList) return true;
  return false;
}

// 1024 bytes that begin "FILE" with '*' or '0', fixed up and parsed.
bool ParseRecord(std::vector<std::uint8_t>& bytes, ntfs::MftRecord& out) {
  if (bytes.size() < ntfs::kMftRecordSize || std::memcmp(bytes.data(), "FILE", 4) != 0) return false;
  ntfs::ApplyRecordFixup(std::span<std::uint8_t>(bytes.data(), ntfs::kMftRecordSize));
  return out.Parse(std::span<const std::uint8_t>(bytes.data(), ntfs::kMftRecordSize));
}

// The mapping pairs of the unnamed $DATA attribute of the 1024-byte record
// `bytes` (empty when it has none).
std::vector<std::uint8_t> DataRuns(const std::uint8_t* bytes) {
  std::vector<std::uint8_t> record(bytes, bytes + ntfs::kMftRecordSize);
  ntfs::MftRecord parsed;
  if (!ParseRecord(record, parsed)) return {};
  const ntfs::Attribute* data = DataAttribute(parsed);
  if (!data || !data->nonResident) return {};
  const auto pairs = parsed.MappingPairs(*data);
  return {pairs.begin(), pairs.end()};
}

std::uint64_t RunLengths(const std::vector<DataExtent>& extents) {
  std::uint64_t total = 0;
  for (const DataExtent& e : extents) total += e.length;
  return total;
}

// The absolute sector of $MFT record `number` through the $MFT's runs, on a
// volume at `start` with `spc` sectors a cluster; 0 where no run holds it.
std::uint64_t MftRecordSector(const std::vector<DataExtent>& mftRuns, std::uint64_t start, std::uint64_t spc,
                              std::uint64_t number) {
  const std::uint64_t clusterBytes = spc * kSectorSize;
  const std::uint64_t byte = number * ntfs::kMftRecordSize;
  const std::uint64_t vcn = byte / clusterBytes;
  for (const DataExtent& e : mftRuns)
    if (!e.sparse && vcn >= e.vcn && vcn < e.vcn + e.length)
      return start + (e.lcn + (vcn - e.vcn)) * spc + (byte % clusterBytes) / kSectorSize;
  return 0;
}

}  // namespace

void CThreadForSearchVolume::DeepSearch() {
  EngineHost& host = job_.host;
  BeginSearch();
  const std::int64_t range = static_cast<std::int64_t>(total_ / kChunkSectors);
  if (job_.sink) {
    job_.sink->SetProgressRange(0, range);
    job_.sink->SetProgressStep(1);
  }
  std::vector<DirectoryCandidate> candidates;
  SweepDisk(candidates);
  if (job_.sink) {
    job_.sink->SetProgressPos(range);
    job_.sink->HideProgress();
  }
  // Stop ends the sweep, not the evaluation of the folders it gathered: a
  // stopped search keeps the FAT volumes it had found. The evaluation reads
  // little (its backward searches share what they read, within a bound),
  // and a Stop asked during it ends it.
  const bool stopped = host.StopRequested();
  if (stopped) host.AbortFlag() = 0;
  if (!candidates.empty()) EvaluateDirectoryCandidates(candidates);
  host.LogProcessEnded(stopped || host.StopRequested());
  host.BusyFlag() = 0;
  host.AbortFlag() = 0;
}

void CThreadForSearchVolume::SweepDisk(std::vector<DirectoryCandidate>& candidates) {
  EngineHost& host = job_.host;
  std::vector<std::uint8_t> chunk((kChunkSectors + kChunkSlack) * kSectorSize);
  for (std::uint64_t c = 0; c < total_; c += kChunkSectors) {
    if (job_.sink) {
      job_.sink->SetProgressText("Reading sector " + Number(c) + " of " + Number(total_));
      job_.sink->StepProgress();
    }
    if (host.StopRequested()) break;
    // The disk's last chunk is examined too; what lies past the disk reads as zeros.
    const std::uint64_t toRead = std::min<std::uint64_t>(kChunkSectors + kChunkSlack, total_ - c);
    std::fill(chunk.begin(), chunk.end(), 0);
    Read(c, chunk.data(), static_cast<std::size_t>(toRead));
    const std::uint64_t examined = std::min<std::uint64_t>(kChunkSectors, total_ - c);
    for (std::uint64_t i = 0; i < examined; ++i) {
      const std::uint8_t* p = chunk.data() + i * kSectorSize;
      const std::uint64_t sector = c + i;
      if (IsFolderStartSector(p)) {
        if (candidates.size() < kMaxDirectoryCandidates) {
          const std::uint32_t cluster = (std::uint32_t{GetLE16(p + 20)} << 16) | GetLE16(p + 26);
          candidates.push_back({sector, cluster, 0});
        } else if (!candidateCapHit_) {
          candidateCapHit_ = true;
          host.AppendLog("Folder candidates: the limit of " + Number(kMaxDirectoryCandidates) +
                             " was reached at sector " + Number(sector) + "; later ones are not kept.",
                         false);
        }
        continue;
      }
      if (std::memcmp(p, "FILE", 4) == 0 && std::memcmp(p + 8 * kSectorSize, "FILE", 4) == 0) {
        if (p[4] != '*' && p[4] != '0') continue;
        std::uint16_t spc = 0;
        const std::uint64_t start = MftRecordVolumeStart(p, sector, spc);
        // A start inside what a listed volume backs is that volume's (its
        // $MFT mirror, copies of the record): each volume is listed once.
        if (start == 0 || IsVolumeAlreadyListed(kFsNtfs, start) || LiesInListedVolume(start)) continue;
        std::uint64_t backed = 0;
        const std::uint64_t count = NtfsVolumeSectors(p, sector, start, spc, &backed);
        // Within a volume whose size is a guess, a copy of its record is no
        // volume unless it has a $Bitmap of its own.
        if (backed == 0 && IsCopyOfMftFound(p, start)) continue;
        SourceRecord* r = Append(kFsNtfs, start, count, backed, DeepKind());
        if (r == nullptr) continue;
        RememberMftFind(p, *r);
        PartitionRecord& part = *r->partition;
        part.ntfsSectorsPerCluster = spc;
        part.mftSector = sector - start;
        part.mftMirrorSector = 0;
        ReportFind(*r, true);
        continue;
      }
      if (HasSignature(p)) TestSector(p, sector);
    }
  }
}

std::uint64_t CThreadForSearchVolume::MftRecordVolumeStart(const std::uint8_t* bytes, std::uint64_t r,
                                                           std::uint16_t& spc) {
  std::vector<std::uint8_t> record(bytes, bytes + ntfs::kMftRecordSize);
  ntfs::MftRecord parsed;
  if (!ParseRecord(record, parsed) || !IsNamed(parsed, u"$MFT")) return 0;
  const ntfs::Attribute* data = DataAttribute(parsed);
  if (!data || !data->nonResident || data->startVcn != 0) return 0;
  const std::uint64_t allocated = data->allocatedSize;
  if (allocated == 0) return 0;
  if (HasAttributeList(parsed)) return FindVolumeStartFromAttributeList(record, r, allocated, spc);

  std::vector<DataExtent> runs;
  if (!ntfs::DecodeMappingPairs(parsed.MappingPairs(*data), 0, runs) || runs.empty() || runs.front().sparse) return 0;
  const std::uint64_t clusters = RunLengths(runs);
  const std::uint64_t firstCluster = runs.front().lcn;
  // 64-bit: clusters x 512 x spc passes 2^32 on any $MFT over 4 GiB.
  std::uint32_t found = 0;
  for (std::uint32_t s = 1; s <= 512 && found == 0; s *= 2)
    if (clusters * kSectorSize * s == allocated) found = s;
  if (found == 0) return 0;
  const std::uint64_t offset = firstCluster * found;
  if (offset / found != firstCluster || r < offset + 63) return 0;
  spc = static_cast<std::uint16_t>(found);
  return r - offset;
}

std::uint64_t CThreadForSearchVolume::FindVolumeStartFromAttributeList(const std::vector<std::uint8_t>& record,
                                                                       std::uint64_t r, std::uint64_t allocated,
                                                                       std::uint16_t& spc) {
  spc = 0;
  std::vector<std::uint8_t> bytes = record;
  ntfs::MftRecord base;
  if (!base.Parse(std::span<const std::uint8_t>(bytes.data(), ntfs::kMftRecordSize))) return 0;
  const ntfs::Attribute* data = DataAttribute(base);
  const ntfs::Attribute* list = nullptr;
  for (const ntfs::Attribute& a : base.Attributes())
    if (a.type == ntfs::kAttrAttributeList) list = &a;
  if (!data || !list) return 0;
  std::vector<DataExtent> mftRuns;
  if (!ntfs::DecodeMappingPairs(base.MappingPairs(*data), data->startVcn, mftRuns) || mftRuns.empty() ||
      mftRuns.front().sparse)
    return 0;
  const std::uint64_t firstCluster = mftRuns.front().lcn;
  const std::uint64_t baseClusters = RunLengths(mftRuns);

  for (std::uint32_t s = 128; s >= 1; s /= 2) {
    if (s * firstCluster > r) continue;
    const std::uint64_t start = r - s * firstCluster;
    const std::uint64_t clusterBytes = std::uint64_t{s} * kSectorSize;
    // The list's entries, from the record or from its clusters.
    std::vector<ntfs::AttributeListEntry> entries;
    if (!list->nonResident) {
      ntfs::ParseAttributeList(base.Value(*list), entries);
    } else {
      std::vector<DataExtent> listRuns;
      if (!ntfs::DecodeMappingPairs(base.MappingPairs(*list), 0, listRuns)) continue;
      const std::uint64_t size = std::min<std::uint64_t>(list->realSize, 256 * 1024);
      std::vector<std::uint8_t> content;
      for (const DataExtent& e : listRuns) {
        if (content.size() >= size || e.sparse) break;
        const std::uint64_t bytesHere = std::min<std::uint64_t>(e.length * clusterBytes, size - content.size());
        const std::size_t sectors = static_cast<std::size_t>((bytesHere + kSectorSize - 1) / kSectorSize);
        std::vector<std::uint8_t> buffer(sectors * kSectorSize);
        Read(start + e.lcn * s, buffer.data(), sectors);
        content.insert(content.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(bytesHere));
      }
      ntfs::ParseAttributeList(content, entries);
    }
    std::uint64_t clusters = baseClusters;
    for (const ntfs::AttributeListEntry& entry : entries) {
      const std::uint64_t number = ntfs::ReferenceRecord(entry.reference);
      if (entry.type != ntfs::kAttrData || !entry.name.empty() || number == 0) continue;
      // Where the extension record lies, through the $MFT's own runs.
      const std::uint64_t sector = MftRecordSector(mftRuns, start, s, number);
      if (sector == 0) continue;
      std::vector<std::uint8_t> extension(ntfs::kMftRecordSize);
      Read(sector, extension.data(), ntfs::kMftRecordSize / kSectorSize);
      ntfs::MftRecord parsed;
      if (!ParseRecord(extension, parsed)) continue;
      const ntfs::Attribute* more = DataAttribute(parsed);
      if (!more || !more->nonResident) continue;
      std::vector<DataExtent> runs;
      if (ntfs::DecodeMappingPairs(parsed.MappingPairs(*more), more->startVcn, runs)) clusters += RunLengths(runs);
    }
    if (clusters * clusterBytes == allocated) {
      spc = static_cast<std::uint16_t>(s);
      return start;
    }
  }
  return 0;
}

void CThreadForSearchVolume::RememberMftFind(const std::uint8_t* record, const SourceRecord& found) {
  mftFinds_.push_back({found.partition->startSector, found.partition->sectorCount, DataRuns(record)});
}

bool CThreadForSearchVolume::IsCopyOfMftFound(const std::uint8_t* record, std::uint64_t start) const {
  const std::vector<std::uint8_t> runs = DataRuns(record);
  return !runs.empty() && std::any_of(mftFinds_.begin(), mftFinds_.end(), [&](const MftFind& f) {
           return start > f.start && start - f.start < f.sectors && f.runs == runs;
         });
}

std::uint64_t CThreadForSearchVolume::NtfsVolumeSectors(const std::uint8_t* mftRecord, std::uint64_t r,
                                                        std::uint64_t start, std::uint16_t spc,
                                                        std::uint64_t* backed) {
  // Without the volume's own word it reaches the disk's end: a guess.
  std::uint64_t unused = 0;
  std::uint64_t& confirmed = backed ? *backed : unused;
  confirmed = 0;
  const std::uint64_t toDiskEnd = total_ - start;
  std::vector<std::uint8_t> bytes(mftRecord, mftRecord + ntfs::kMftRecordSize);
  ntfs::MftRecord mft;
  if (spc == 0 || !ParseRecord(bytes, mft)) return toDiskEnd;
  const ntfs::Attribute* mftData = DataAttribute(mft);
  std::vector<DataExtent> mftRuns;
  if (!mftData || !mftData->nonResident ||
      !ntfs::DecodeMappingPairs(mft.MappingPairs(*mftData), mftData->startVcn, mftRuns))
    return toDiskEnd;
  const std::uint64_t at = MftRecordSector(mftRuns, start, spc, kBitmapRecord);
  if (at == 0) return toDiskEnd;
  std::vector<std::uint8_t> record(ntfs::kMftRecordSize);
  Read(at, record.data(), ntfs::kMftRecordSize / kSectorSize);
  ntfs::MftRecord bitmap;
  if (!ParseRecord(record, bitmap) || !IsNamed(bitmap, u"$Bitmap")) return toDiskEnd;
  const ntfs::Attribute* data = DataAttribute(bitmap);
  if (!data) return toDiskEnd;
  // One bit a cluster, the bytes rounded up to whole 8-byte words: the
  // volume has at most that many clusters and more than 64 fewer.
  const std::uint64_t size = data->nonResident ? data->realSize : data->valueLength;
  if (size == 0 || size > toDiskEnd) return toDiskEnd;
  const std::uint64_t clusters = size * 8;
  const std::uint64_t estimate = clusters * spc;

  // The backup boot sector in the volume's last sector gives the exact
  // count: it follows the volume's last whole cluster, so it lies within the
  // last 64 clusters the bitmap can count or in the cluster after them.
  const std::uint64_t fewest = clusters > 63 ? clusters - 63 : 0;
  const std::uint64_t first = start + fewest * spc;
  const std::uint64_t end = std::min(start + (clusters + 1) * spc, total_);
  std::vector<std::uint8_t> block(kChunkSectors * kSectorSize);
  for (std::uint64_t b = first; b < end; b += kChunkSectors) {
    const std::uint64_t n = std::min<std::uint64_t>(kChunkSectors, end - b);
    Read(b, block.data(), static_cast<std::size_t>(n));
    for (std::uint64_t i = 0; i < n; ++i)
      if (IsNtfsBackupOf(block.data() + i * kSectorSize, b + i, start, spc, r - start))
        return confirmed = b + i - start + 1;
  }
  confirmed = std::min(fewest * spc, toDiskEnd);
  return std::min(estimate, toDiskEnd);
}

std::uint8_t CThreadForSearchVolume::VoteSectorsPerCluster(std::vector<DirectoryCandidate>& group) {
  const std::size_t n = std::min(group.size(), kMaxVotingMembers);
  // Votes per power of two 1..128 (index = log2), overall and per member.
  std::array<std::uint64_t, 8> total{};
  std::vector<std::array<std::uint32_t, 8>> own(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const DirectoryCandidate& a = group[i];
      const DirectoryCandidate& b = group[j];
      if (b.cluster <= a.cluster || b.sector <= a.sector) continue;
      const std::uint64_t q = (b.sector - a.sector) / (b.cluster - a.cluster);
      if (q == 0 || q > 128 || (q & (q - 1)) != 0) continue;
      const int bit = std::countr_zero(q);
      ++total[bit];
      ++own[i][bit];
      ++own[j][bit];
    }
  }
  auto best = [](const auto& votes) -> std::uint8_t {
    int chosen = -1;
    for (int bit = 0; bit < 8; ++bit)
      if (votes[bit] != 0 && (chosen < 0 || votes[bit] > votes[chosen])) chosen = bit;
    return chosen < 0 ? 0 : static_cast<std::uint8_t>(1u << chosen);
  };
  for (std::size_t i = 0; i < group.size(); ++i) group[i].vote = i < n ? best(own[i]) : 0;
  return best(total);
}

void CThreadForSearchVolume::EvaluateDirectoryCandidates(std::vector<DirectoryCandidate>& candidates) {
  EngineHost& host = job_.host;
  // The backward searches look below the folders only: after a Stop, below
  // the part of the disk swept.
  foldersReach_ = 0;
  for (const DirectoryCandidate& c : candidates) foldersReach_ = std::max(foldersReach_, c.sector + 1);
  for (const std::uint32_t t : kTrialClusterSizes) {
    if (host.StopRequested()) return;
    // Groups of candidates that imply the same data-area start, in the order
    // their first member was found.
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::uint64_t, std::size_t> byEstimate;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      const DirectoryCandidate& c = candidates[k];
      // 64-bit: (cluster - 2) x t wraps 32 bits on a large disk. A folder
      // that would lie before the disk's start or past its end implies
      // nothing and stays alone.
      if (c.cluster < 2) continue;
      const std::uint64_t offset = std::uint64_t{c.cluster - 2} * t;
      if (offset > c.sector) continue;
      const std::uint64_t estimate = c.sector - offset;
      if (estimate > total_) continue;
      auto [it, added] = byEstimate.try_emplace(estimate, groups.size());
      if (added) groups.emplace_back();
      groups[it->second].push_back(k);
    }
    for (const std::vector<std::size_t>& members : groups) {
      if (host.StopRequested()) return;
      if (members.size() < 4) continue;
      std::vector<DirectoryCandidate> group;
      group.reserve(std::min(members.size(), kMaxGroupMembers));
      for (const std::size_t k : members) {
        if (group.size() == kMaxGroupMembers) {
          if (!groupCapHit_) {
            groupCapHit_ = true;
            host.AppendLog("Folder group: the limit of " + Number(kMaxGroupMembers) +
                               " members was reached; later ones are not kept.",
                           false);
          }
          break;
        }
        group.push_back(candidates[k]);
      }
      const std::uint8_t voted = VoteSectorsPerCluster(group);
      if (voted == 0) continue;
      if (!DeepSearchFat32(group, voted)) return;
    }
  }
}

std::uint64_t CThreadForSearchVolume::FatSearchBudget() const {
  return 2 * std::min(total_, foldersReach_) + kFatSearchAllowance;
}

FatSectorIndex& CThreadForSearchVolume::FatSectors() {
  if (!fatSectors_) {
    EngineHost& host = job_.host;
    fatSectors_ = std::make_shared<FatSectorIndex>(
        [this](std::uint64_t sector, std::uint8_t* buffer, std::size_t count) {
          if (job_.sink && sector < verifying_)
            job_.sink->SetProgressPos(std::min<std::int64_t>(verifyRange_, verifying_ - sector));
          return Read(sector, buffer, count);
        },
        FatSearchBudget(), [&host] { return host.StopRequested(); });
  }
  return *fatSectors_;
}

bool CThreadForSearchVolume::IsDeepFatListed(std::uint8_t fsKind, std::uint64_t start) const {
  for (const ListedSource& p : listed_) {
    if (p.kind != DeepKind() || !p.hasPartition) continue;
    if (p.startSector == start && p.fileSystemKind == fsKind) return true;
  }
  return false;
}

bool CThreadForSearchVolume::FoldIntoFolderVolume(std::uint64_t start, std::uint64_t reach) {
  for (auto& [first, last] : folderVolumes_) {
    if (start < last && first < reach) {
      last = std::max(last, reach);
      return true;
    }
  }
  return false;
}

bool CThreadForSearchVolume::AdoptRebuiltLayout(const RebuiltFatLayout& rebuilt) {
  for (std::size_t k = 0; k < finds_.size(); ++k) {
    ListedSource& x = listed_[listedBefore_ + k];
    if (x.kind != SourceKind() || x.dataStart == 0 || x.firstFat != rebuilt.FirstFat() ||
        x.dataStart == rebuilt.DataStart())
      continue;
    const FatLayout& l = rebuilt.layout;
    PartitionRecord& p = *finds_[k]->partition;
    p.fileSystemKind = l.kind;
    p.fileSystemText = l.kind == kFsFat32 ? u"FAT32" : u"FAT";
    p.reservedSectors = static_cast<std::uint32_t>(rebuilt.FirstFat() - p.startSector);
    p.fatSize = l.fatSize;
    p.rootDirSectors = static_cast<std::uint16_t>(l.rootDirSectors);
    p.sectorsPerCluster = l.sectorsPerCluster;
    p.rootCluster = l.rootCluster;
    x.fileSystemKind = l.kind;
    x.dataStart = rebuilt.DataStart();
    // A count the FSInfo and the FAT agree on replaces a guess.
    if (x.backedSectors < x.sectorCount && rebuilt.sizeFrom == FatSizeEvidence::FsInfoCount) {
      const std::uint64_t count = rebuilt.start + l.sectorCount - p.startSector;
      Resize(k, count);
      x.backedSectors = count;
    }
    return true;
  }
  return false;
}

bool CThreadForSearchVolume::DeepSearchFat32(const std::vector<DirectoryCandidate>& group, std::uint8_t voted) {
  EngineHost& host = job_.host;
  FatSectorIndex& index = FatSectors();
  // The vote table keys are 32 bits: they count from the lowest start the
  // members imply, so volumes past 2 TiB keep their place.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> estimates;
  // Past the last folder that implies each data area: how far a volume
  // rebuilt there reaches by its own folders.
  std::map<std::pair<std::uint64_t, std::uint8_t>, std::uint64_t> reach;
  for (const DirectoryCandidate& m : group) {
    // A member without a vote of its own says nothing of the data area.
    if (m.vote == 0 || m.cluster < 2) continue;
    const std::uint64_t offset = std::uint64_t{m.cluster - 2} * m.vote;
    if (offset > m.sector) continue;
    estimates.emplace_back(m.sector - offset, m.vote);
    std::uint64_t& last = reach[estimates.back()];
    last = std::max(last, m.sector + 1);
  }
  if (estimates.empty()) return true;
  std::uint64_t base = estimates.front().first;
  for (const auto& [estimate, spc] : estimates) base = std::min(base, estimate);
  std::vector<VoteRecord> table;
  for (const auto& [estimate, spc] : estimates)
    if (estimate - base <= 0xFFFFFFFFu) VoteTableAdd(table, static_cast<std::uint32_t>(estimate - base), spc);
  VoteTableSort(table);
  std::vector<std::uint32_t> clusters;
  clusters.reserve(group.size());
  for (const DirectoryCandidate& m : group) clusters.push_back(m.cluster);

  const std::vector<ListedExtent> listed = ListedVolumes(listed_, SourceKind(), imageFlag_, driveNumber_);
  // `backed`: the size is no guess. The volume's folders reach to `folders`.
  const auto appendFat = [&](std::uint8_t fsKind, std::uint64_t at, std::uint64_t sectors, bool backed,
                             const FatLayout& layout, std::uint64_t folders) {
    if (sectors == 0 || at >= total_ || IsDeepFatListed(fsKind, at)) return;
    SourceRecord* r = Append(fsKind, at, sectors, backed ? sectors : 0, DeepKind());
    if (r == nullptr) return;
    folderVolumes_.emplace_back(at, std::max(folders, at + 1));
    PartitionRecord& p = *r->partition;
    p.fileSystemText = fsKind == kFsFat32 ? u"FAT32" : u"FAT";
    p.reservedSectors = layout.reservedSectors;
    p.rootDirSectors = static_cast<std::uint16_t>(layout.rootDirSectors);
    p.fatSize = layout.fatSize;
    p.sectorsPerCluster = layout.sectorsPerCluster;
    p.rootCluster = layout.rootCluster;
    p.clusterArray = clusters;
    p.clusterArrayCount = static_cast<std::uint32_t>(clusters.size());
    ReportFind(*r, true);
  };

  std::uint32_t verified = 0;
  for (const VoteRecord& vote : table) {
    if (host.StopRequested()) return false;
    const std::uint64_t e = base + vote.start;
    const auto v = static_cast<std::uint8_t>(vote.sectorsPerCluster);
    // Members that voted for another cluster size than the group's are noise.
    if (v != voted) continue;
    // Folders inside what a volume of the partition tables, or one found
    // from its boot sector, backs are that volume's, and so are those that
    // agree with a listed FAT volume's data area: it is not listed again.
    if (Holds(listed, e) || IsFatVolumeListed(~0ull, e)) continue;
    // A data area another group implied was tried already: what it gave
    // is listed.
    if (!triedDataAreas_.emplace(e, v).second) continue;
    const auto [floor, ceiling] = Gap(listed, e, total_);
    ++verified;
    verifying_ = e;
    verifyRange_ = static_cast<std::int64_t>(std::min(e - floor, kMaxFatSearchSectors));
    if (job_.sink) {
      job_.sink->SetProgressText("Verifying volumes" + std::string(" ") + Number(verified) + " ");
      job_.sink->SetProgressRange(0, verifyRange_);
      job_.sink->SetProgressStep(1);
      job_.sink->SetProgressPos(0);
      job_.sink->RevealProgress();
    }
    FatRebuildBounds bounds;
    bounds.floor = floor;
    bounds.ceiling = ceiling;
    const RebuiltFatLayout rebuilt = RebuildFatLayout(index, e, v, bounds);
    if (job_.sink) {
      job_.sink->SetProgressPos(verifyRange_);
      job_.sink->HideProgress();
    }
    if (index.Ended()) {
      // What was not read is not known to hold no FAT: nothing more is
      // listed from the folders.
      if (!index.Stopped())
        host.AppendLog("Folder groups: the limit of " + Number(FatSearchBudget()) +
                           " sectors read in front of their data areas was reached; later ones are not checked.",
                       false);
      return false;
    }
    // Only both FAT copies, at the FAT size's distance, make a volume here:
    // one copy alone would fit the folders of a volume formatted over.
    const std::uint64_t folders = reach[{e, v}];
    if (rebuilt.rebuilt && rebuilt.bothCopies) {
      const FatLayout& l = rebuilt.layout;
      // The FAT's length is the reach of its entries, a guess; a count the
      // FSInfo and the FAT agree on is the volume's own.
      if (!Holds(listed, rebuilt.FirstFat()) && !AdoptRebuiltLayout(rebuilt) &&
          !IsFatVolumeListed(rebuilt.FirstFat(), rebuilt.DataStart()))
        appendFat(l.kind, rebuilt.start, l.sectorCount, rebuilt.sizeFrom == FatSizeEvidence::FsInfoCount, l, folders);
      continue;
    }
    // FAT copies that fit no layout with these folders: nothing to list.
    if (rebuilt.fatSeen) continue;
    // No FAT is left in front of the folders: the data area alone, its files
    // read as contiguous runs, up to the next volume.
    FatLayout l;
    l.sectorsPerCluster = v;
    l.fatSize = 1;
    if (e <= kFat16DataStartLimit) {
      l.kind = kFsFat16;
      l.reservedSectors = 1;
      l.rootDirSectors = 32;
    } else {
      l.kind = kFsFat32;
      l.reservedSectors = 32;
    }
    if (e < l.DataStart() || e - l.DataStart() < floor) continue;
    const std::uint64_t at = e - l.DataStart();
    // Where the folders of a FAT volume rebuilt already go on past this
    // start, these are more of them: one guess for a run of folders, not one
    // for every group in it. A neighbour has folders of its own.
    if (FoldIntoFolderVolume(at, std::max(folders, at + 1))) continue;
    const std::uint64_t sectors = ceiling - at;
    appendFat(l.kind, at, l.kind == kFsFat16 ? std::min(sectors, kMaxFat16Sectors) : sectors, false, l, folders);
  }
  return true;
}

}  // namespace corvan
