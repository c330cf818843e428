// Raw Recovery with the NTFS engine: files carved out of the volume's free
// clusters, or out of every sector when the volume bitmap cannot be read,
// filed under folders named after their types. Advance Recovery's matcher
// for the free clusters its record search passes over lives here too, with
// the posting of what it kept after the tree.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "core/Carver.h"
#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

constexpr std::int32_t kFirstSyntheticId = -16;
constexpr std::uint32_t kFreeSpaceFirstId = 6;
constexpr std::uint32_t kVolumeSearchFirstId = 10;
constexpr std::uint32_t kReadSectors = 2048;
// Volumes up to this size are read a cluster at a time.
constexpr std::uint64_t kSmallVolumeSectors = 3000;
constexpr std::int64_t kRawProgressRange = 10000;
constexpr std::int64_t kCollectedProgressRange = 100000;
// Type names of raw items are kept to 7 characters.
constexpr std::size_t kTypeNameUnits = 7;
// Reads handed to the sector reader at most this large.
constexpr std::size_t kMaxCarveRead = 16u << 20;

std::uint32_t ClustersPerRead(std::uint32_t sectorsPerCluster) {
  return ntfs::ValidSectorsPerCluster(sectorsPerCluster) ? kReadSectors / sectorsPerCluster : 1;
}

std::string Decimal(std::uint64_t v) { return std::to_string(v); }

// The engine's own matcher for Advance Recovery.
class OwnHitCollector final : public FreeSpaceHitCollector {
 public:
  explicit OwnHitCollector(NtfsEngine& engine) : engine_(engine) {}
  std::uint64_t Collect(std::span<const std::uint8_t> data, std::uint64_t cluster, bool& skip) override {
    return engine_.CollectFreeSpaceHit(data, cluster, skip);
  }
  void PostCollected() override { engine_.PostCollectedHits(); }

 private:
  NtfsEngine& engine_;
};

}  // namespace

// What the carving step reads of the volume: its sectors, and the units
// generic carving steps to (free clusters, or consecutive sectors).
class NtfsCarveVolume final : public CarveVolume {
 public:
  NtfsCarveVolume(NtfsEngine& engine, bool byFreeCluster) : engine_(engine), byFreeCluster_(byFreeCluster) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    return engine_.ReadCarveSectors(sector, buffer, bytes);
  }
  bool Aborted() const override { return engine_.Aborted(); }
  std::uint32_t UnitBytes() const override { return engine_.ClusterBytes(); }
  bool NextUnit(std::uint64_t& unit) override {
    if (byFreeCluster_) return engine_.NextFreeCluster(unit);
    return ++unit < engine_.m_nVolumeSectorCount;
  }
  std::uint64_t UnitSector(std::uint64_t unit) const override {
    return engine_.m_nVolumeFirstSector + unit * engine_.m_nSectorsPerCluster;
  }
  std::uint64_t FirstSector() const override { return engine_.m_nVolumeFirstSector; }
  std::uint64_t EndSector() const override { return engine_.m_nVolumeFirstSector + engine_.m_nVolumeSectorCount; }

 private:
  NtfsEngine& engine_;
  bool byFreeCluster_;
};

bool NtfsEngine::ReadCarveSectors(std::uint64_t sector, void* buffer, std::size_t bytes) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  // Analysers read on from a signature as far as its format says; past the
  // volume lies another volume's data, or nothing.
  if (sector < m_nVolumeFirstSector) {
    std::memset(out, 0, bytes);
    return false;
  }
  const std::uint64_t relative = sector - m_nVolumeFirstSector;
  const std::uint64_t inside = relative < m_nVolumeSectorCount ? m_nVolumeSectorCount - relative : 0;
  const std::uint64_t wanted = (bytes + 511) / 512;
  const std::uint64_t sectors = std::min(wanted, inside);
  // Only what lies past the volume is zeroed here; each read zeroes what it
  // could not read itself.
  const auto inVolume = static_cast<std::size_t>(std::min<std::uint64_t>(sectors * 512, bytes));
  std::memset(out + inVolume, 0, bytes - inVolume);
  bool ok = sectors == wanted && bytes % 512 == 0;
  for (std::uint64_t done = 0; done < sectors;) {
    const std::uint64_t n = std::min<std::uint64_t>(sectors - done, kMaxCarveRead / 512);
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(n * 512, bytes - done * 512));
    if (!ReadVolumeSectors(out + done * 512, static_cast<std::uint32_t>(length), relative + done)) ok = false;
    done += n;
  }
  return ok;
}

