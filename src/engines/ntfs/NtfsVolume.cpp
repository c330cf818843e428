// Geometry and the $MFT: the boot-sector check with its backups, the $MFT's
// own runs from record 0 (or its mirror), record numbers to sectors, and the
// scan entry of Quick Recovery.

#include <algorithm>
#include <array>
#include <cstring>

#include "core/EngineHost.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "platform/ByteCodec.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr char kMftUnreadableLine[] =
    "The $MFT of this volume could not be read: Advance Recovery searches the volume for its records.";
constexpr char kNoRecordsLine[] = "No NTFS file records were found on this volume.";

// Sectors of 512 bytes per cluster as the boot sector gives them: byte 0x0D
// counts the volume's own sectors, and values above 0x80 are a power of two
// written as its negative exponent (clusters of 128 KiB and more).
std::uint32_t BootSectorsPerCluster(const std::uint8_t* boot) {
  const std::uint32_t raw = boot[0x0D];
  std::uint32_t spc = raw > 0x80 ? (256 - raw < 16 ? 1u << (256 - raw) : 0) : raw;
  const std::uint32_t bytesPerSector = GetLE16(boot + 0x0B);
  if (bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096) spc *= bytesPerSector / 512;
  return spc;
}

}  // namespace

bool NtfsEngine::ValidateBootSector() {
  const std::uint64_t end =
      m_nVolumeEndSector > m_nVolumeFirstSector ? m_nVolumeEndSector : m_nVolumeFirstSector + m_nVolumeSectorCount;
  const std::uint64_t relativeEnd = end - m_nVolumeFirstSector;
  const std::uint64_t copies[3] = {0, relativeEnd, relativeEnd > 0 ? relativeEnd - 1 : 0};
  std::array<std::uint8_t, 512> boot;
  for (std::uint64_t sector : copies) {
    ReadVolumeSectors(boot.data(), 512, sector);
    if (boot[510] != 0x55 || boot[511] != 0xAA || std::memcmp(boot.data() + 3, "NTFS", 4) != 0) continue;
    const std::uint32_t spc = BootSectorsPerCluster(boot.data());
    m_nSectorsPerCluster = static_cast<std::uint16_t>(spc);
    m_nMftSector = GetLE64(boot.data() + 0x30) * spc;
    m_nMftMirrSector = GetLE64(boot.data() + 0x38) * spc;
    if (ntfs::ValidSectorsPerCluster(spc)) return true;
  }
  return false;
}

std::uint64_t NtfsEngine::MftRecordToSector(std::uint64_t record, std::uint64_t* secondHalf) const {
  if (secondHalf) *secondHalf = 0;
  const std::uint64_t cb = ClusterBytes();
  if (m_mftRuns.empty() || cb == 0) return 0;
  auto place = [&](std::uint64_t byte) -> std::uint64_t {
    const std::uint64_t vcn = byte / cb;
    for (const DataExtent& e : m_mftRuns) {
      if (vcn >= e.vcn && vcn - e.vcn < e.length) {
        if (e.sparse) return 0;
        return (e.lcn + (vcn - e.vcn)) * m_nSectorsPerCluster + (byte % cb) / 512;
      }
    }
    return 0;
  };
  const std::uint64_t byte = record * ntfs::kMftRecordSize;
  const std::uint64_t first = place(byte);
  if (first == 0) return 0;
  const std::uint64_t second = place(byte + 512);
  if (secondHalf && second != first + 1) *secondHalf = second;
  return first;
}

