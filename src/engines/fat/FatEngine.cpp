#include "engines/fat/FatEngine.h"

#include <cstring>

#include "app/CORVANApp.h"
#include "core/ProgressSink.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

// Stand-ins while no window is attached (tests of single steps, the
// settings dialog reloading a FAT).
NullProgressSink g_noProgress;

NullFoundItemSink g_noConsole;

// Source kinds that stand for a whole drive or disk: no volume geometry.
bool IsWholeDiskKind(std::uint8_t kind) {
  return kind == 0 || kind == 4 || kind == 5 || kind == 6 || kind == 8 || kind == 9;
}

constexpr std::uint8_t kSourcePlainImage = 7;

}  // namespace

FatEngine::FatEngine(CORVANApp& app)
    : m_app(app), m_pConsole(app.m_pConsole), m_pScanDlg(app.m_pScanProgressDlg) {}

FatEngine::~FatEngine() = default;

void FatEngine::AttachWindows(FoundItemSink* console, ProgressSink* scanDialog) {
  m_pConsole = console;
  m_pScanDlg = scanDialog;
}

ProgressSink& FatEngine::Progress() const { return m_pScanDlg ? *m_pScanDlg : g_noProgress; }
FoundItemSink& FatEngine::Console() const { return m_pConsole ? *m_pConsole : g_noConsole; }
bool FatEngine::Aborted() const { return m_app.m_bAbort.load() != 0; }

void FatEngine::SetCritical(bool on) {
  m_app.m_bCriticalPhase = on ? 1u : 0u;
  Progress().EnableStop(!on);
}

void FatEngine::LogPhaseStart(const std::string& heading) {
  m_app.AppendLog(heading, true);
  m_app.LogProcessStarted();
}

void FatEngine::LogPhaseEnd() {
  m_app.LogProcessEnded(Aborted());
}

void FatEngine::ReportReadFailure(const char* what, std::uint64_t number) {
  // The buffer was zero-filled; the log says which read came back empty.
  m_app.AppendLog(std::string("Error reading ") + what + ": " + std::to_string(number), false);
}

void FatEngine::Prepare(const SourceRecord& source, std::uint8_t imageFile) {
  Progress().SetPos(0);
  m_nSourceKind = source.kind;
  {
    std::lock_guard lock(m_imageMutex);
    m_imageFile.Close();
  }
  if (IsWholeDiskKind(source.kind) || !source.partition) return;

  const PartitionRecord& p = *source.partition;
  if (source.kind == kSourcePlainImage) {
    m_nVolumeStart = 0;
    m_imagePath = Utf16ToUtf8(source.path);
  } else {
    m_nVolumeStart = p.startSector;
    if (!source.path.empty()) m_imagePath = Utf16ToUtf8(source.path);
  }
  m_nSectorCount = p.sectorCount;
  m_nVolumeEnd = p.endSector;
  m_nFatKind = p.fileSystemKind;
  m_nMediaByte = p.diskNumber;
  m_nRunningItemId = 2;
  m_bImageFile = imageFile;
  m_app.m_bVolumeOpened = 1;

  // What a lost-volume search found about this volume.
  m_recordedLayout.kind = p.fileSystemKind;
  m_recordedLayout.sectorsPerCluster = p.sectorsPerCluster;
  m_recordedLayout.fatSize = p.fatSize;
  m_recordedLayout.reservedSectors = p.reservedSectors;
  m_recordedLayout.rootDirSectors = p.rootDirSectors;
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
  if (m_bImageFile) return ReadImageSectors(sector, buffer, sectorCount);
  return ReadSourceSectors(buffer, sector, sectorCount * kSectorSize);
}

bool FatEngine::ReadImageSectors(std::uint64_t sector, std::uint8_t* buffer, std::uint32_t sectorCount) const {
  std::lock_guard lock(m_imageMutex);
  if (!m_imageFile.IsOpen()) {
    m_imageFile = FileHandle::Open(m_imagePath, FileHandle::Mode::ReadOnly);
    if (!m_imageFile.IsOpen()) return false;
  }
  const std::size_t bytes = static_cast<std::size_t>(sectorCount) * kSectorSize;
  const std::int64_t got = m_imageFile.ReadAt(buffer, bytes, sector * kSectorSize);
  const std::size_t valid = got > 0 ? static_cast<std::size_t>(got) : 0;
  std::memset(buffer + valid, 0, bytes - valid);
  return valid == bytes;
}

void FatEngine::FreeLists() {
  m_clusterMap.clear();
  m_clusterMap.shrink_to_fit();
  m_visitedFolders.clear();
  m_pendingFolders.clear();
  m_foundFolders.clear();
  m_foundFolderIndex.clear();
  m_pendingItems.clear();
  m_directoryRecords.clear();
  m_folderNames.clear();
  m_namedByCluster.clear();
  m_rootFileClusters.clear();
  m_fat.clear();
  m_fat.shrink_to_fit();
  std::lock_guard lock(m_imageMutex);
  m_imageFile.Close();
}

}  // namespace corvan