bool NtfsEngine::NextFreeCluster(std::uint64_t& cluster) const {
  if (m_nSectorsPerCluster == 0) return false;
  const std::uint64_t total = m_nVolumeSectorCount / m_nSectorsPerCluster;
  const std::uint64_t c = cluster + 1;
  if (c >= total) return false;
  if (IsFreeCluster(c)) {
    cluster = c;
    return true;
  }
  // Else the first cluster of the next free extent.
  auto it = std::upper_bound(m_freeExtents.begin(), m_freeExtents.end(), c,
                             [](std::uint64_t x, const FreeExtentNode& e) { return x < e.first; });
  if (it == m_freeExtents.end() || it->first >= total) return false;
  cluster = it->first;
  return true;
}

// ---------------------------------------------------------------- Raw Recovery

void NtfsEngine::RawScan() {
  if (m_fileSystemText != u"NTFS") return;
  RunRawRecovery();
}

void NtfsEngine::RunRawRecovery() {
  m_nSectorsPerCluster = m_nPartitionSectorsPerCluster;
  m_host.NextSyntheticId() = kFirstSyntheticId;
  m_nMftSector = m_nPartitionMftSector;
  m_nMftMirrSector = m_nPartitionMftMirrSector;
  m_freeExtents.clear();
  m_bFreeExtentsValid = false;
  if (!ntfs::ValidSectorsPerCluster(m_nSectorsPerCluster) && !ValidateBootSector()) {
    SearchVolumeSectors();
    return;
  }
  LoadVolumeBitmap();
  // The bitmap was the last thing the $MFT was needed for.
  m_mftRuns.clear();
  m_nMftRecords = 0;
  {
    std::lock_guard lock(m_mftMutex);
    m_mftBlocks.clear();
    m_mftBlockOrder.clear();
  }
  // A bitmap that could not be read (its record gone, no $MFT) tells no free
  // cluster from a used one: then every sector is searched.
  if (m_bFreeExtentsValid) SearchFreeClusters();
  else SearchVolumeSectors();
}