bool NtfsEngine::LoadMftRuns() {
  m_mftRuns.clear();
  m_nMftRecords = 0;
  {
    std::lock_guard lock(m_mftMutex);
    m_mftBlocks.clear();
    m_mftBlockOrder.clear();
  }
  const std::uint32_t cb = ClusterBytes();
  if (!ntfs::ValidSectorsPerCluster(m_nSectorsPerCluster)) return false;
  const ClusterReader read = MakeClusterReader();

  for (std::uint64_t sector : {m_nMftSector, m_nMftMirrSector}) {
    if (sector == 0) continue;  // the boot sector is never record 0
    std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
    if (!ReadVolumeSectors(bytes.data(), ntfs::kMftRecordSize, sector)) continue;
    ntfs::MftRecord base;
    if (ntfs::ApplyRecordFixup(bytes) != ntfs::FixupStatus::Ok || !base.Parse(bytes)) continue;

    // Extension records of the $MFT lie in the part its base record maps.
    ntfs::FileView baseOnly = ntfs::BuildFileView(0, base, nullptr, nullptr);
    const std::vector<DataExtent> baseRuns = baseOnly.data.extents;
    auto fetch = [&](std::uint64_t n, ntfs::MftRecord& out) {
      FileDataLayout layout;
      layout.clusterBytes = cb;
      layout.extents = baseRuns;
      layout.size = (n + 1) * ntfs::kMftRecordSize;
      WalkResult r;
      auto rec = ReadFileData(layout, read, n * ntfs::kMftRecordSize, (n + 1) * ntfs::kMftRecordSize, &r);
      if (!r.Clean() || rec.size() != ntfs::kMftRecordSize) return false;
      return ntfs::ApplyRecordFixup(rec) == ntfs::FixupStatus::Ok && out.Parse(rec);
    };
    auto readAttr = [&](const ntfs::AttributeData& d, std::uint64_t limit) {
      FileDataLayout layout = ntfs::LayoutOf(d, cb);
      layout.size = std::min(layout.size, limit);
      return ReadFileData(layout, read);
    };
    ntfs::FileView view = ntfs::BuildFileView(0, base, fetch, readAttr);
    const ntfs::AttributeData& data = view.data;
    if (!data.present || data.resident || !data.runsComplete || data.extents.empty()) continue;
    const DataExtent& first = data.extents.front();
    // Record 0 must map the $MFT where the boot sector says it lies.
    if (first.vcn != 0 || first.sparse || first.lcn * m_nSectorsPerCluster != m_nMftSector) continue;
    std::uint64_t clusters = 0;
    for (const DataExtent& e : data.extents) clusters += e.length;
    std::uint64_t bytesMapped = clusters * cb;
    if (data.size > 0 && data.size <= bytesMapped) bytesMapped = data.size;
    m_mftRuns = data.extents;
    m_nMftRecords = std::min<std::uint64_t>(bytesMapped / ntfs::kMftRecordSize, 0xFFFFFFFFull);
    break;
  }
  if (m_mftRuns.empty()) return false;
  m_visited.assign(static_cast<std::size_t>(m_nMftRecords), 0);
  m_postedIds.SetDenseBound(m_nMftRecords);
  m_knownFolders.SetDenseBound(m_nMftRecords);
  MarkVisited(0);
  MarkVisited(1);
  return true;
}

bool NtfsEngine::ScanVolume(bool deletedMode) {
  m_bDeletedMode = deletedMode;
  m_bAdvanceRecords = false;
  m_nSectorsPerCluster = m_nPartitionSectorsPerCluster;
  m_nMftSector = m_nPartitionMftSector;
  m_nMftMirrSector = m_nPartitionMftMirrSector;
  // What the partition scan found stands, unless it is incomplete or its
  // $MFT cannot be read; the boot sector and its backups are read then.
  bool good = ntfs::ValidSectorsPerCluster(m_nSectorsPerCluster) && m_nMftSector != 0;
  bool loaded = good && LoadMftRuns();
  if (!loaded) {
    good = ValidateBootSector();
    loaded = good && LoadMftRuns();
  }
  if (deletedMode) {
    // Deleted Recovery needs the $MFT; without it the result stays empty.
    // A volume that still holds records Advance Recovery can search is left
    // at that; one where no record can be read (a boot sector alone is not
    // enough) is said to be no valid volume, as Quick and Advance Recovery
    // say it.
    if (!loaded) {
      const bool holdsNtfs = VolumeHoldsFileRecords();
      if (Aborted()) return false;
      if (holdsNtfs) {
        m_host.AppendLog(kMftUnreadableLine, false);
      } else {
        m_host.AppendLog(kNoRecordsLine, false);
        RefuseVolume();
      }
      return false;
    }
    ScanAllRecords();
    BuildDeletedTree();
    return true;
  }
  if (loaded) {
    QuickTree();
    return true;
  }
  // The boot sector or the $MFT cannot be used: search the volume for its
  // records instead.
  return DeepScan();
}

}  // namespace corvan
