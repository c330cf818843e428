// The exFAT engine object: binding to the selected source, the boot-sector
// parse and check, and the sector and cluster reads every pass goes through.

#include "engines/exfat/ExFatEngine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

constexpr std::uint32_t kBackupBootSector = 12;
constexpr std::uint32_t kDefaultBitmapCluster = 2;
// The largest read handed to the sector reader at once.
constexpr std::uint32_t kMaxReadSectors = 32768;

// Two engines may live side by side (a scan and a loaded scan): each keeps
// its work files in a folder of its own.
std::atomic<std::uint32_t> g_engineNumber{0};

}  // namespace

ExFatEngine::ExFatEngine(EngineHost& host)
    : m_host(host), m_pConsole(host.ResultsSink()), m_pScanDlg(host.ScanProgressSink()) {
  m_poster.Attach(m_pConsole, m_pScanDlg);
}

ExFatEngine::~ExFatEngine() { FreeLists(); }

void ExFatEngine::AttachWindows(FoundItemSink* console, ProgressSink* scanDialog) {
  m_pConsole = console;
  m_pScanDlg = scanDialog;
  m_poster.Attach(console, scanDialog);
}

ProgressSink& ExFatEngine::Progress() const { return m_poster.Progress(); }
FoundItemSink& ExFatEngine::Console() const { return m_poster.Results(); }
bool ExFatEngine::Aborted() const { return m_host.StopRequested(); }

void ExFatEngine::SetCritical(bool on) {
  m_host.SetCriticalPhase(on);
  Progress().EnableStop(!on);
}

void ExFatEngine::ReportWorkFileFailure(const std::filesystem::path& path) {
  const std::string text = LoadString(kIdsCantOpenFile) + path.string();
  m_host.AppendLog(text, false);
  m_host.GetPrompt().MessageBox(text, kPicError, kMbOk);
}

std::filesystem::path ExFatEngine::WorkFilePath(const char* name) {
  if (m_workFolder.empty()) {
    m_workFolder = ProcessWorkFolder() / ("exfat-" + std::to_string(g_engineNumber.fetch_add(1)));
  }
  EnsureFolder(m_workFolder);
  return m_workFolder / name;
}

std::uint32_t ExFatEngine::TakeItemId() { return m_poster.TakeId(); }

void ExFatEngine::RaiseNextItemId(std::uint64_t atLeast) {
  // Ids already handed out in this engine are never given again.
  const std::uint64_t floor = std::max<std::uint64_t>(atLeast, std::uint64_t{m_poster.HighestId()} + 1);
  m_poster.SetNextId(floor > 0xFFFFFFFFull ? 2u : static_cast<std::uint32_t>(floor));
}

// ---- binding ----

void ExFatEngine::Prepare(const Volume& volume) {
  Progress().SetPos(0);
  m_nSourceKind = volume.sourceKind;
  m_volume = volume;
  if (volume.IsWholeDisk()) return;

  const PartitionRecord& p = *volume.partition;
  m_nVolumeStart = volume.FirstSector();
  m_nVolumeLength = p.sectorCount;
  m_nVolumeEnd = p.endSector;
  m_nFileSystemKind = p.fileSystemKind;
  m_nDriveByte = p.diskNumber;
  m_nBitmapCluster = kDefaultBitmapCluster;
  m_host.VolumeOpenedFlag() = 1;
}

// ---- boot sector ----

bool ExFatEngine::ParseBootSector(std::span<const std::uint8_t, 512> sector) {
  m_nFileSystemKind = kFsExFat;
  exfat::Geometry g;
  const bool ok = exfat::DeriveGeometry(exfat::ReadBootFields(sector), g);
  m_nVolumeLength = g.volumeLength;
  m_nClusterCount = g.clusterCount;
  m_nFatLength = g.fatLength;
  m_nRootCluster = g.rootCluster;
  m_nFatOffset = g.fatOffset;
  m_nSectorsPerCluster = 0;
  m_nHeapStart = 0;
  if (!ok) return false;
  m_nSectorsPerCluster = g.sectorsPerCluster;
  m_nHeapStart = g.heapStart;
  m_nVolumeEnd = m_nVolumeStart + m_nVolumeLength;
  m_poster.SetNextId(0);
  const std::uint64_t first = m_nRootCluster == 0 ? 5 : std::uint64_t{m_nRootCluster} + 1;
  RaiseNextItemId(first > 0xFFFFFFFFull ? 5 : first);
  return true;
}