void NtfsEngine::SearchFreeClusters() {
  const std::uint32_t spc = m_nSectorsPerCluster;
  const std::uint64_t total = m_nVolumeSectorCount / spc;
  const std::uint32_t perRead = m_nVolumeSectorCount > kSmallVolumeSectors ? ClustersPerRead(spc) : 1;

  m_poster.ResetCounters();
  m_poster.SetNextId(kFreeSpaceFirstId);
  m_rawFolders.Clear();
  ProgressSink& progress = *m_pScanDlg;
  progress.SetCounterText("0 " + LoadString(kIdsEntriesFound));
  progress.SetPos(0);
  progress.SetSecondRange(0, static_cast<std::int64_t>(total / perRead));
  progress.SetSecondPos(0);

  NtfsCarveVolume volume(*this, true);
  Carver carver(m_host.SelectedTypeList(), volume);
  // The walk only moves forward, and so does its place in the extent list.
  std::size_t extent = 0;
  auto firstFreeFrom = [&](std::uint64_t c) -> std::uint64_t {
    while (extent < m_freeExtents.size() && m_freeExtents[extent].first + m_freeExtents[extent].count <= c) ++extent;
    return extent < m_freeExtents.size() ? std::max(m_freeExtents[extent].first, c) : ~0ull;
  };
  std::int64_t reads = 0;
  UnitScan scan;
  scan.first = 0;
  scan.end = total;
  scan.unitsPerRead = perRead;
  scan.sectorsPerUnit = spc;
  scan.aborted = [this] { return Aborted(); };
  scan.beforeRead = [&](std::uint64_t c) {
    progress.SetSecondPos(++reads);
    // Stop pressed now spares this read.
    if (Aborted()) return false;
    progress.SetSectorText(LoadString(kIdsReadingCluster) + Decimal(c) + " " + LoadString(kIdsOf) + " " +
                           Decimal(total));
    return true;
  };
  scan.read = [&](std::uint64_t c, std::uint64_t n, std::uint8_t* buffer) {
    // A piece without a free cluster offers nothing to look at.
    if (firstFreeFrom(c) >= c + n) return true;
    return ReadVolumeSectors(buffer, static_cast<std::uint32_t>(n * spc * 512), c * spc);
  };
  scan.candidate = [&](std::uint64_t c) { return firstFreeFrom(c) == c; };
  scan.unitSector = [&](std::uint64_t c) { return volume.UnitSector(c); };
  scan.found = [&](const CarveHit& hit, std::uint64_t c) {
    const RawHit raw = SettleRawHit(carver, hit, c);
    if (raw.size != 0) AddRawItem(hit.file.suffix, raw);
  };
  ScanUnits(carver, scan);
  LogCarveBounds(m_host, carver.Tally());
}

void NtfsEngine::SearchVolumeSectors() {
  m_nSectorsPerCluster = 1;
  m_freeExtents.clear();
  m_bFreeExtentsValid = false;
  m_host.LogPhaseStart(LoadString(kIdsSearchingDrive));
  ScanSectors();
  m_host.LogPhaseEnd();
}

void NtfsEngine::ScanSectors() {
  const std::uint64_t first = m_nVolumeFirstSector;
  const std::uint64_t count = m_nVolumeSectorCount;
  m_poster.ResetCounters();
  m_poster.SetNextId(kVolumeSearchFirstId);
  m_rawFolders.Clear();
  ProgressSink& progress = *m_pScanDlg;

  NtfsCarveVolume volume(*this, false);
  Carver carver(m_host.SelectedTypeList(), volume);
  UnitScan scan;
  scan.first = 0;
  scan.end = count;
  scan.unitsPerRead = kReadSectors;
  scan.sectorsPerUnit = 1;
  scan.aborted = [this] { return Aborted(); };
  scan.beforeRead = [&](std::uint64_t s) {
    progress.SetSectorText(LoadString(kIdsReadingSector) + Decimal(first + s) + " " + LoadString(kIdsOf) + " " +
                           Decimal(first + count));
    return true;
  };
  scan.read = [&](std::uint64_t s, std::uint64_t n, std::uint8_t* buffer) {
    return ReadVolumeSectors(buffer, static_cast<std::uint32_t>(n * 512), s);
  };
  scan.candidate = [](std::uint64_t) { return true; };
  scan.unitSector = [first](std::uint64_t s) { return first + s; };
  scan.found = [&](const CarveHit& hit, std::uint64_t s) {
    const RawHit raw = SettleRawHit(carver, hit, s);
    if (raw.size != 0) AddRawItem(hit.file.suffix, raw);
  };
  ScanUnits(carver, scan);
  LogCarveBounds(m_host, carver.Tally());
}

NtfsEngine::RawHit NtfsEngine::SettleRawHit(Carver& carver, const CarveHit& hit, std::uint64_t unit) {
  RawHit raw{CutTypeName(hit.typeName, kTypeNameUnits), unit, hit.file.size};
  if (hit.officeNamed && hit.type) {
    // The document's own size is not trusted here: it runs to where the
    // next file begins.
    CarveHit measured = hit;
    carver.MeasureAgain(measured, unit);
    raw.typeName = u"BAD";
    raw.size = measured.file.size;
  }
  return raw;
}

