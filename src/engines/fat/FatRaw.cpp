// Raw Recovery with the FAT engine: files carved out of a FAT volume's free
// clusters, or out of every sector of a region (a whole disk, an
// unpartitioned stretch, a volume whose boot sectors are gone), filed under
// folders named after their types.

#include <algorithm>
#include <string>

#include "core/Carver.h"
#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBackupBootSector = 6;
constexpr std::int32_t kFirstSyntheticId = -16;
constexpr std::uint32_t kReadSectors = 2048;
// Volumes up to this size are read a cluster at a time.
constexpr std::uint64_t kSmallVolumeSectors = 3000;
constexpr std::int64_t kRawProgressRange = 10000;
constexpr std::int64_t kCarvedProgressRange = 100000;
// A type folder holds this many files besides the one that opened it.
constexpr std::uint32_t kFolderCapacity = 2500;
// Type names of carved items are kept to 14 characters.
constexpr std::size_t kTypeNameUnits = 14;

// Generic carving over the free clusters of the cluster map.
class FreeClusterVolume final : public CarveVolume {
 public:
  FreeClusterVolume(const FatEngine& engine, EngineHost& host, std::uint64_t endCluster)
      : engine_(engine), host_(host), end_(std::min<std::uint64_t>(endCluster, engine.ClusterMap().size())) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    return engine_.ReadSourceOrImage(sector, static_cast<std::uint8_t*>(buffer), static_cast<std::uint32_t>(bytes / 512));
  }
  bool Aborted() const override { return host_.StopRequested(); }
  std::uint32_t UnitBytes() const override { return engine_.ClusterBytes(); }
  bool NextUnit(std::uint64_t& unit) override {
    do {
      ++unit;
    } while (unit < end_ && engine_.ClusterMap()[unit] != kClusterFree);
    return unit < end_;
  }
  std::uint64_t UnitSector(std::uint64_t cluster) const override {
    return engine_.VolumeStart() + engine_.Layout().DataStart() + (cluster - 2) * engine_.SectorsPerCluster();
  }
  std::uint64_t FirstSector() const override { return engine_.VolumeStart(); }
  std::uint64_t EndSector() const override { return engine_.VolumeStart() + engine_.SectorCount(); }

 private:
  const FatEngine& engine_;
  EngineHost& host_;
  std::uint64_t end_;
};

// Generic carving over consecutive sectors of a region.
class RegionVolume final : public CarveVolume {
 public:
  RegionVolume(const FatEngine& engine, EngineHost& host, std::uint64_t endSector)
      : engine_(engine), host_(host), end_(endSector) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    return engine_.ReadSourceOrImage(sector, static_cast<std::uint8_t*>(buffer), static_cast<std::uint32_t>(bytes / 512));
  }
  bool Aborted() const override { return host_.StopRequested(); }
  std::uint32_t UnitBytes() const override { return 512; }
  bool NextUnit(std::uint64_t& unit) override { return ++unit < end_; }
  std::uint64_t UnitSector(std::uint64_t sector) const override { return sector; }
  std::uint64_t FirstSector() const override { return engine_.VolumeStart(); }
  std::uint64_t EndSector() const override { return end_; }

 private:
  const FatEngine& engine_;
  EngineHost& host_;
  std::uint64_t end_;
};

std::uint32_t ClustersPerRead(std::uint32_t sectorsPerCluster) {
  switch (sectorsPerCluster) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128: case 256: case 512:
      return kReadSectors / sectorsPerCluster;
    default:
      return 1;
  }
}

std::string Decimal(std::uint64_t v) { return std::to_string(v); }

}  // namespace

FatScanResult FatEngine::RawScan() {
  if (m_volume.partition && m_volume.partition->fileSystemText == u"NTFS") return FatScanResult::Completed;
  m_host.NextSyntheticId() = kFirstSyntheticId;
  m_bSectorItems = false;
  if (m_volume.IsWholeDisk()) return RawScanRegion();

  if (IsDeepFind()) {
    // The lost-volume search recorded this layout; without a signed FAT copy
    // nothing tells free clusters from used ones.
    if (UseRecordedLayout()) SelectFatCopy();
    if (!LayoutIsSound() || m_nFatSource == kFatSourceContiguous) {
      SetVolumeRange(m_volume, m_nVolumeStart, m_nVolumeStart + m_nSectorCount - 1);
      return RawScanRegion();
    }
  } else if (LoadBootGeometry(m_nVolumeStart) || LoadBootGeometry(m_nVolumeStart + kBackupBootSector)) {
    SelectFatCopy();
  } else {
    SetVolumeRange(m_volume, m_nVolumeStart, m_nVolumeStart + m_nSectorCount - 1);
    return RawScanRegion();
  }
  BuildClusterMap();
  CarveFreeClusters();
  return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
}