bool ExFatEngine::ReadBootCopy(std::uint64_t sector) {
  std::array<std::uint8_t, 512> buffer{};
  ReadSourceOrImage(sector, 1, buffer.data());  // a failed read leaves zeros, which do not parse
  if (!ParseBootSector(buffer)) return false;
  exfat::Geometry g;
  g.volumeLength = m_nVolumeLength;
  g.fatOffset = m_nFatOffset;
  g.fatLength = m_nFatLength;
  g.clusterCount = m_nClusterCount;
  g.sectorsPerCluster = m_nSectorsPerCluster;
  g.heapStart = m_nHeapStart;
  return exfat::IsGeometryUsable(g) && !exfat::IsOddClusterSize(g);
}

bool ExFatEngine::BootCheck() {
  if (ReadBootCopy(m_nVolumeStart)) return true;
  if (ReadBootCopy(m_nVolumeStart + kBackupBootSector)) return true;
  RefuseVolume();
  return false;
}

ExFatScanResult ExFatEngine::RefuseVolume() {
  // The worker stays busy until it has ended; only the message is shown here.
  m_host.GetPrompt().MessageBoxId(kIdsInvalidVolume, kPicError, kMbOk);
  return ExFatScanResult::InvalidVolume;
}

bool ExFatEngine::TablesOnDisk() const {
  const std::uint64_t diskSectors = m_volume.disk ? m_volume.disk->SectorCount() : 0;
  return m_nVolumeStart + m_nFatOffset < diskSectors && m_nVolumeStart + m_nHeapStart < diskSectors;
}

bool ExFatEngine::FatOrRootReadable() const {
  // CheckFat has chosen the FAT only where it begins with its media entry.
  if (m_nFatSource != kExFatSourceContiguous) return true;
  std::vector<std::uint8_t> root(ClusterBytes());
  ReadClusters(m_nSectorsPerCluster, WalkedRootCluster(), 0, root.data());  // zeros where unread
  return exfat::HoldsBitmapEntry(root, m_nClusterCount);
}

bool ExFatEngine::ValidateBootSector() {
  if (!BootCheck()) return false;
  return CheckFat();
}

// ---- reads ----

bool ExFatEngine::ReadClusters(std::uint32_t sectorCount, std::uint32_t cluster, std::uint32_t sectorOffset,
                               std::uint8_t* buffer) const {
  const std::size_t bytes = static_cast<std::size_t>(sectorCount) * kSectorSize;
  if (!IsHeapCluster(cluster) || m_nSectorsPerCluster == 0) {
    std::memset(buffer, 0, bytes);
    return false;
  }
  const std::uint64_t relative =
      m_nHeapStart + std::uint64_t{cluster - exfat::kFirstCluster} * m_nSectorsPerCluster + sectorOffset;
  // Never read past the volume into whatever follows it on the disk.
  const std::uint32_t inside =
      relative >= m_nVolumeLength
          ? 0
          : static_cast<std::uint32_t>(std::min<std::uint64_t>(sectorCount, m_nVolumeLength - relative));
  std::memset(buffer + static_cast<std::size_t>(inside) * kSectorSize, 0,
              bytes - static_cast<std::size_t>(inside) * kSectorSize);
  if (inside == 0) return false;
  const std::uint64_t sector = m_bRelative ? relative : m_nVolumeStart + relative;
  return ReadSourceOrImage(sector, inside, buffer) && inside == sectorCount;
}

bool ExFatEngine::ReadSourceOrImage(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) const {
  bool ok = true;
  while (count > 0) {
    const std::uint32_t n = std::min(count, kMaxReadSectors);
    const bool part = m_volume.ReadSectors(sector, buffer, std::size_t{n} * kSectorSize);
    ok = part && ok;
    sector += n;
    buffer += static_cast<std::size_t>(n) * kSectorSize;
    count -= n;
  }
  return ok;
}

// ---- release ----

void ExFatEngine::FreeLists() {
  m_walkedFolders.clear();
  FreeDeletedFolders();
  m_poster.ClearQueue();
  m_descended.clear();
  m_readClusters.clear();
  m_fatCopy.Remove();
  m_clusterMap.Remove();
  if (!m_workFolder.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_workFolder, ec);
    m_workFolder.clear();
  }
}

}  // namespace corvan
