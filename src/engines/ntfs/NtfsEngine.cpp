// The engine object: binding to a volume, sector and cluster reads, MFT
// record reads, and the hand-over of found items with its counters, progress
// and log lines.

#include "engines/ntfs/NtfsEngine.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

namespace {



// Records asked for one by one are read a megabyte at a time and a few of
// those blocks are kept: a file's other records lie close to it.
constexpr std::uint64_t kMftBlockRecords = 1024;
constexpr std::size_t kMaxMftBlocks = 64;

// A pass over every record reads the $MFT front to back this much at a time.
constexpr std::uint64_t kMftPassBytes = 4u << 20;

// Reads handed to the sector reader at most this large.
constexpr std::uint64_t kMaxReadBytes = 16u << 20;


}  // namespace

void ItemIdSet::SetDenseBound(std::uint64_t bound) {
  std::vector<std::uint64_t> held(sparse_.begin(), sparse_.end());
  for (std::size_t id = 0; id < dense_.size(); ++id)
    if (dense_[id]) held.push_back(id);
  dense_.assign(static_cast<std::size_t>(bound), false);
  sparse_.clear();
  for (const std::uint64_t id : held) insert(id);
}

NtfsEngine::NtfsEngine(EngineHost& host) : m_host(host) { SetSinks(host.ResultsSink(), host.ScanProgressSink()); }

NtfsEngine::~NtfsEngine() = default;

void NtfsEngine::SetSinks(FoundItemSink* console, ProgressSink* scanDialog) {
  m_poster.Attach(console, scanDialog);
  m_pConsole = &m_poster.Results();
  m_pScanDlg = &m_poster.Progress();
}

void NtfsEngine::FreeLists() {
  m_mftRuns.clear();
  m_nMftRecords = 0;
  m_visited.clear();
  m_visited.shrink_to_fit();
  {
    std::lock_guard lock(m_mftMutex);
    m_mftBlocks.clear();
    m_mftBlockOrder.clear();
  }
  ReleaseQuickFacts();
  m_knownFolders.clear();
  m_postedIds.clear();
  m_waitingFolders.clear();
  m_waitingFiles.clear();
  m_freeExtents.clear();
  m_bFreeExtentsValid = false;
  m_rawFolders.Clear();
  m_collectedHits.clear();
  m_collectedTally = {};
  m_logFileRuns.clear();
  m_keptRuns.clear();
  m_deletedFolders.clear();
  m_deletedFiles.clear();
  m_nRootRange = 0;
  m_bAdvanceRecords = false;
  ClearFoundRecords();
  m_foundRecords.shrink_to_fit();
}

void NtfsEngine::ClearFoundRecords() {
  m_foundRecords.clear();
  m_foundByNumber.clear();
  m_foundFileVersions.clear();
  m_foundDirs.clear();
  m_dirByNumber.clear();
  m_advanceKnown.clear();
  std::lock_guard lock(m_mftMutex);
  m_sectorBlocks.clear();
  m_sectorBlockOrder.clear();
}

// ---------------------------------------------------------------- binding

void NtfsEngine::Prepare(const NtfsVolumeBinding& binding) {
  m_nVolumeFirstSector = binding.firstSector;
  m_nVolumeSectorCount = binding.sectorCount;
  m_nVolumeEndSector = binding.endSector;
  m_nPartitionType = binding.partitionType;
  m_nDiskNumber = binding.diskNumber;
  m_nPartitionSectorsPerCluster = binding.sectorsPerCluster;
  m_nPartitionMftSector = binding.mftSector;
  m_nPartitionMftMirrSector = binding.mftMirrorSector;
  m_fileSystemText = binding.fileSystemText;
  m_pDisk = binding.disk;
  m_nRootRecord = kRootRecord;
  m_bLostFolderMade = 0;
}

void NtfsEngine::Prepare(const Volume& volume) {
  // Drives and disks carry no volume: the engine keeps its geometry but
  // reads the disk it was given, as the other engines do.
  if (volume.IsWholeDisk()) {
    m_pDisk = volume.disk;
    return;
  }
  const PartitionRecord& p = *volume.partition;
  NtfsVolumeBinding b;
  b.firstSector = volume.FirstSector();
  b.sectorCount = p.sectorCount;
  b.endSector = p.endSector;
  b.partitionType = p.fileSystemKind;
  b.diskNumber = p.diskNumber;
  b.sectorsPerCluster = p.ntfsSectorsPerCluster;
  b.mftSector = p.mftSector;
  b.mftMirrorSector = p.mftMirrorSector;
  b.fileSystemText = p.fileSystemText;
  b.disk = volume.disk;
  Prepare(b);
}

// ---------------------------------------------------------------- I/O

bool NtfsEngine::ReadVolumeSectors(void* buffer, std::uint32_t byteCount, std::uint64_t sector) {
  const std::uint64_t absolute = m_nVolumeFirstSector + sector;
  if (!m_pDisk) std::memset(buffer, 0, byteCount);  // not bound: nothing can be read
  const bool ok = m_pDisk && byteCount != 0 && m_pDisk->ReadSectors(absolute, buffer, byteCount);
  if (!ok) ++m_nReadFailures;
  return ok;
}

