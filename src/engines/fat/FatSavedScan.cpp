// The FAT engine's state as a saved scan keeps it, and a fresh engine made
// ready from it for the saved items, exactly as after the scan.

#include <algorithm>

#include "engines/fat/FatEngine.h"
#include "engines/fat/FatSavedScan.h"

namespace corvan {

namespace {
// The running item number a restored engine goes on from.
constexpr std::uint32_t kRestoredNextId = 2;
// The engine keeps cluster numbers below this (FAT32 entries are 28 bits).
constexpr std::uint64_t kClusterLimit = 0x0FFFFFF8u;
}  // namespace

FatSavedScan FatEngine::SavedScan() const {
  FatSavedScan saved;
  saved.volumeStart = m_nVolumeStart;
  saved.volumeEnd = m_nVolumeEnd;
  saved.mediaByte = m_nMediaByte;
  saved.layout = Layout();
  saved.sectorItems = m_bSectorItems || m_bAbsoluteSectors != 0;
  saved.fatSource = m_nFatSource;
  saved.fat = m_fat;
  saved.clusterMap = m_clusterMap;
  return saved;
}

void FatEngine::RestoreSavedScan(const FatSavedScan& saved, const Volume& volume) {
  FreeLists();
  // The disk the image mounted again gives; the volume's place on it is the
  // saved one (a saved selected source keeps its partition record only for
  // kind 1, so `volume` may carry none).
  m_volume = volume;
  m_nSourceKind = volume.sourceKind;
  m_nMediaByte = saved.mediaByte;
  m_nVolumeStart = saved.volumeStart;
  m_nVolumeEnd = saved.volumeEnd;
  m_nSectorCount = saved.layout.sectorCount;

  m_nSectorsPerCluster = saved.layout.sectorsPerCluster;
  m_nFatKind = saved.layout.kind;
  m_nReservedSectors = saved.layout.reservedSectors;
  m_nRootDirSectors = saved.layout.rootDirSectors;
  m_nFatSize = saved.layout.fatSize;
  m_nRootCluster = saved.layout.rootCluster;
  m_bAbsoluteSectors = saved.sectorItems ? 1 : 0;
  m_bSectorItems = saved.sectorItems;

  if (saved.sectorItems) {
    m_nFatSource = kFatSourceContiguous;
  } else {
    m_nFatSource = saved.fatSource;
    if (saved.fatSource != kFatSourceContiguous) m_fat = saved.fat;
    m_clusterMap = saved.clusterMap;
  }

  // Highest cluster: the data area's clusters + 2, no more than the FAT
  // holds entries for, as a scan counts it.
  std::uint64_t highest = Layout().DataClusters() + 2;
  if (!m_fat.empty())
    highest = std::min<std::uint64_t>(highest, std::uint64_t{m_nFatSize} * FatEntriesPerSector(m_nFatKind));
  m_nHighestCluster = static_cast<std::uint32_t>(std::min(highest, kClusterLimit));

  // The counters start again: the loader counts the items as it feeds them.
  m_poster.ResetCounters();
  m_poster.SetNextId(kRestoredNextId);
}

}  // namespace corvan
