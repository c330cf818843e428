// The exFAT engine's state as a saved scan keeps it, and a fresh engine
// brought back from it on the disk mounted again, ready to read every saved
// file as the engine that scanned it did.

#include <algorithm>
#include <array>

#include "core/EngineHost.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatEngine.h"

namespace corvan {

namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kBackupBootSector = 12;
// Where a restored engine's item ids start.
constexpr std::uint32_t kRestoredNextId = 5;

std::uint64_t WholeSectors(std::uint64_t bytes) { return (bytes + kSectorBytes - 1) / kSectorBytes * kSectorBytes; }

bool WriteWorkFile(ExFatWorkFile& file, const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                   std::string& message) {
  if (file.Create(path) && (bytes.empty() || file.Write(0, bytes.data(), bytes.size()))) return true;
  file.Remove();
  message = LoadString(kIdsCantOpenFile) + path.string();
  return false;
}

}  // namespace

ExFatSavedScan ExFatEngine::SavedScan() const {
  ExFatSavedScan saved;
  saved.driveByte = m_nDriveByte;
  saved.matchedDrive = m_nMatchedDrive;
  saved.fileSystemKind = m_nFileSystemKind;
  saved.volumeStart = m_nVolumeStart;
  saved.volumeEnd = m_nVolumeEnd;
  saved.volumeLength = m_nVolumeLength;
  saved.fatOffset = m_nFatOffset;
  saved.fatLength = m_nFatLength;
  saved.clusterCount = m_nClusterCount;
  saved.rootCluster = m_nRootCluster;
  saved.clusterSectors = StoredExFatClusterSectors(m_nSectorsPerCluster);
  saved.fatSource = m_nFatSource;
  saved.relative = m_bRelative != 0;

  if (m_nFatSource != kExFatSourceContiguous) {
    // The FAT the engine follows chains through: its copy, or, when the copy
    // is gone, the volume's own FAT read again (a sector that cannot be read
    // as zeros, as the copy holds it).
    saved.fat.resize(static_cast<std::size_t>(std::uint64_t{m_nFatLength} * kSectorBytes));
    if (!saved.fat.empty() && !m_fatCopy.Read(0, saved.fat.data(), saved.fat.size())) {
      std::fill(saved.fat.begin(), saved.fat.end(), 0);
      const std::uint64_t first =
          m_nVolumeStart + m_nFatOffset + (m_nFatSource == kExFatSourceFat2 ? m_nFatLength : 0);
      ReadSourceOrImage(first, m_nFatLength, saved.fat.data());
    }
  }

  // The cluster map in whole sectors; none when the work file no longer
  // holds every entry: a map of zeros would call every cluster free.
  saved.clusterMap.assign(static_cast<std::size_t>(WholeSectors(m_nMapEntries)), 0);
  const std::uint64_t have = std::min<std::uint64_t>(saved.clusterMap.size(), m_clusterMap.Size());
  if (have >= m_nMapEntries &&
      (have == 0 || m_clusterMap.Read(0, saved.clusterMap.data(), static_cast<std::size_t>(have)))) {
    saved.mapEntries = m_nMapEntries;
  } else {
    saved.clusterMap.clear();
  }
  return saved;
}

namespace {

// A boot sector copy at `sector` that the engine would have scanned with and
// that describes the saved layout; `g` gets the geometry it derives (the
// heap start, which is not saved, and the cluster size).
bool BootDescribesSavedVolume(const ExFatEngine& e, std::uint64_t sector, const ExFatSavedScan& s,
                              exfat::Geometry& g) {
  std::array<std::uint8_t, 512> boot{};
  e.ReadSourceOrImage(sector, 1, boot.data());  // a failed read leaves zeros, which do not parse
  if (!exfat::DeriveGeometry(exfat::ReadBootFields(boot), g) || !exfat::IsGeometryUsable(g) ||
      exfat::IsOddClusterSize(g))
    return false;
  return g.volumeLength == s.volumeLength && g.fatOffset == s.fatOffset && g.fatLength == s.fatLength &&
         g.clusterCount == s.clusterCount && g.rootCluster == s.rootCluster &&
         StoredExFatClusterSectors(g.sectorsPerCluster) == s.clusterSectors;
}

}  // namespace

std::string ExFatEngine::RestoreSavedScan(const ExFatSavedScan& saved, const Volume& volume) {
  FreeLists();
  m_nDriveByte = saved.driveByte;
  m_nMatchedDrive = saved.matchedDrive;
  m_nFileSystemKind = saved.fileSystemKind;
  m_nFatLength = saved.fatLength;
  m_nRootCluster = saved.rootCluster;
  m_nMapEntries = saved.mapEntries;
  m_nFatSource = saved.fatSource;
  m_nFatOffset = saved.fatOffset;
  m_nVolumeStart = saved.volumeStart;
  m_nVolumeEnd = saved.volumeEnd;
  m_nVolumeLength = saved.volumeLength;
  m_nClusterCount = saved.clusterCount;
  m_bRelative = saved.relative ? 1 : 0;
  m_nSectorsPerCluster = 0;
  m_nHeapStart = 0;
  m_nBitmapCluster = exfat::kFirstCluster;
  m_nPass = 0;
  m_bMarkFlag = 0;
  m_nSourceKind = volume.sourceKind;
  m_volume = volume;
  m_poster.ResetCounters();
  m_poster.SetNextId(kRestoredNextId);

  // The heap start is not saved, nor a cluster size of 32 MiB: both come
  // from the boot sector the scan read, which must still describe the saved
  // volume, or the saved items would be read from whatever lies there now.
  exfat::Geometry g;
  if (!BootDescribesSavedVolume(*this, saved.volumeStart, saved, g) &&
      !BootDescribesSavedVolume(*this, saved.volumeStart + kBackupBootSector, saved, g))
    return LoadString(kIdsSourceDriveNotFound);
  m_nSectorsPerCluster = g.sectorsPerCluster;
  m_nHeapStart = g.heapStart;

  // The work files come back from the tables; tables that fall short of
  // what was saved would cut chains and lose clusters without a word.
  const bool withFat = saved.fatSource != kExFatSourceContiguous;
  if ((withFat && saved.fat.size() != std::uint64_t{saved.fatLength} * kSectorBytes) ||
      saved.clusterMap.size() < saved.mapEntries)
    return "The saved scan holds less of the FAT or of the cluster map than its header announces.";
  std::string message;
  if (withFat && !WriteWorkFile(m_fatCopy, WorkFilePath("exFat.dat"), saved.fat, message)) return message;
  if (saved.mapEntries != 0 && !WriteWorkFile(m_clusterMap, WorkFilePath("ClusterMap.dat"), saved.clusterMap, message))
    return message;
  return {};
}

}  // namespace corvan