bool NtfsEngine::ReadClusters(void* buffer, std::uint64_t cluster, std::uint32_t sectorCount,
                              std::uint32_t sectorOffset) {
  // 64-bit: a cluster number times sectors per cluster passes 2^32 on any
  // volume over 2 TiB.
  const std::uint64_t sector = cluster * m_nSectorsPerCluster + sectorOffset;
  return ReadVolumeSectors(buffer, sectorCount * kSectorSize, sector);
}

ClusterReader NtfsEngine::MakeClusterReader() {
  return [this](std::uint64_t lcn, std::uint64_t count, std::uint8_t* buffer) {
    const std::uint64_t spc = m_nSectorsPerCluster;
    if (spc == 0) return false;  // no geometry: nothing can be placed
    const std::uint64_t cb = spc * kSectorSize;
    bool ok = true;
    const std::uint64_t volumeClusters = m_nVolumeSectorCount / spc;
    for (std::uint64_t done = 0; done < count;) {
      const std::uint64_t n = std::min<std::uint64_t>(count - done, std::max<std::uint64_t>(1, kMaxReadBytes / cb));
      std::uint8_t* out = buffer + done * cb;
      // Runs that point past the volume come from damaged records.
      if (!ok || lcn + done + n > volumeClusters || lcn + done + n < lcn) {
        std::memset(out, 0, static_cast<std::size_t>(n * cb));
        ok = false;
      } else if (!ReadVolumeSectors(out, static_cast<std::uint32_t>(n * cb), (lcn + done) * spc)) {
        ok = false;
      }
      done += n;
    }
    return ok;
  };
}

// ---------------------------------------------------------------- records

bool NtfsEngine::ReadMftSpan(std::uint64_t begin, std::uint64_t end, std::uint8_t* out) {
  const std::uint64_t cb = ClusterBytes();
  const std::uint64_t mftBytes = m_nMftRecords * ntfs::kMftRecordSize;
  const std::vector<DataExtent> segs = NormaliseExtents(m_mftRuns, mftBytes / cb + (mftBytes % cb ? 1 : 0));
  const ClusterReader read = MakeClusterReader();
  std::vector<std::uint8_t> part;  // a cluster only partly wanted
  bool ok = true;
  for (const DataExtent& seg : segs) {
    std::uint64_t lo = std::max(seg.vcn * cb, begin);
    const std::uint64_t hi = std::min((seg.vcn + seg.length) * cb, end);
    if (lo >= hi) continue;
    if (seg.sparse) {
      std::memset(out + (lo - begin), 0, static_cast<std::size_t>(hi - lo));
      continue;
    }
    while (lo < hi) {
      const std::uint64_t cluster = lo / cb;
      const std::uint64_t lcn = seg.lcn + (cluster - seg.vcn);
      const std::uint64_t whole = lo % cb == 0 ? (hi - lo) / cb : 0;
      if (whole != 0) {
        if (!read(lcn, whole, out + (lo - begin))) ok = false;
        lo += whole * cb;
        continue;
      }
      part.resize(static_cast<std::size_t>(cb));
      if (!read(lcn, 1, part.data())) ok = false;
      const std::uint64_t take = std::min(hi, (cluster + 1) * cb) - lo;
      std::memcpy(out + (lo - begin), part.data() + lo % cb, static_cast<std::size_t>(take));
      lo += take;
    }
  }
  return ok;
}

void NtfsEngine::ReadMftRecords(std::uint64_t first, std::uint64_t count, std::uint8_t* out) {
  constexpr std::uint64_t kRecord = ntfs::kMftRecordSize;
  if (ReadMftSpan(first * kRecord, (first + count) * kRecord, out)) return;
  // Find the records the failed read hit: those become unreadable (all
  // zeros), the others are kept.
  FileDataLayout layout;
  layout.clusterBytes = ClusterBytes();
  layout.size = m_nMftRecords * kRecord;
  layout.extents = m_mftRuns;
  const ClusterReader read = MakeClusterReader();
  for (std::uint64_t r = 0; r < count; ++r) {
    WalkResult one;
    const std::uint64_t at = (first + r) * kRecord;
    const auto again = ReadFileData(layout, read, at, at + kRecord, &one);
    std::uint8_t* dst = out + r * kRecord;
    if (one.Clean() && again.size() == kRecord) std::memcpy(dst, again.data(), kRecord);
    else std::memset(dst, 0, kRecord);
  }
}

bool NtfsEngine::ForEachMftRecord(std::uint64_t first, const MftRecordVisitor& visit) {
  if (m_nSectorsPerCluster == 0) return !Aborted();
  const std::uint64_t perRead = kMftPassBytes / ntfs::kMftRecordSize;
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kMftPassBytes);
  for (std::uint64_t r = first; r < m_nMftRecords;) {
    if (Aborted()) return false;
    const std::uint64_t n = std::min(perRead, m_nMftRecords - r);
    ReadMftRecords(r, n, buffer.get());
    for (std::uint64_t k = 0; k < n; ++k) {
      const std::span<std::uint8_t, ntfs::kMftRecordSize> bytes(buffer.get() + k * ntfs::kMftRecordSize,
                                                                ntfs::kMftRecordSize);
      if (!visit(r + k, bytes)) return false;
    }
    r += n;
  }
  return true;
}

