// The scan entries of the FAT engine: a trustworthy layout from the boot
// sector or its backup, the FAT, and the tree pass; the tree pass over the
// directory clusters a lost-volume search recorded; and the search of every
// cluster for folders when the root yields nothing.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/EngineHost.h"
#include "core/Prompt.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "engines/fat/FatEngine.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBackupBootSector = 6;
// Volumes up to this size are searched one sector (a cluster's first) at a
// time; larger ones 2048 sectors a read.
constexpr std::uint64_t kSmallVolumeSectors = 3000;
constexpr std::uint32_t kSearchReadSectors = 2048;
// Items without an on-disk number count down from here in a deep scan.
constexpr std::int32_t kFirstSyntheticId = -16;

std::uint32_t EntryFirstCluster(const std::uint8_t* e) {
  return (std::uint32_t{GetLE16(e + 20)} << 16) | GetLE16(e + 26);
}

std::u16string EightDigitName(std::uint32_t cluster) {
  char text[16];
  std::snprintf(text, sizeof text, "%08lu", static_cast<unsigned long>(cluster));
  return Utf8ToUtf16(text);
}

}  // namespace

bool FatEngine::LoadBootGeometry(std::uint64_t sector) {
  std::uint8_t boot[kSectorSize] = {};
  // A failed read leaves zeros, which fail every check below.
  if (!ReadSourceOrImage(sector, boot, 1)) ReportReadFailure("sector", sector);
  FatBootInfo info;
  ParseFatBootSector(info, boot);
  SetGeometry(info);
  // The layout must be sound before anything is read or sized from it.
  return !IsBootGeometrySuspect(Layout()) && LayoutIsSound() && CheckFatSignatures() != 2;
}

FatScanResult FatEngine::ScanVolume(std::uint32_t pass) {
  m_bMarkFlag = 0;
  m_bLostFolderFlag = 0;
  m_nPass = pass;

  if (IsDeepFind()) {
    // The lost-volume search found this layout; no boot sector is read.
    if (!UseRecordedLayout()) return RefuseVolume();
    SelectFatCopy();
  } else if (LoadBootGeometry(m_nVolumeStart) || LoadBootGeometry(m_nVolumeStart + kBackupBootSector)) {
    SelectFatCopy();
  } else {
    // Neither boot sector: rebuild the layout from the volume's folders.
    if (SearchDirectoryClusters() == 0 || m_nSectorsPerCluster == 0 || m_nFatSize == 0) return RefuseVolume();
    Progress().SetStatusText("");
  }

  const std::uint64_t dataEnd = Layout().DataClusters() + 2;
  const std::uint64_t capacity = m_nFatSource == kFatSourceContiguous
                                     ? m_nSectorCount / m_nSectorsPerCluster
                                     : std::uint64_t{m_nFatSize} * FatEntriesPerSector(m_nFatKind);
  m_nHighestCluster = static_cast<std::uint32_t>(std::min(capacity, dataEnd));

  if (WalksRecordedFolders()) {
    CreateDirectoryTree();
  } else {
    BuildDirectoryTree();
  }
  Progress().SetPos(100000);
  return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
}

FatScanResult FatEngine::DeepScan(std::uint32_t pass) {
  m_nPass = pass;
  m_host.NextSyntheticId() = kFirstSyntheticId;
  m_bMarkFlag = 1;
  m_bLostFolderFlag = 0;
  const FatScanResult result = pass == 0 ? AdvanceScan() : ScanDeletedTree();
  if (result != FatScanResult::InvalidVolume) Progress().SetPos(100000);
  return result;
}

FatScanResult FatEngine::AdvanceScan() {
  if (IsDeepFind()) {
    if (!UseRecordedLayout()) return RefuseVolume();
    SelectFatCopy();
  } else if (SearchDirectoryClusters() != 0) {
    // Advance Recovery trusts the volume's folders before its boot sector.
    Progress().SetStatusText("");
    if (m_nSectorsPerCluster == 0 || m_nFatSize == 0) return RefuseVolume();
  } else if (!CheckVolumeForDeepScan()) {
    return RefuseVolume();
  }
  CreateDirectoryTree();
  return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
}

