// Advance Recovery, first half: the geometry of a volume whose boot sector
// or $MFT cannot be trusted (from a vote over the records on the disk when
// nothing else gives it), and the search for FILE records, first through the
// $MFT's own runs and then over the rest of the volume, a megabyte at a time.
//
// A stop ends the pass before its next read; the vote and the bitmap load,
// during which Stop is disabled, run to their end and leave the request for
// the search that follows, which then reads nothing.

#include <algorithm>
#include <array>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "platform/TimeFormat.h"

namespace corvan {

namespace {

constexpr std::uint64_t kPieceSectors = 2048;
// The boot sector's area holds no records.
constexpr std::uint64_t kFirstSearchedSector = 32;
constexpr std::uint32_t kFirstFoundId = 10;
// Signature matchers may look a few bytes past the sector they are given.
constexpr std::size_t kMatcherSlack = 8;

constexpr char kNoRecordsLine[] = "No NTFS file records were found on this volume.";

}  // namespace

void NtfsEngine::SetSectorText(std::uint64_t sector, std::uint64_t of) {
  m_pScanDlg->SetSectorText(LoadString(kIdsReadingSector) + std::to_string(sector) + " " + LoadString(kIdsOf) +
                            " " + std::to_string(of));
}

std::uint32_t NtfsEngine::TakeRunningId() {
  return m_poster.TakeId();
}

bool NtfsEngine::DeepScan() {
  m_bAdvanceRecords = true;
  ClearFoundRecords();
  m_nSectorsPerCluster = m_nPartitionSectorsPerCluster;
  m_nMftSector = m_nPartitionMftSector;
  m_nMftMirrSector = m_nPartitionMftMirrSector;
  m_host.NextSyntheticId() = static_cast<std::int32_t>(0xFFFFFFF0u);

  if (!ntfs::ValidSectorsPerCluster(m_nSectorsPerCluster) && !ValidateBootSector()) {
    // A copy that passed its signature test but not its cluster size may
    // have left its values behind: the records decide instead.
    m_nMftSector = m_nPartitionMftSector;
    m_nMftMirrSector = m_nPartitionMftMirrSector;
    m_nSectorsPerCluster = FindClusterSizeByScanning();
    if (m_nSectorsPerCluster == 0) {
      // The vote read the whole volume (it cannot be stopped) and no record
      // voted: there is no NTFS here to rebuild.
      m_host.AppendLog(kNoRecordsLine, false);
      RefuseVolume();
      return false;
    }
  }
  m_collectedHits.clear();
  m_collectedTally = {};
  LoadVolumeBitmap();
  SearchRecords();

  // A stop pressed during the searches, or while Stop was disabled, ends
  // them at the next read; what they found is still shown as a tree, which
  // reads only the records found (a second stop ends it early).
  if (Aborted() && !m_foundRecords.empty()) m_host.AbortFlag() = 0;
  const bool built = !m_foundRecords.empty() && !Aborted();
  if (built) {
    m_host.BusyFlag() = 1;
    m_nRootRange = m_foundRecords.size();
    BuildTreeFromRecords();
  } else if (!Aborted()) {
    m_host.AppendLog(kNoRecordsLine, false);
    RefuseVolume();
  }
  m_foundDirs.clear();
  m_dirByNumber.clear();
  return built;
}

std::uint16_t NtfsEngine::FindClusterSizeByScanning() {
  m_host.LogPhaseStart(LoadString(kIdsCalculatingParameters));
  const std::uint64_t count = m_nVolumeSectorCount;
  m_pScanDlg->SetStatusText(LoadString(kIdsSearchingCritical));
  m_pScanDlg->SetRange(0, static_cast<std::int64_t>(count / kPieceSectors));
  m_pScanDlg->SetStep(1);
  m_pScanDlg->EnableStop(false);
  m_host.SetCriticalPhase(true);

  // One sector more than a piece, so that a record starting in its last
  // sector is whole.
  std::vector<std::uint8_t> buffer((kPieceSectors + 1) * 512);
  ntfs::ClusterSizeTally tally;
  bool decided = false;
  for (std::uint64_t s = kFirstSearchedSector; !decided && s + kFirstSearchedSector < count; s += kPieceSectors) {
    SetSectorText(m_nVolumeFirstSector + s, m_nVolumeFirstSector + count);
    m_pScanDlg->StepIt();
    const std::uint64_t n = std::min(kPieceSectors + 1, count - s);
    ReadVolumeSectors(buffer.data(), static_cast<std::uint32_t>(n * 512), s);
    // Enough votes, or any vote once a quarter of the volume is behind.
    const bool lateEnough = s >= count / 4;
    for (std::uint64_t p = 0; p + 1 < n && p < kPieceSectors; ++p) {
      const std::span<const std::uint8_t> record(buffer.data() + p * 512, ntfs::kMftRecordSize);
      if (!ntfs::HasRecordSignature(record)) continue;
      const std::uint32_t vote = ntfs::ClusterSizeVote(record, count);
      if (vote == 0) continue;
      tally.Add(vote);
      if (tally.Votes() > 128 || lateEnough) {
        decided = true;
        break;
      }
    }
  }
  const auto result = static_cast<std::uint16_t>(tally.Decide());

  // This step cannot be stopped: it always completes.
  m_host.LogProcessEnded(false);
  m_pScanDlg->SetSectorText("");
  m_pScanDlg->EnableStop(true);
  m_host.SetCriticalPhase(false);
  return result;
}

bool NtfsEngine::FindFoundRecordSector(std::uint32_t recordNumber, std::uint64_t& sector) const {
  const auto it = m_foundByNumber.find(recordNumber);
  if (it == m_foundByNumber.end()) return false;
  sector = m_foundRecords[it->second].sector;
  return true;
}

void NtfsEngine::SearchRecords() {
  m_nAdvanceCounter = 0;
  if (m_mftRuns.empty() && m_nMftSector != 0) LoadMftRuns();
  m_visited.clear();
  m_visited.shrink_to_fit();
  m_poster.SetNextId(kFirstFoundId);
  ClearFoundRecords();

  m_host.LogPhaseStart(LoadString(kIdsSearchingMetadata));
  m_pScanDlg->SetStatusText(LoadString(kIdsSearchingMetadata));
  m_pScanDlg->SetRange(0, static_cast<std::int64_t>(m_nVolumeSectorCount));
  m_pScanDlg->SetStep(static_cast<std::int64_t>(kPieceSectors));
  m_pScanDlg->SetPos(0);
  m_pScanDlg->EnableStop(true);
  if (SearchFileRecords()) SearchVolumeForRecords();
  AdoptParentsFromExtensions();
  m_pScanDlg->SetSectorText("");
  m_pScanDlg->SetStatusText("");
  m_host.LogPhaseEnd();
}

bool NtfsEngine::SearchFileRecords() {
  const std::uint64_t spc = m_nSectorsPerCluster;
  const std::uint64_t cb = ClusterBytes();
  const std::uint64_t count = m_nVolumeSectorCount;
  std::vector<std::uint8_t> buffer(kPieceSectors * 512);
  // The first half of a record whose second half lies in the next run.
  struct Half {
    std::array<std::uint8_t, 512> bytes;
    std::uint64_t sector = 0;
    std::uint64_t position = 0;  // in the $MFT, bytes
    bool have = false;
  } pending;
  std::array<std::uint8_t, ntfs::kMftRecordSize> joined;

  for (const DataExtent& e : m_mftRuns) {
    std::uint64_t base = 0;
    if (e.sparse || e.lcn >= count || e.lcn * spc >= count || __builtin_mul_overflow(e.vcn, cb, &base)) {
      pending.have = false;
      continue;
    }
    const std::uint64_t start = e.lcn * spc;
    // Runs that reach past the volume are read only up to its end.
    const std::uint64_t sectors = std::min(std::min(e.length, count) * spc, count - start);
    for (std::uint64_t off = 0; off < sectors; off += kPieceSectors) {
      if (Aborted()) return false;
      const std::uint64_t n = std::min(kPieceSectors, sectors - off);
      m_pScanDlg->StepIt();
      SetSectorText(m_nAdvanceCounter, count);
      m_nAdvanceCounter += n;
      ReadVolumeSectors(buffer.data(), static_cast<std::uint32_t>(n * 512), start + off);
      for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t position = base + (off + i) * 512;
        const std::uint64_t sector = start + off + i;
        const std::uint8_t* at = buffer.data() + i * 512;
        if (position % ntfs::kMftRecordSize != 0) {
          if (pending.have && pending.position + 512 == position) {
            std::memcpy(joined.data(), pending.bytes.data(), 512);
            std::memcpy(joined.data() + 512, at, 512);
            StoreFoundRecord(joined, pending.sector, sector == pending.sector + 1 ? 0 : sector,
                             pending.position / ntfs::kMftRecordSize, true);
          }
          pending.have = false;
          continue;
        }
        if (i + 1 < n) {
          StoreFoundRecord({at, ntfs::kMftRecordSize}, sector, 0, position / ntfs::kMftRecordSize, true);
          ++i;
        } else {
          std::memcpy(pending.bytes.data(), at, 512);
          pending.sector = sector;
          pending.position = position;
          pending.have = true;
        }
      }
    }
  }
  return true;
}