void NtfsEngine::OpenRawRoot(std::int64_t range) {
  if (m_poster.Opened()) return;
  m_knownFolders.insert(kRootRecord);
  m_postedIds.insert(kRootRecord);
  m_poster.OpenRoot(range);
}

void NtfsEngine::AddRawItem(std::u16string_view suffix, const RawHit& hit) {
  const std::uint32_t folderId = PlaceInTypeFolder(
      m_rawFolders, m_poster, hit.typeName, kRootRecord, [this] { return m_poster.TakeId(); },
      [this] { OpenRawRoot(kRawProgressRange); });
  const std::uint64_t count = ++m_host.RawFileCount();
  m_poster.Post(RawFileRecord(hit.size, hit.start, folderId, m_poster.TakeId()),
                RawItemName(suffix, count, hit.start, hit.typeName), {FoundItemPoster::Counter::EntriesFound});
}

// ---------------------------------------------------------------- Advance Recovery's hits

FreeSpaceHitCollector* NtfsEngine::ActiveHitCollector() {
  if (m_pHitCollector) return m_pHitCollector;
  if (m_host.RawSetting() != 0) return nullptr;
  if (!m_pOwnCollector) m_pOwnCollector = std::make_unique<OwnHitCollector>(*this);
  return m_pOwnCollector.get();
}

std::uint64_t NtfsEngine::CollectFreeSpaceHit(std::span<const std::uint8_t> data, std::uint64_t cluster, bool& skip) {
  skip = false;
  if (m_nSectorsPerCluster == 0 || m_host.SelectedTypeList().empty()) return 0;
  NtfsCarveVolume volume(*this, true);
  Carver carver(m_host.SelectedTypeList(), volume, &m_collectedTally);
  CarveHit hit;
  if (!carver.CarveAt(data.data(), data.size(), volume.UnitSector(cluster), cluster, hit)) return 0;
  const RawHit raw = SettleRawHit(carver, hit, cluster);
  if (raw.size == 0) return 0;  // nothing to list
  skip = hit.generic;
  m_collectedHits.push_back(raw);
  // A run carved to the next file is passed over only up to the first
  // signature inside it that began none: a hit there is still listed.
  return skip ? std::min(raw.size, hit.stepOver) : raw.size;
}

void NtfsEngine::PostCollectedHits() {
  if (m_collectedHits.empty()) return;
  // Ids count down from the host's next made-up one, which is left at the
  // first id not given.
  std::uint32_t next = static_cast<std::uint32_t>(m_host.NextSyntheticId().load());
  const FoundItemPoster::PostStyle style{FoundItemPoster::Counter::EntriesFound};
  m_rawFolders.Clear();
  std::uint32_t rawFolderId = 0;
  bool first = true;
  for (const RawHit& hit : m_collectedHits) {
    if (Aborted()) break;
    if (first) {
      first = false;
      rawFolderId = next--;
      OpenRawRoot(kCollectedProgressRange);
      m_poster.Post(RawFolderRecord(rawFolderId, kRootRecord), Utf8ToUtf16(LoadString(kIdsRawDataFolder)), style);
    }
    const std::uint32_t folderId = PlaceInTypeFolder(
        m_rawFolders, m_poster, hit.typeName, rawFolderId, [&next] { return next--; }, [] {});
    m_poster.Post(RawFileRecord(hit.size, hit.start, folderId, next--), RawItemName(u"", 0, hit.start, hit.typeName),
                  style);
  }
  m_collectedHits.clear();
  m_collectedHits.shrink_to_fit();
  LogCarveBounds(m_host, m_collectedTally);
  m_collectedTally = {};
  m_host.NextSyntheticId() = static_cast<std::int32_t>(next);
}

}  // namespace corvan