FatScanResult FatEngine::RefuseVolume() {
  // The worker stays busy until it has ended; only the message is shown here.
  m_host.GetPrompt().MessageBoxId(kIdsInvalidVolume, kPicError, kMbOk);
  return FatScanResult::InvalidVolume;
}

bool FatEngine::UseRecordedLayout() {
  m_nSectorsPerCluster = m_recordedLayout.sectorsPerCluster;
  m_nFatSize = m_recordedLayout.fatSize;
  m_nReservedSectors = m_recordedLayout.reservedSectors;
  m_nRootDirSectors = m_recordedLayout.rootDirSectors;
  m_nRootCluster = m_recordedLayout.rootCluster;
  // Files are taken as contiguous runs until a signed FAT copy is found.
  m_nFatSource = kFatSourceContiguous;
  return LayoutIsSound();
}

void FatEngine::CreateDirectoryTree() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  BuildClusterMap();
  if (WalksRecordedFolders()) {
    WalkRecordedDirClusters();
  } else {
    RunFolderSearch();
  }
  m_host.LogPhaseEnd();
}

FatEngine::FolderClusterTest FatEngine::TestFolderCluster(std::uint32_t cluster, const std::uint8_t* sector,
                                                          bool fromSearch) {
  const std::uint8_t* dot = sector;
  const std::uint8_t* dotDot = sector + 32;
  if (std::memcmp(dot, ".       ", 8) != 0) return FolderClusterTest::NotAFolder;
  if (EntryFirstCluster(dot) != cluster) return FolderClusterTest::NamesOtherCluster;
  if (std::memcmp(dotDot, "..      ", 8) != 0) return FolderClusterTest::NotAFolder;

  const std::uint32_t parent = EntryFirstCluster(dotDot);
  const bool withFat = m_nFatSource != kFatSourceContiguous && !m_fat.empty();
  std::uint32_t fatState = 0;
  if (withFat) {
    const auto entry = FatEntry(cluster);
    if (!entry) return FolderClusterTest::BeyondFat;
    fatState = *entry;
  }
  const bool known = FindPair(cluster) || FindDeferredPair(cluster);
  if (parent != 0) {
    if (!known) m_pendingFolders.push_back({cluster, parent});
    return FolderClusterTest::Taken;
  }
  // The folder search never lists a folder twice; with a FAT it applies
  // that to the root's children too.
  if (fromSearch && withFat && known) return FolderClusterTest::Taken;

  FoundItemInfo record;
  record.location = cluster;
  record.itemId = m_poster.TakeId();
  record.attribute = kItemFolder;
  record.parentId = kFatRootId;
  const bool deleted = fatState == 0;
  if (deleted) record.flags = kItemDeleted;
  PostNamedByCluster(record, EightDigitName(cluster));
  AddFoundFolder(cluster, record.itemId);
  MarkItemClusters(cluster, nullptr, false);
  WalkFolderChain(record.itemId, cluster, deleted, 0);
  return FolderClusterTest::Taken;
}

