// What a saved scan keeps of the exFAT engine: its layout, place and
// counters in the header, its FAT copy and cluster map as the engine tables;
// and a fresh engine brought back from them on the disk mounted again, ready
// to read every saved file as the engine that scanned it did.

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "core/EngineHost.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/ExFatEngine.h"
#include "engines/fat/ExFatFormat.h"
#include "scan/ScanInfoEngines.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBackupBootSector = 12;
// Where a restored engine's item ids start.
constexpr std::uint32_t kRestoredNextId = 5;

// The u16 at 59 cannot hold 65536 sectors (32 MiB clusters). It keeps this
// instead: not zero, so the header check still takes the file, and odd, so
// no cluster size a scan can use is ever stored as it. The restore takes
// the real size from the boot sector.
constexpr std::uint16_t kClusterTooLargeForField = 0xFFFF;

std::uint16_t StoredClusterSectors(std::uint32_t sectorsPerCluster) {
  return sectorsPerCluster > 0xFFFF ? kClusterTooLargeForField : static_cast<std::uint16_t>(sectorsPerCluster);
}

std::uint64_t WholeSectors(std::uint64_t bytes) {
  return (bytes + kScanInfoSectorSize - 1) / kScanInfoSectorSize * kScanInfoSectorSize;
}

// The FAT the engine follows chains through: its copy, or, when the copy is
// gone, the volume's own FAT read again (a sector that cannot be read as
// zeros, as the copy holds it).
std::vector<std::uint8_t> FatTable(const ExFatEngine& e) {
  std::vector<std::uint8_t> fat(static_cast<std::size_t>(std::uint64_t{e.m_nFatLength} * kScanInfoSectorSize));
  if (fat.empty() || e.m_fatCopy.Read(0, fat.data(), fat.size())) return fat;
  std::fill(fat.begin(), fat.end(), 0);
  const std::uint64_t first =
      e.m_nVolumeStart + e.m_nFatOffset + (e.m_nFatSource == kExFatSourceFat2 ? e.m_nFatLength : 0);
  e.ReadSourceOrImage(first, e.m_nFatLength, fat.data());
  return fat;
}

// The cluster map in whole sectors. False, with nothing in `out`, when the
// work file no longer holds every entry: a map of zeros would call every
// cluster free.
bool ClusterMapTable(const ExFatEngine& e, std::vector<std::uint8_t>& out) {
  out.assign(static_cast<std::size_t>(WholeSectors(e.m_nMapEntries)), 0);
  const std::uint64_t have = std::min<std::uint64_t>(out.size(), e.m_clusterMap.Size());
  if (have >= e.m_nMapEntries && (have == 0 || e.m_clusterMap.Read(0, out.data(), static_cast<std::size_t>(have))))
    return true;
  out.clear();
  return false;
}

// A boot sector copy at `sector` that the engine would have scanned with and
// that describes the saved layout; `g` gets the geometry it derives (the
// heap start, which the header has no field for, and the cluster size).
bool BootDescribesSavedVolume(const ExFatEngine& e, std::uint64_t sector, const ScanImageFileHeader& h,
                              exfat::Geometry& g) {
  std::array<std::uint8_t, 512> boot{};
  e.ReadSourceOrImage(sector, 1, boot.data());  // a failed read leaves zeros, which do not parse
  if (!exfat::DeriveGeometry(exfat::ReadBootFields(boot), g) || !exfat::IsGeometryUsable(g) ||
      exfat::IsOddClusterSize(g))
    return false;
  return g.volumeLength == h.sectorCount && g.fatOffset == h.reservedSectors && g.fatLength == h.fatSize &&
         g.clusterCount == h.clusterCount && g.rootCluster == h.rootCluster &&
         StoredClusterSectors(g.sectorsPerCluster) == h.clusterSectors;
}

bool WriteWorkFile(ExFatWorkFile& file, const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                   ScanRestoreResult& result) {
  if (file.Create(path) && (bytes.empty() || file.Write(0, bytes.data(), bytes.size()))) return true;
  file.Remove();
  result.message = LoadString(kIdsCantOpenFile) + path.string();
  return false;
}

ScanRestoreResult Refused(std::string message) {
  ScanRestoreResult r;
  r.message = std::move(message);
  return r;
}

}  // namespace