void FatEngine::CarveFreeClusters() {
  const FatLayout layout = Layout();
  const std::uint64_t dataStart = layout.DataStart();
  if (m_nSectorsPerCluster == 0 || m_nSectorCount < dataStart) return;
  const std::uint64_t highest = (m_nSectorCount - dataStart) / m_nSectorsPerCluster + 2;
  const std::uint32_t perRead = m_nSectorCount > kSmallVolumeSectors ? ClustersPerRead(m_nSectorsPerCluster) : 1;

  m_poster.ResetCounters();
  m_poster.SetNextId(2);
  ProgressSink& progress = Progress();
  progress.SetCounterText("0 " + LoadString(kIdsEntriesFound));
  progress.SetPos(0);
  progress.SetSecondRange(0, static_cast<std::int64_t>(highest / perRead));
  progress.SetSecondPos(0);

  FreeClusterVolume volume(*this, m_host, highest);
  Carver carver(m_host.SelectedTypeList(), volume);
  std::int64_t reads = 0;
  UnitScan scan;
  scan.first = 2;
  scan.end = std::min<std::uint64_t>(highest, m_clusterMap.size());
  scan.unitsPerRead = perRead;
  scan.sectorsPerUnit = m_nSectorsPerCluster;
  scan.aborted = [this] { return Aborted(); };
  scan.beforeRead = [&](std::uint64_t c) {
    progress.SetSecondPos(++reads);
    progress.SetSectorText(LoadString(kIdsReadingCluster) + Decimal(c) + " " + LoadString(kIdsOf) + " " +
                           Decimal(highest));
    return true;
  };
  scan.read = [&](std::uint64_t c, std::uint64_t n, std::uint8_t* buffer) {
    return ReadClusters(c, 0, buffer, static_cast<std::uint16_t>(n * m_nSectorsPerCluster));
  };
  scan.candidate = [&](std::uint64_t c) { return m_clusterMap[c] == kClusterFree; };
  scan.unitSector = [&](std::uint64_t c) { return volume.UnitSector(c); };
  scan.found = [&](const CarveHit& hit, std::uint64_t c) { AddRawItem(hit, c); };
  ScanUnits(carver, scan);
  LogCarveBounds(m_host, carver.Tally());
}

void FatEngine::SetVolumeRange(const Volume& volume, std::uint64_t firstSector, std::uint64_t lastSector) {
  m_volume = volume;
  m_nSourceKind = volume.sourceKind;
  // The range never reaches past the disk: what lies beyond cannot be read.
  const std::uint64_t diskSectors = volume.disk ? volume.disk->SectorCount() : 0;
  if (diskSectors != 0 && (lastSector == 0 || lastSector >= diskSectors)) lastSector = diskSectors - 1;
  if (lastSector < firstSector) lastSector = firstSector;
  m_nVolumeStart = firstSector;
  m_nVolumeEnd = lastSector;
  m_nSectorCount = lastSector - firstSector + 1;
  m_nMediaByte = volume.partition ? volume.partition->diskNumber : 0;
  m_bAbsoluteSectors = 1;
  m_bSectorItems = true;
  m_poster.SetNextId(2);
}

FatScanResult FatEngine::RawScanRegion() {
  if (m_volume.IsWholeDisk() && !m_bSectorItems) SetVolumeRange(m_volume, 0, 0);
  m_host.NextSyntheticId() = kFirstSyntheticId;
  m_host.LogPhaseStart(LoadString(kIdsSearchingDrive));
  ScanRegionSectors();
  m_host.LogPhaseEnd();
  return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
}