void FatEngine::WalkRecordedDirClusters() {
  std::vector<std::uint8_t> buffer(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  for (const std::uint32_t cluster : m_recordedDirClusters) {
    ReadClusters(cluster, 0, buffer.data(), m_nSectorsPerCluster);
    const FolderClusterTest verdict = TestFolderCluster(cluster, buffer.data(), false);
    if (verdict == FolderClusterTest::BeyondFat) break;
    if (verdict != FolderClusterTest::NamesOtherCluster) Progress().StepIt();
  }

  if (m_poster.Opened() || !m_pendingFolders.empty()) {
    ResolvePendingFolders();
    if (m_poster.Opened() && !Aborted()) {
      RecoverOrphanFolders();
      ApplyFolderNames();
    }
    if (!Aborted()) PostCarvedItems();
  }
  EndCarving();
  m_folderNames.clear();
}

void FatEngine::EndCarving() {
  // The selected types serve the orphan pass's carving: they go only once
  // its files are posted.
  m_carvedItems.clear();
  m_carvedTally = {};
  m_rawFolders.Clear();
  m_host.SelectedTypeList().clear();
}

void FatEngine::ResolvePendingFolders() {
  if (!Aborted()) AddDeferredFolders(0);
  if (!Aborted()) {
    m_visitedFolders.clear();
    AddLostFolders();
  }
  if (!Aborted()) AddDeferredFolders(0);
  m_visitedFolders.clear();
  m_pendingFolders.clear();
}

void FatEngine::RunFolderSearch() {
  if (!Aborted() && m_bMarkFlag && m_nFatSource != kFatSourceContiguous) WalkLiveTreeMarked();
  if (!Aborted()) ScanClustersForFolders();
  ResolvePendingFolders();
  if (m_poster.Opened() && !Aborted()) {
    RecoverOrphanFolders();
    ApplyFolderNames();
  }
  if (!Aborted()) PostCarvedItems();
  EndCarving();
  m_folderNames.clear();
  m_sweptClusters.clear();
  m_entryClusters.clear();
}

void FatEngine::WalkLiveTreeMarked() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  WalkRoot();
  const bool anyDeferred = std::any_of(m_visitedFolders.begin(), m_visitedFolders.end(),
                                       [](const VisitedFolderNode& n) { return !n.removed; });
  if ((m_poster.Opened() || anyDeferred) && !Aborted()) {
    AddDeferredFolders(1);
    m_visitedFolders.clear();
  }
  m_host.LogPhaseEnd();
}

void FatEngine::ScanClustersForFolders() {
  const FatLayout layout = Layout();
  if (layout.DataClusters() == 0) return;
  const std::uint64_t end = layout.DataClusters() + 2;
  const bool small = m_nSectorCount <= kSmallVolumeSectors;
  const std::uint32_t perRead = small ? 1 : kSearchReadSectors / m_nSectorsPerCluster;
  const std::uint16_t readSectors = small ? 1 : static_cast<std::uint16_t>(kSearchReadSectors);
  const std::size_t clusterBytes = std::size_t{m_nSectorsPerCluster} * kSectorSize;

  if (m_nFatSource == kFatSourceContiguous) {
    m_poster.ResetCounters();
    m_poster.SetNextId(2);
  }
  ProgressSink& progress = Progress();
  progress.SetSecondRange(0, static_cast<std::int64_t>(end / perRead));
  std::int64_t step = 0;
  std::vector<std::uint8_t> buffer(std::size_t{readSectors} * kSectorSize);
  // The orphan passes after this one learn from the same reads which
  // clusters they need not read again.
  m_sweptClusters.assign(small ? 0 : static_cast<std::size_t>(end), false);
  m_entryClusters.assign(small ? 0 : static_cast<std::size_t>(end), false);
  const std::string of = " " + LoadString(kIdsOf) + " ";
  for (std::uint64_t c = 2; c < end; c += perRead) {
    progress.SetSecondPos(++step);
    if (Aborted()) break;
    progress.SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + of + std::to_string(end));
    Console().UpdateStatusText(0);
    if (ReadClusters(c, 0, buffer.data(), readSectors) && !small)
      NoteSweptClusters(static_cast<std::uint32_t>(c), perRead, buffer);
    for (std::uint32_t k = 0; k < perRead && c + k < end; ++k) {
      const std::uint8_t* first = buffer.data() + (small ? 0 : k * clusterBytes);
      const auto verdict = TestFolderCluster(static_cast<std::uint32_t>(c + k), first, true);
      if (verdict == FolderClusterTest::BeyondFat) break;
    }
  }
}

}  // namespace corvan
