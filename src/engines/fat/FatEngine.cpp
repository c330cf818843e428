#include "engines/fat/FatEngine.h"

#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

namespace {

}  // namespace

FatEngine::FatEngine(EngineHost& host)
    : m_host(host), m_pConsole(host.ResultsSink()), m_pScanDlg(host.ScanProgressSink()) {
  m_poster.Attach(m_pConsole, m_pScanDlg);
}

FatEngine::~FatEngine() = default;

void FatEngine::AttachWindows(FoundItemSink* console, ProgressSink* scanDialog) {
  m_pConsole = console;
  m_pScanDlg = scanDialog;
  m_poster.Attach(console, scanDialog);
}

ProgressSink& FatEngine::Progress() const { return m_poster.Progress(); }
FoundItemSink& FatEngine::Console() const { return m_poster.Results(); }
bool FatEngine::Aborted() const { return m_host.StopRequested(); }

void FatEngine::SetCritical(bool on) {
  m_host.SetCriticalPhase(on);
  Progress().EnableStop(!on);
}

void FatEngine::ReportReadFailure(const char* what, std::uint64_t number) {
  // The buffer was zero-filled; the log says which read came back empty.
  m_host.AppendLog(std::string("Error reading ") + what + ": " + std::to_string(number), false);
}

void FatEngine::Prepare(const Volume& volume) {
  Progress().SetPos(0);
  m_nSourceKind = volume.sourceKind;
  m_volume = volume;
  if (volume.IsWholeDisk()) return;

  const PartitionRecord& p = *volume.partition;
  m_nVolumeStart = volume.FirstSector();
  m_nSectorCount = p.sectorCount;
  m_nVolumeEnd = p.endSector;
  m_nFatKind = p.fileSystemKind;
  m_nMediaByte = p.diskNumber;
  m_poster.SetNextId(2);
  m_host.VolumeOpenedFlag() = 1;

  // What a lost-volume search found about this volume.
  m_recordedLayout.kind = p.fileSystemKind;
  m_recordedLayout.sectorsPerCluster = p.sectorsPerCluster;
  m_recordedLayout.fatSize = p.fatSize;
  m_recordedLayout.reservedSectors = p.reservedSectors;
  m_recordedLayout.rootDirSectors = p.rootDirSectors;
  m_recordedLayout.rootCluster = p.rootCluster;
  m_recordedLayout.sectorCount = p.sectorCount;
  m_recordedDirClusters = p.clusterArray;
}

void FatEngine::SetGeometry(const FatBootInfo& info) {
  m_nSectorsPerCluster = info.sectorsPerCluster;
  if (info.kind <= kFat32) m_nFatKind = info.kind;
  m_nRootDirSectors = info.rootDirSectors;
  m_nFatSize = info.fatSize;
  m_nRootCluster = info.rootCluster;
  m_nReservedSectors = info.reservedSectors;
}

FatLayout FatEngine::Layout() const {
  FatLayout l;
  l.kind = m_nFatKind;
  l.sectorsPerCluster = m_nSectorsPerCluster;
  l.reservedSectors = m_nReservedSectors;
  l.rootDirSectors = m_nRootDirSectors;
  l.fatSize = m_nFatSize;
  l.rootCluster = m_nRootCluster;
  l.sectorCount = m_nSectorCount;
  return l;
}

bool FatEngine::ReadClusters(std::uint64_t cluster, std::uint16_t sectorOffset, std::uint8_t* buffer,
                             std::uint16_t sectorCount) const {
  const std::size_t bytes = static_cast<std::size_t>(sectorCount) * kSectorSize;
  if (cluster < 2 || cluster > 0xFFFFFFFFu || m_nSectorsPerCluster == 0) {
    std::memset(buffer, 0, bytes);
    return false;
  }
  const std::uint64_t relative =
      Layout().DataStart() + (cluster - 2) * m_nSectorsPerCluster + sectorOffset;
  // Never read past the volume into whatever follows it on the disk.
  std::uint32_t inside = sectorCount;
  if (m_nSectorCount != 0) {
    inside = relative >= m_nSectorCount
                 ? 0
                 : static_cast<std::uint32_t>(std::min<std::uint64_t>(sectorCount, m_nSectorCount - relative));
  }
  std::memset(buffer + static_cast<std::size_t>(inside) * kSectorSize, 0,
              bytes - static_cast<std::size_t>(inside) * kSectorSize);
  if (inside == 0) return false;
  const std::uint64_t sector = m_bAbsoluteSectors ? relative : m_nVolumeStart + relative;
  return ReadSourceOrImage(sector, buffer, inside) && inside == sectorCount;
}

bool FatEngine::ReadSourceOrImage(std::uint64_t sector, std::uint8_t* buffer, std::uint32_t sectorCount) const {
  return m_volume.ReadSectors(sector, buffer, std::size_t{sectorCount} * kSectorSize);
}

void FatEngine::FreeLists() {
  m_clusterMap.clear();
  m_clusterMap.shrink_to_fit();
  m_sweptClusters.clear();
  m_entryClusters.clear();
  m_visitedFolders.clear();
  m_pendingFolders.clear();
  m_foundFolders.clear();
  m_foundFolderIndex.clear();
  m_poster.ClearQueue();
  m_directoryRecords.clear();
  m_folderNames.clear();
  m_namedByCluster.clear();
  m_rootFileClusters.clear();
  m_fat.clear();
  m_fat.shrink_to_fit();
  m_carvedItems.clear();
  m_carvedTally = {};
  m_rawFolders.Clear();
}

}  // namespace corvan