void FatEngine::ScanRegionSectors() {
  m_poster.ResetCounters();
  m_poster.SetNextId(2);
  m_bSectorItems = true;
  const std::uint64_t end = m_nVolumeStart + m_nSectorCount;
  ProgressSink& progress = Progress();
  progress.SetSecondRange(0, static_cast<std::int64_t>((m_nSectorCount + kReadSectors - 1) / kReadSectors));
  progress.SetSecondPos(0);

  RegionVolume volume(*this, m_host, end);
  Carver carver(m_host.SelectedTypeList(), volume);
  std::int64_t reads = 0;
  UnitScan scan;
  scan.first = m_nVolumeStart;
  scan.end = end;
  scan.unitsPerRead = kReadSectors;
  scan.sectorsPerUnit = 1;
  scan.aborted = [this] { return Aborted(); };
  scan.beforeRead = [&](std::uint64_t s) {
    progress.SetSecondPos(++reads);
    progress.SetSectorText(LoadString(kIdsReadingSector) + Decimal(s) + " " + LoadString(kIdsOf) + " " +
                           Decimal(end));
    return true;
  };
  scan.read = [&](std::uint64_t s, std::uint64_t n, std::uint8_t* buffer) {
    return ReadSourceOrImage(s, buffer, static_cast<std::uint32_t>(n));
  };
  scan.candidate = [](std::uint64_t) { return true; };
  scan.unitSector = [](std::uint64_t s) { return s; };
  scan.found = [&](const CarveHit& hit, std::uint64_t s) { AddRawItem(hit, s); };
  ScanUnits(carver, scan);
  LogCarveBounds(m_host, carver.Tally());
}

std::uint32_t FatEngine::TakeSyntheticId() { return static_cast<std::uint32_t>(m_host.NextSyntheticId()--); }

std::uint32_t FatEngine::RawTypeFolder(std::u16string_view typeName, std::uint32_t parentId,
                                       std::int64_t progressRange) {
  return PlaceInTypeFolder(
      m_rawFolders, m_poster, typeName, parentId, [this] { return TakeSyntheticId(); },
      [this, progressRange] {
        if (!m_poster.Opened()) m_poster.OpenRoot(progressRange);
      });
}

void FatEngine::AddRawItem(const CarveHit& hit, std::uint64_t position) {
  const std::u16string typeName = CutTypeName(hit.typeName, kTypeNameUnits);
  const std::uint32_t folderId = RawTypeFolder(typeName, kFatRootId, kRawProgressRange);
  FoundItemInfo file = RawFileRecord(hit.file.size, position, folderId, TakeSyntheticId());
  // A picture's own date, as a FAT stamp: the time word low, the date high.
  const std::uint64_t stamp = (std::uint64_t{hit.file.dosDate} << 32) | hit.file.dosTime;
  file.modifiedTime = stamp;
  file.creationTime = stamp;
  const std::uint64_t count = ++m_host.RawFileCount();
  m_poster.Post(file, RawItemName(hit.file.suffix, count, position, typeName), {FoundItemPoster::Counter::EntriesFound});
}

void FatEngine::CarveOrphanCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t highest,
                                   std::uint32_t& skipTo) {
  FreeClusterVolume volume(*this, m_host, highest);
  Carver carver(m_host.SelectedTypeList(), volume, &m_carvedTally);
  CarveHit hit;
  if (!carver.CarveAt(data, ClusterBytes(), volume.UnitSector(cluster), cluster, hit)) return;
  m_carvedItems.push_back({CutTypeName(hit.typeName, kTypeNameUnits), cluster, hit.file.size});
  if (hit.generic) {
    const std::uint64_t bytes = ClusterBytes();
    skipTo = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(cluster + std::max<std::uint64_t>(1, (hit.stepOver + bytes - 1) / bytes), highest));
  }
}

void FatEngine::PostCarvedItems() {
  if (m_carvedItems.empty()) return;
  // Made-up ids count down from -16; a pass that did not start them there
  // (Quick Recovery of a found volume) must not hand out the root's id.
  if (m_host.NextSyntheticId() > kFirstSyntheticId) m_host.NextSyntheticId() = kFirstSyntheticId;
  const std::uint32_t rawFolderId = TakeSyntheticId();
  if (!m_poster.Opened()) m_poster.OpenRoot(kCarvedProgressRange);
  m_poster.Post(RawFolderRecord(rawFolderId, kFatRootId), Utf8ToUtf16(LoadString(kIdsRawDataFolder)),
                {FoundItemPoster::Counter::Number});
  for (const CarvedItemNode& item : m_carvedItems) {
    if (Aborted()) break;
    const std::uint32_t folderId = RawTypeFolder(item.typeName, rawFolderId, kCarvedProgressRange);
    m_poster.Post(RawFileRecord(item.size, item.cluster, folderId, TakeSyntheticId()), Utf8ToUtf16(Decimal(item.cluster)) + u"." + item.typeName,
                  {FoundItemPoster::Counter::Number});
  }
  m_carvedItems.clear();
  LogCarveBounds(m_host, m_carvedTally);
  m_carvedTally = {};
}

}  // namespace corvan
