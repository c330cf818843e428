// The layout of a volume whose boot sectors cannot be trusted, rebuilt from
// the folder-start sectors at its beginning.

#include <algorithm>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "engines/fat/FatRebuild.h"
#include "platform/ByteCodec.h"
#include "platform/TimeFormat.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint32_t kReadSectors = 2048;  // 1 MiB a read
// Data-area starts that at least two folders agree on are checked against
// the FAT copies in front of them, the best voted first, this many at most.
constexpr std::uint32_t kMinRebuildVotes = 2;
constexpr std::size_t kMaxRebuildCandidates = 8;

// A volume in a diskette drive (drive byte 0 or 1) is taken to be a
// 1.44 MB diskette.
constexpr std::uint8_t kDisketteSpc = 1;
constexpr std::uint32_t kDisketteFatSize = 9;
constexpr std::uint32_t kDisketteReserved = 1;
constexpr std::uint32_t kDisketteRootSectors = 14;

}  // namespace

std::uint8_t FatEngine::EstimateClusterSizes() { return corvan::EstimateClusterSizes(m_directoryRecords); }

std::uint32_t FatEngine::VoteLayout() {
  const auto probe = [this](std::uint64_t relative) {
    std::uint8_t sector[kSectorSize] = {};
    if (m_nSectorCount != 0 && relative >= m_nSectorCount) return false;
    if (!ReadSourceOrImage(m_nVolumeStart + relative, sector, 1)) return false;
    return sector[0] == 0xF8 && sector[1] == 0xFF && sector[2] == 0xFF;
  };
  const VotedLayout v = corvan::VoteLayout(m_directoryRecords, m_nSectorCount, probe);
  m_nSectorsPerCluster = v.sectorsPerCluster;
  m_nFatKind = v.kind;
  m_nReservedSectors = v.reservedSectors;
  m_nRootDirSectors = v.rootDirSectors;
  m_nFatSize = v.fatSize;
  m_nSectorCount = v.sectorCount;
  if (m_nFatSize == 0) return 0;
  // Whatever the vote left, nothing may be sized or read from a layout
  // that does not fit the volume.
  if (!LayoutIsSound()) return 0;
  return m_nSectorsPerCluster;
}

bool FatEngine::RebuildLayoutFromVolume() {
  corvan::EstimateClusterSizes(m_directoryRecords);
  const std::vector<VoteRecord> votes = CollectVotes(m_directoryRecords, VoteReach::Any);
  FatRebuildBounds bounds;
  bounds.start = m_nVolumeStart;
  if (m_nSectorCount != 0) {
    bounds.sectorCount = m_nSectorCount;
    bounds.ceiling = m_nVolumeStart + m_nSectorCount;
  }
  // The candidates share their backward searches. Stop is refused while the
  // layout is searched, as for the search of the folders.
  FatSectorIndex index([this](std::uint64_t sector, std::uint8_t* buffer, std::size_t count) {
    return ReadSourceOrImage(sector, buffer, static_cast<std::uint32_t>(count));
  });
  for (std::size_t i = 0; i < votes.size() && i < kMaxRebuildCandidates; ++i) {
    const VoteRecord& v = votes[i];
    if (v.votes < kMinRebuildVotes) break;
    const RebuiltFatLayout r =
        RebuildFatLayout(index, m_nVolumeStart + v.start, static_cast<std::uint8_t>(v.sectorsPerCluster), bounds);
    if (!r.rebuilt) continue;
    m_nFatKind = r.layout.kind;
    m_nSectorsPerCluster = r.layout.sectorsPerCluster;
    m_nReservedSectors = r.layout.reservedSectors;
    m_nRootDirSectors = r.layout.rootDirSectors;
    m_nFatSize = r.layout.fatSize;
    m_nRootCluster = r.layout.rootCluster;
    m_nSectorCount = r.layout.sectorCount;
    return true;
  }
  return false;
}

std::uint32_t FatEngine::SearchDirectoryClusters() {
  m_directoryRecords.clear();
  ProgressSink& progress = Progress();
  progress.SetStatusText(LoadString(kIdsSearchingCritical));
  progress.SetRange(0, static_cast<std::int64_t>(m_nSectorCount));
  progress.SetStep(kReadSectors);
  SetCritical(true);
  m_host.LogPhaseStart(LoadString(kIdsCalculatingParameters));

  const std::uint64_t end = m_nVolumeStart + m_nSectorCount;
  const std::uint64_t quarter = m_nVolumeStart + m_nSectorCount / 4;
  std::vector<std::uint8_t> buffer(std::size_t{kReadSectors} * kSectorSize);
  const std::string of = LoadString(kIdsOf);
  bool done = false;
  for (std::uint64_t x = m_nVolumeStart; x < end && !done; x += kReadSectors) {
    progress.SetSectorText(LoadString(kIdsReadingSector) + std::to_string(x) + " " + of + " " + std::to_string(end));
    // Never past the volume's end; a failed read leaves zeros, not the
    // previous read's sectors, so nothing votes twice.
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadSectors, end - x));
    if (!ReadSourceOrImage(x, buffer.data(), count)) {
      std::fill(buffer.begin(), buffer.end(), 0);
      ReportReadFailure("sector", x);
    }
    progress.StepIt();
    for (std::uint32_t i = 0; i < count && !done; ++i) {
      const std::uint8_t* sector = buffer.data() + std::size_t{i} * kSectorSize;
      if (!IsFolderStartSector(sector)) continue;
      DirectoryClusterRecord record;
      record.sector = static_cast<std::uint32_t>(x - m_nVolumeStart + i);
      record.cluster = (std::uint32_t{GetLE16(sector + 20)} << 16) | GetLE16(sector + 26);
      m_directoryRecords.push_back(record);
      if (m_directoryRecords.size() >= kMaxDirectoryRecords) done = true;
      if (x >= quarter && m_directoryRecords.size() >= 2) done = true;
    }
  }
  // Stop is refused while the layout is searched: the search always completes.
  m_host.LogProcessEnded(false);

  std::uint32_t result = 0;
  if (m_directoryRecords.empty()) {
    m_nSectorsPerCluster = 0;
    m_nFatSize = 0;
  } else if (m_nMediaByte == 0 || m_nMediaByte == 1) {
    m_nFatKind = kFat12;
    m_nSectorsPerCluster = kDisketteSpc;
    m_nFatSize = kDisketteFatSize;
    m_nReservedSectors = kDisketteReserved;
    m_nRootDirSectors = kDisketteRootSectors;
    if (LayoutIsSound()) {
      SelectFatCopy();
      result = 1;
    }
  } else if (RebuildLayoutFromVolume()) {
    SelectFatCopy();
    result = m_nSectorsPerCluster;
  } else {
    // No FAT copy fits the folders: the vote alone decides.
    result = VoteLayout();
    if (result != 0) SelectFatCopy();
  }
  m_directoryRecords.clear();
  SetCritical(false);
  progress.SetCounterText("0 " + LoadString(kIdsEntriesFound));
  return result;
}

}  // namespace corvan