void NtfsEngine::SearchVolumeForRecords() {
  const std::uint64_t spc = m_nSectorsPerCluster;
  const std::uint64_t count = m_nVolumeSectorCount;
  // The $MFT's own extents were searched already.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> mft;
  for (const DataExtent& e : m_mftRuns) {
    if (e.sparse || e.lcn >= count) continue;
    const std::uint64_t first = e.lcn * spc;
    if (first >= count) continue;
    mft.push_back({first, first + std::min(std::min(e.length, count) * spc, count - first)});
  }
  std::sort(mft.begin(), mft.end());
  if (mft.empty() || m_mftRuns.front().sparse || m_mftRuns.front().lcn >= count) {
    SweepForRecords(kFirstSearchedSector, count, mft);
    return;
  }
  // After the $MFT's first run to the end, then from the start up to it.
  const std::uint64_t runStart = m_mftRuns.front().lcn * spc;
  const std::uint64_t runEnd = std::min(runStart + std::min(m_mftRuns.front().length, count) * spc, count);
  if (!SweepForRecords(std::max(runEnd, kFirstSearchedSector), count, mft)) return;
  SweepForRecords(kFirstSearchedSector, runStart, mft);
}

bool NtfsEngine::SweepForRecords(std::uint64_t from, std::uint64_t to,
                                 const std::vector<std::pair<std::uint64_t, std::uint64_t>>& skip) {
  const std::uint64_t count = m_nVolumeSectorCount;
  const std::uint64_t spc = m_nSectorsPerCluster;
  to = std::min(to, count);
  std::vector<std::uint8_t> buffer((kPieceSectors + 1) * 512 + kMatcherSlack);
  FreeSpaceHitCollector* const collector = ActiveHitCollector();
  const bool offer = collector && m_host.RawSetting() == 0 && m_bFreeExtentsValid && spc != 0;
  // The end of the $MFT extent holding `sector`, or 0.
  auto insideMft = [&](std::uint64_t sector) -> std::uint64_t {
    auto it = std::upper_bound(skip.begin(), skip.end(), sector,
                               [](std::uint64_t s, const std::pair<std::uint64_t, std::uint64_t>& x) { return s < x.first; });
    if (it == skip.begin()) return 0;
    --it;
    return sector < it->second ? it->second : 0;
  };

  for (std::uint64_t s = from; s < to;) {
    if (Aborted()) return false;
    const std::uint64_t n = std::min(kPieceSectors, to - s);
    // One sector more, so that a record starting in the piece's last
    // sector is whole; never past the volume's end.
    const std::uint64_t readable = std::min(n + 1, count - s);
    m_pScanDlg->StepIt();
    SetSectorText(m_nAdvanceCounter, count);
    m_nAdvanceCounter += n;
    ReadVolumeSectors(buffer.data(), static_cast<std::uint32_t>(readable * 512), s);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(readable * 512), buffer.end(), 0);

    std::uint64_t p = 0;
    while (p < n) {
      const std::uint64_t sector = s + p;
      if (const std::uint64_t end = insideMft(sector)) {
        p = end - s;
        continue;
      }
      const std::uint8_t* at = buffer.data() + p * 512;
      if (p + 1 < readable && ntfs::HasRecordSignature({at, ntfs::kMftRecordSize})) {
        StoreFoundRecord({at, ntfs::kMftRecordSize}, sector, 0, std::nullopt, false);
        p += 2;
        continue;
      }
      if (offer && sector % spc == 0 && IsFreeCluster(sector / spc)) {
        bool skipHit = false;
        const std::uint64_t size =
            collector->Collect({at, static_cast<std::size_t>((readable - p) * 512)}, sector / spc, skipHit);
        if (skipHit && size > 512) {
          p += (size + 511) / 512;  // on at the first sector after the hit
          continue;
        }
      }
      ++p;
    }
    s += std::max(n, p);
  }
  return true;
}

