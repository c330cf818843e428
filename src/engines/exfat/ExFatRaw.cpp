// Raw Recovery on an exFAT volume: files carved out of the clusters the
// volume's FAT leaves free, filed under folders named after their types.

#include <algorithm>
#include <array>
#include <string>

#include "core/Carver.h"
#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatEngine.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBackupBootSector = 12;
constexpr std::uint32_t kReadSectors = 2048;
constexpr std::int64_t kRawProgressRange = 10000;
// Clusters 2 and 3 hold the allocation bitmap and the up-case table.
constexpr std::uint64_t kFirstCarvedCluster = 4;
constexpr std::size_t kTypeNameUnits = 15;

// The cluster map read a block at a time: a carving pass asks for every
// cluster's byte in order. A byte that cannot be read counts as free.
class MapReader {
 public:
  explicit MapReader(const ExFatEngine& engine) : engine_(engine) {}
  bool Free(std::uint64_t cluster) {
    if (!engine_.IsHeapCluster(cluster)) return false;
    const std::uint64_t index = cluster - 2;
    if (index >= engine_.MapEntries() || !engine_.ClusterMapFile().IsOpen()) return true;
    if (index < first_ || index >= first_ + count_) {
      first_ = index - index % block_.size();
      count_ = static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), engine_.MapEntries() - first_));
      if (!engine_.ClusterMapFile().Read(first_, block_.data(), count_)) block_.fill(0);
    }
    return block_[index - first_] == 0;
  }

 private:
  const ExFatEngine& engine_;
  std::array<std::uint8_t, 65536> block_{};
  std::uint64_t first_ = 0;
  std::size_t count_ = 0;
};

class FreeClusterVolume final : public CarveVolume {
 public:
  FreeClusterVolume(const ExFatEngine& engine, EngineHost& host, MapReader& map, std::uint64_t end)
      : engine_(engine), host_(host), map_(map), end_(end) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    return engine_.ReadSourceOrImage(sector, static_cast<std::uint32_t>(bytes / 512), static_cast<std::uint8_t*>(buffer));
  }
  bool Aborted() const override { return host_.StopRequested(); }
  std::uint32_t UnitBytes() const override { return engine_.ClusterBytes(); }
  bool NextUnit(std::uint64_t& unit) override {
    do {
      ++unit;
    } while (unit < end_ && !map_.Free(unit));
    return unit < end_;
  }
  std::uint64_t UnitSector(std::uint64_t cluster) const override {
    return engine_.VolumeStart() + engine_.GetDataAreaStart() + (cluster - 2) * engine_.SectorsPerCluster();
  }
  std::uint64_t FirstSector() const override { return engine_.VolumeStart(); }
  std::uint64_t EndSector() const override { return engine_.VolumeStart() + engine_.VolumeLength(); }

 private:
  const ExFatEngine& engine_;
  EngineHost& host_;
  MapReader& map_;
  std::uint64_t end_;
};

}  // namespace

ExFatScanResult ExFatEngine::RawScan() {
  if (m_volume.partition && !m_volume.partition->fileSystemText.empty() &&
      m_volume.partition->fileSystemText != u"exFAT")
    return ExFatScanResult::Completed;
  // Neither boot sector usable: nothing tells where the clusters lie, and
  // the pass ends without a word, as a volume with no free space would.
  if (!ReadBootCopy(m_nVolumeStart) && !ReadBootCopy(m_nVolumeStart + kBackupBootSector))
    return ExFatScanResult::InvalidVolume;
  if (!CheckFat() || !BuildClusterMap()) return ExFatScanResult::WorkFileFailed;
  CarveFreeClusters();
  return Aborted() ? ExFatScanResult::Aborted : ExFatScanResult::Completed;
}

void ExFatEngine::CarveFreeClusters() {
  if (m_nVolumeLength < std::uint64_t{m_nFatOffset} + m_nFatLength || m_nSectorsPerCluster == 0) return;
  m_poster.ResetCounters();
  m_poster.SetNextId(2);
  const std::uint32_t perRead = ClustersPerRead();
  // The heap's last cluster is ClusterCount + 1.
  const std::uint64_t end = std::uint64_t{m_nClusterCount} + 2;
  ProgressSink& progress = Progress();
  progress.SetCounterText("0 " + LoadString(kIdsEntriesFound));
  progress.SetPos(0);
  progress.SetSecondRange(0, static_cast<std::int64_t>(m_nClusterCount / perRead));
  progress.SetSecondPos(0);

  MapReader map(*this);
  FreeClusterVolume volume(*this, m_host, map, end);
  Carver carver(m_host.SelectedTypeList(), volume);
  std::int64_t reads = 0;
  UnitScan scan;
  scan.first = kFirstCarvedCluster;
  scan.end = end;
  scan.unitsPerRead = perRead;
  scan.sectorsPerUnit = m_nSectorsPerCluster;
  scan.aborted = [this] { return Aborted(); };
  scan.beforeRead = [&](std::uint64_t c) {
    progress.SetSecondPos(++reads);
    progress.SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + " " + LoadString(kIdsOf) + " " +
                           std::to_string(m_nClusterCount));
    return true;
  };
  scan.read = [&](std::uint64_t c, std::uint64_t n, std::uint8_t* buffer) {
    return ReadClusters(static_cast<std::uint32_t>(n * m_nSectorsPerCluster), static_cast<std::uint32_t>(c), 0, buffer);
  };
  scan.candidate = [&](std::uint64_t c) { return map.Free(c); };
  scan.unitSector = [&](std::uint64_t c) { return volume.UnitSector(c); };
  scan.found = [&](const CarveHit& hit, std::uint64_t c) { AddRawItem(hit, c); };
  ScanUnits(carver, scan);
  LogCarveBounds(m_host, carver.Tally());
}

void ExFatEngine::AddRawItem(const CarveHit& hit, std::uint64_t cluster) {
  const std::u16string typeName = CutTypeName(hit.typeName, kTypeNameUnits);
  const std::uint32_t folderId = PlaceInTypeFolder(
      m_rawFolders, m_poster, typeName, kFatRootId, [this] { return m_poster.TakeId(); },
      [this] {
        if (!m_poster.Opened()) m_poster.OpenRoot(kRawProgressRange);
      });
  // Carved files keep no time: the dates pictures carry are not exFAT stamps.
  const FoundItemInfo file = RawFileRecord(hit.file.size, cluster, folderId, m_poster.TakeId());
  const std::uint64_t count = ++m_host.RawFileCount();
  m_poster.Post(file, RawItemName(hit.file.suffix, count, cluster, typeName), {FoundItemPoster::Counter::EntriesFound});
}

}  // namespace corvan