void CaptureScanInfo(const ExFatEngine& engine, ScanImageFileHeader& header, ScanEngineTables& tables) {
  // Byte 16 stays clear: it would make the file a FAT scan.
  SetCommonScanFields(header, engine, engine.m_nVolumeStart, engine.m_nVolumeEnd, engine.m_nVolumeLength);
  header.driveByte = engine.m_nDriveByte;
  header.engineByte = engine.m_nMatchedDrive;
  header.fatSize = engine.m_nFatLength;
  header.rootCluster = engine.m_nRootCluster;
  header.fatKind = engine.m_nFileSystemKind;
  header.fatSource = engine.m_nFatSource;
  header.reservedSectors = engine.m_nFatOffset;
  header.clusterSectors = StoredClusterSectors(engine.m_nSectorsPerCluster);
  header.sectorFlag = engine.m_bRelative != 0 ? 1 : 0;
  header.clusterCount = engine.m_nClusterCount;

  tables = ScanEngineTables{};
  if (engine.m_nFatSource != kExFatSourceContiguous) tables.fat = FatTable(engine);
  header.clusterMapSize = ClusterMapTable(engine, tables.clusterMap) ? engine.m_nMapEntries : 0;
}

ScanRestoreResult RestoreFromScanInfo(ExFatEngine& engine, const VolumeScanInfo& scan, const Volume& volume) {
  const ScanImageFileHeader& h = scan.header;
  engine.FreeLists();
  engine.m_nDriveByte = h.driveByte;
  engine.m_nMatchedDrive = 0;
  engine.m_nFileSystemKind = h.fatKind;
  engine.m_nFatLength = h.fatSize;
  engine.m_nRootCluster = h.rootCluster;
  engine.m_nMapEntries = h.clusterMapSize;
  engine.m_nFatSource = h.fatSource;
  engine.m_nFatOffset = h.reservedSectors;
  engine.m_nVolumeStart = h.firstSector;
  engine.m_nVolumeEnd = h.endSector;
  engine.m_nVolumeLength = h.sectorCount;
  engine.m_nClusterCount = h.clusterCount;
  engine.m_bRelative = h.sectorFlag;
  engine.m_nSectorsPerCluster = 0;
  engine.m_nHeapStart = 0;
  engine.m_nBitmapCluster = exfat::kFirstCluster;
  engine.m_nPass = 0;
  engine.m_bMarkFlag = 0;
  engine.m_nSourceKind = volume.sourceKind;
  engine.m_volume = volume;
  engine.m_poster.ResetCounters();
  engine.m_poster.SetNextId(kRestoredNextId);

  if (const SavedDriveLookup drive = LookUpSavedDrive(h); drive.named) {
    if (!drive.drive) return Refused(LoadString(kIdsSourceDriveNotFound));
    engine.m_nMatchedDrive = *drive.drive;
  }

  // The header keeps no heap start, and no cluster size of 32 MiB: both come
  // from the boot sector the scan read, which must still describe the saved
  // volume, or the saved items would be read from whatever lies there now.
  exfat::Geometry g;
  if (!BootDescribesSavedVolume(engine, h.firstSector, h, g) &&
      !BootDescribesSavedVolume(engine, h.firstSector + kBackupBootSector, h, g))
    return Refused(LoadString(kIdsSourceDriveNotFound));
  engine.m_nSectorsPerCluster = g.sectorsPerCluster;
  engine.m_nHeapStart = g.heapStart;

  // The work files come back from the tables; tables that fall short of
  // the header would cut chains and lose clusters without a word.
  const bool withFat = h.fatSource != kExFatSourceContiguous;
  if ((withFat && scan.tables.fat.size() != std::uint64_t{h.fatSize} * kScanInfoSectorSize) ||
      scan.tables.clusterMap.size() < h.clusterMapSize)
    return Refused("The saved scan holds less of the FAT or of the cluster map than its header announces.");
  ScanRestoreResult result;
  if (withFat && !WriteWorkFile(engine.m_fatCopy, engine.WorkFileFor("exFat.dat"), scan.tables.fat, result))
    return result;
  if (h.clusterMapSize != 0 &&
      !WriteWorkFile(engine.m_clusterMap, engine.WorkFileFor("ClusterMap.dat"), scan.tables.clusterMap, result))
    return result;

  engine.m_host.VolumeOpenedFlag() = 1;
  result.ok = true;
  return result;
}

}  // namespace corvan