bool NtfsEngine::IsFreeCluster(std::uint64_t cluster) const {
  auto it = std::upper_bound(m_freeExtents.begin(), m_freeExtents.end(), cluster,
                             [](std::uint64_t c, const FreeExtentNode& e) { return c < e.first; });
  if (it == m_freeExtents.begin()) return false;
  --it;
  return cluster - it->first < it->count;
}

void NtfsEngine::StoreFoundRecord(std::span<const std::uint8_t> bytes, std::uint64_t sector, std::uint64_t secondHalf,
                                  std::optional<std::uint64_t> placeNumber, bool insideMft) {
  if (!ntfs::HasRecordSignature(bytes)) return;
  const auto found = ntfs::ExamineFoundRecord(bytes, placeNumber);
  if (!found) return;  // damaged: nothing in it can be trusted
  if (found->numberKnown && found->recordNumber == kRootRecord) return;
  AdvanceRecordEntry e;
  e.sector = sector;
  e.secondHalf = secondHalf;
  e.parentRecord = found->parent;
  e.recordNumber = found->recordNumber;
  e.numberKnown = found->numberKnown;
  e.isFile = found->isFile;
  e.hasAttributeList = found->hasAttributeList;
  e.insideMft = insideMft;
  if (found->baseRecord != 0) {
    // An extension record holds attributes of its base record's file: it is
    // kept so that the base finds it by number, and never shown itself.
    if (!e.numberKnown || found->baseRecord > 0xFFFFFFFFu) return;
    e.baseRecord = static_cast<std::uint32_t>(found->baseRecord);
    e.done = true;
  } else if (!e.isFile) {
    if (e.parentRecord == 0) return;
    if (e.numberKnown && m_dirByNumber.count(e.recordNumber)) return;  // a stale copy of a folder already found
    e.done = !insideMft;
  } else {
    // Inside the $MFT a record without a parent is part of another file,
    // unless its names lie in its extension records: those are looked at
    // once the searches are over.
    e.done = insideMft && e.parentRecord == 0 && !e.hasAttributeList;
    // The same file in the same incarnation (the $MFTMirr's copies, stale
    // copies left elsewhere) is shown once.
    if (e.numberKnown) {
      const std::uint64_t version = (std::uint64_t{found->sequence} << 32) | e.recordNumber;
      const auto [it, added] = m_foundFileVersions.emplace(version, m_foundRecords.size());
      if (!added) {
        if (!m_foundRecords[it->second].done) return;
        it->second = m_foundRecords.size();
      }
    }
  }
  e.itemId = TakeRunningId();
  const std::size_t index = m_foundRecords.size();
  m_foundRecords.push_back(e);
  if (e.numberKnown) m_foundByNumber.emplace(e.recordNumber, index);
  if (!e.isFile && e.baseRecord == 0) {
    if (e.numberKnown) m_dirByNumber.emplace(e.recordNumber, m_foundDirs.size());
    m_foundDirs.push_back({index, false});
  }
}

void NtfsEngine::AdoptParentsFromExtensions() {
  // A file whose attributes fill several records may keep its names in its
  // extension records only: its parent is that of the name it is shown by.
  for (AdvanceRecordEntry& e : m_foundRecords) {
    if (!e.isFile || e.baseRecord != 0 || e.parentRecord != 0 || !e.hasAttributeList || !e.numberKnown) continue;
    ntfs::FileView view;
    const ntfs::FileNameInfo* name = nullptr;
    if (!Aborted() && LoadFoundFileView(e.sector, e.secondHalf, e.recordNumber, true, view))
      name = ntfs::ChooseFileName(view.names);
    if (name && name->ParentRecord() != 0) {
      e.parentRecord = name->ParentRecord();
    } else if (e.insideMft) {
      e.done = true;  // as any record of the $MFT without a parent
    }
  }
}

}  // namespace corvan
