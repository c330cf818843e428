// A fresh engine made ready for the items of a scan saved earlier: the
// saved place, geometry and tables, and what the saved form leaves out of
// Advance Recovery's found records (where a record split over two $MFT runs
// has its second half, and whether a record's number is known), found again
// on the volume exactly as the search found it.

#include <algorithm>
#include <array>

#include "core/EngineHost.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "engines/ntfs/NtfsSavedScan.h"

namespace corvan {

NtfsSavedScan NtfsEngine::SavedScan() const {
  NtfsSavedScan saved;
  NtfsVolumeBinding& b = saved.binding;
  b.firstSector = m_nVolumeFirstSector;
  b.sectorCount = m_nVolumeSectorCount;
  b.endSector = m_nVolumeEndSector;
  b.diskNumber = m_nDiskNumber;
  b.sectorsPerCluster = m_nSectorsPerCluster;
  b.mftSector = m_nMftSector;
  b.mftMirrorSector = m_nMftMirrSector;
  saved.mftRuns = m_mftRuns;
  saved.mftRunsUsed = !m_mftRuns.empty();
  if (m_bAdvanceRecords) saved.foundRecords = m_foundRecords;
  saved.keptRuns = m_keptRuns;
  return saved;
}

void NtfsEngine::RestoreSavedScan(const NtfsSavedScan& saved) {
  FreeLists();
  m_poster.ResetCounters();
  m_poster.ClearQueue();
  Prepare(saved.binding);
  m_nSectorsPerCluster = saved.binding.sectorsPerCluster;
  m_nMftSector = saved.binding.mftSector;
  m_nMftMirrSector = saved.binding.mftMirrorSector;
  m_bDeletedMode = false;

  if (saved.mftRunsKept) {
    m_mftRuns = saved.mftRuns;
    std::uint64_t clusters = 0;
    for (const DataExtent& e : m_mftRuns)
      if (__builtin_add_overflow(clusters, e.length, &clusters)) clusters = ~0ull;
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(clusters, std::uint64_t{ClusterBytes()}, &bytes)) bytes = ~0ull;
    m_nMftRecords = std::min<std::uint64_t>(bytes / ntfs::kMftRecordSize, 0xFFFFFFFFull);
  } else if (saved.mftRunsUsed) {
    // Runs the file could not keep are read again where the scan read them.
    LoadMftRuns();
  }

  RestoreFoundRecords(saved);
  m_keptRuns = saved.keptRuns;
  for (KeptRunNode& node : m_keptRuns) node.item = kNoFoundItem;
  // The free clusters were read from the volume's bitmap; the file keeps no
  // copy, and the same read gives the same list.
  if (saved.freeClusters) LoadVolumeBitmap();
}

std::unordered_map<std::uint64_t, std::uint64_t> NtfsEngine::SplitMftRecords() const {
  // The search of the $MFT's runs keeps a record that begins in the last
  // sector of a run waiting, and joins it with the first sector of the next
  // run it reads when that continues the $MFT. Inside a run the record's
  // second half is the next sector, so only run ends split a record.
  std::unordered_map<std::uint64_t, std::uint64_t> split;
  const std::uint64_t spc = m_nSectorsPerCluster;
  const std::uint64_t cb = ClusterBytes();
  const std::uint64_t count = m_nVolumeSectorCount;
  bool pending = false;
  std::uint64_t pendingSector = 0, pendingPosition = 0;
  for (const DataExtent& e : m_mftRuns) {
    std::uint64_t base = 0;
    // The runs the search passes over, as it tells them.
    if (e.sparse || e.lcn >= count || e.lcn * spc >= count || __builtin_mul_overflow(e.vcn, cb, &base)) {
      pending = false;
      continue;
    }
    const std::uint64_t start = e.lcn * spc;
    const std::uint64_t sectors = std::min(std::min(e.length, count) * spc, count - start);
    if (sectors == 0) continue;
    if (pending && pendingPosition + 512 == base && start != pendingSector + 1) split.emplace(pendingSector, start);
    pendingPosition = base + (sectors - 1) * 512;
    pendingSector = start + sectors - 1;
    pending = pendingPosition % ntfs::kMftRecordSize == 0;
  }
  return split;
}

void NtfsEngine::RestoreFoundRecords(const NtfsSavedScan& saved) {
  m_foundRecords = saved.foundRecords;
  m_bAdvanceRecords = !m_foundRecords.empty();
  if (m_foundRecords.empty()) return;
  const auto split = SplitMftRecords();
  std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
  for (std::size_t i = 0; i < m_foundRecords.size(); ++i) {
    AdvanceRecordEntry& e = m_foundRecords[i];
    const auto s = split.find(e.sector);
    e.secondHalf = s != split.end() ? s->second : 0;
    // A number of 0 is record 0's only where the $MFT begins, or where the
    // record keeps its number (update sequence at 0x30); everywhere else it
    // is a record whose number the search could not know.
    if (e.recordNumber != 0 || (saved.mftRunsUsed && e.sector == m_nMftSector)) {
      e.numberKnown = true;
    } else {
      e.numberKnown = ReadRecordAtSector(e.sector, e.secondHalf, bytes) && ntfs::HasRecordSignature(bytes) &&
                      bytes[4] == 0x30;
    }
    if (e.numberKnown) m_foundByNumber.emplace(e.recordNumber, i);
  }
}

}  // namespace corvan