bool NtfsEngine::ReadMftRecord(std::uint64_t record, std::span<std::uint8_t, ntfs::kMftRecordSize> out) {
  if (record >= m_nMftRecords || m_nSectorsPerCluster == 0) return false;
  const std::uint64_t block = record / kMftBlockRecords;
  const std::uint64_t first = block * kMftBlockRecords;
  std::lock_guard lock(m_mftMutex);
  auto it = m_mftBlocks.find(block);
  if (it == m_mftBlocks.end()) {
    const std::uint64_t count = std::min(kMftBlockRecords, m_nMftRecords - first);
    auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(count * ntfs::kMftRecordSize);
    ReadMftRecords(first, count, bytes.get());
    if (m_mftBlockOrder.size() >= kMaxMftBlocks) {
      m_mftBlocks.erase(m_mftBlockOrder.front());
      m_mftBlockOrder.erase(m_mftBlockOrder.begin());
    }
    m_mftBlockOrder.push_back(block);
    it = m_mftBlocks.emplace(block, std::move(bytes)).first;
  }
  std::memcpy(out.data(), it->second.get() + (record - first) * ntfs::kMftRecordSize, ntfs::kMftRecordSize);
  return true;
}

bool NtfsEngine::LoadRecord(std::uint64_t record, ntfs::MftRecord& out) {
  std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
  if (!ReadMftRecord(record, bytes)) return false;
  if (ntfs::ApplyRecordFixup(bytes) != ntfs::FixupStatus::Ok) return false;
  return out.Parse(bytes);
}

bool NtfsEngine::LoadFileView(std::uint64_t record, ntfs::FileView& out) {
  ntfs::MftRecord base;
  if (!LoadRecord(record, base)) return false;
  out = ViewOf(record, base);
  return true;
}

ntfs::FileView NtfsEngine::ViewOf(std::uint64_t record, const ntfs::MftRecord& base) {
  return ntfs::BuildFileView(
      record, base, [this](std::uint64_t n, ntfs::MftRecord& r) { return LoadRecord(n, r); },
      [this](const ntfs::AttributeData& d, std::uint64_t limit) { return ReadAttributeData(d, limit); });
}

void NtfsEngine::MarkVisited(std::uint64_t record) {
  if (record < m_visited.size()) m_visited[static_cast<std::size_t>(record)] = true;
}

// ---------------------------------------------------------------- posting

bool NtfsEngine::Aborted() const { return m_host.StopRequested(); }

void NtfsEngine::RefuseVolume() {
  // The worker ends the scan as usual afterwards; only the message is shown here.
  m_bVolumeRefused = true;
  m_host.GetPrompt().MessageBoxId(kIdsInvalidVolume, kPicError, kMbOk);
}

std::uint8_t NtfsEngine::ItemFlagsFromAttributes(std::uint32_t fileAttributes) {
  const bool compressed = (fileAttributes & ntfs::kNameFlagCompressed) != 0;
  const bool encrypted = (fileAttributes & ntfs::kNameFlagEncrypted) != 0;
  // NTFS makes a file either compressed or encrypted, never both: the pair
  // is a damaged field and shows as neither. The other attribute bits
  // (sparse, temporary, not indexed, ...) say nothing about either.
  if (compressed == encrypted) return 0;
  return compressed ? kItemCompressed : kItemEncrypted;
}

std::uint8_t NtfsEngine::RecordItemFlags(const ntfs::FileView& view) {
  if (view.data.IsCompressed()) return kItemCompressed;
  if (view.data.present && view.data.IsEncrypted()) return kItemEncrypted;
  return view.standardInfo ? ItemFlagsFromAttributes(view.standardInfo->fileAttributes) : 0;
}

void NtfsEngine::PostRootIfFirst() {
  if (m_poster.Opened()) return;
  m_knownFolders.insert(kRootRecord);
  m_postedIds.insert(kRootRecord);
  m_poster.OpenRoot(static_cast<std::int64_t>(m_nRootRange ? m_nRootRange : m_nMftRecords));
}

FoundItemHandle NtfsEngine::PostFoundItem(const FoundItemInfo& record, std::u16string_view name) {
  PostRootIfFirst();
  m_postedIds.insert(record.itemId);
  MarkVisited(record.itemId);
  if (record.IsFolder()) m_knownFolders.insert(record.itemId);
  FoundItemPoster::PostStyle style;
  style.folderBytes = true;
  return m_poster.Post(record, name, style);
}

void NtfsEngine::PostPlaceholderFolder(std::uint32_t id, std::uint32_t parent, std::u16string_view name) {
  PostRootIfFirst();
  FoundItemInfo item;
  item.location = id;
  item.itemId = id;
  item.parentId = parent;
  item.attribute = kItemFolder;
  m_postedIds.insert(id);
  m_knownFolders.insert(id);
  m_poster.Post(item, name, FoundItemPoster::PostStyle{});
}


}  // namespace corvan
