#pragma once
// The FAT12/16/32 recovery engine: where the volume lies on the mounted
// source, its layout, the trusted copy of the FAT, the cluster map, the work
// lists of the directory passes and the counters shown while they run. It
// reports to the results window through a found-item sink and to the scan
// dialog through a progress sink. One thread at a time drives a scan; after
// it, previews and savers only read the engine (the data path is const).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/ScanEngine.h"
#include "core/FoundItemInfo.h"
#include "core/Carver.h"
#include "core/FoundItemPoster.h"
#include "core/FoundItemSink.h"
#include "core/RunWalker.h"
#include "engines/fat/FatLayout.h"
#include "engines/fat/FatSavedScan.h"
#include "engines/fat/FatShortName.h"
#include "engines/fat/FatVote.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

class EngineHost;
class FoundItemSink;
class ProgressSink;
struct FatBootInfo;

// Cluster-map bytes.
inline constexpr std::uint8_t kClusterFree = 0;
inline constexpr std::uint8_t kClusterAllocated = 1;
inline constexpr std::uint8_t kClusterFound = 2;

// Results of ValidateDirEntry.
inline constexpr std::uint8_t kDirEntryInvalid = 0;
inline constexpr std::uint8_t kDirEntryValid = 1;
inline constexpr std::uint8_t kDirEntrySkip = 2;

// "No previous cluster" for the walkers and the decoder.
inline constexpr std::uint32_t kNoCluster = 0xFFFFFFFFu;

// Item id of the "Lost folder(s)" folder.
inline constexpr std::uint32_t kFatLostFolderId = 1;

// How a scan entry ended, for the scan thread's report.
enum class FatScanResult {
  Completed,
  Aborted,
  InvalidVolume,  // message 305 was shown; nothing was listed
  NotAvailable,   // the mode is not built for FAT volumes yet; a message was shown
};

// A folder already listed (found-folder list: value = its item id) or a
// folder waiting for its parent (pending list: value = the parent's cluster
// from its ".." entry).
struct FolderClusterNode {
  std::uint64_t cluster = 0;
  std::uint32_t value = 0;
};

// A deleted folder put aside by a walk, handled after it.
struct VisitedFolderNode {
  std::uint64_t cluster = 0;
  std::uint64_t parent = 0;              // item id of the folder holding the entry
  std::uint32_t entryOffset = 0;         // of the entry in its cluster or root region
  std::uint32_t entryCluster = 0;        // 0: the FAT12/16 root region
  std::uint32_t previousCluster = kNoCluster;
  std::uint32_t itemId = 0;
  std::uint8_t placed = 0;
  bool removed = false;  // taken off the list while the list is being walked
};

// An on-disk folder name met where the folder itself is listed elsewhere
// under a made-up name ("%08lu", "Folder %ld", "$Root%d"): the folder with
// this first cluster takes the name when the names are applied.
struct FolderNameNode {
  std::uint64_t cluster = 0;
  std::u16string name;
  bool applied = false;
};

// A live short entry of a file that holds no data: no first cluster and
// size 0. Such a file is real where its folder is, but the same bytes are
// also what junk and wiped entries look like, so only walks that reached
// the folder through its parent (or the root) list it.
inline bool IsLiveEmptyFileEntry(const std::uint8_t* e) {
  const std::uint8_t attr = e[11];
  if (e[0] == 0 || e[0] == 0xE5 || e[0] == '.' || attr == 0x0F || (attr & 0x18) != 0) return false;
  return (e[20] | e[21] | e[26] | e[27]) == 0 && (e[28] | e[29] | e[30] | e[31]) == 0;
}

// Every folder reaches the results window as 0x10 and every file as 0x20,
// whatever else the entry's attribute byte says (hidden, system, read-only,
// no archive bit), so the window files each under the right heading.
inline void NormaliseItemAttribute(FoundItemInfo& record) {
  record.attribute = (record.attribute & kItemFolder) ? kItemFolder : kItemFile;
}

class FatEngine final : public ScanEngine {
 public:
  explicit FatEngine(EngineHost& host);
  ~FatEngine() override;
  FatEngine(const FatEngine&) = delete;
  FatEngine& operator=(const FatEngine&) = delete;
  // This engine behind `engine`, or null when `engine` is another kind: the
  // only place a ScanEngine is turned back into this class.
  static FatEngine* Of(ScanEngine* engine) { return dynamic_cast<FatEngine*>(engine); }
  static const FatEngine* Of(const ScanEngine* engine) { return dynamic_cast<const FatEngine*>(engine); }

  // ---- ScanEngine ----
  std::uint32_t FoundItemCount() const override { return m_poster.Entries(); }
  std::uint64_t FoundBytes() const override { return m_poster.Bytes(); }
  FoundItemPoster* Poster() override { return &m_poster; }
  void FreeLists() override;
  std::uint32_t ClusterBytes() const override { return std::uint32_t{m_nSectorsPerCluster} * 512u; }
  WalkResult ReadItemData(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                          std::uint64_t end = std::numeric_limits<std::uint64_t>::max()) override {
    return WalkFileData(ItemDataLayout(item), DataClusterReader(), sink, begin, end);
  }

  // The results window and the scan dialog (either may be null).
  void AttachWindows(FoundItemSink* console, ProgressSink* scanDialog);

  // ---- volume access ----
  // Binds the engine to a volume; sources that stand for a whole disk leave
  // the layout as it is.
  void Prepare(const Volume& volume);
  void SetGeometry(const FatBootInfo& info);
  FatLayout Layout() const;
  std::uint8_t SectorsPerCluster() const { return m_nSectorsPerCluster; }
  // Absolute sectors of the disk: where the volume starts, its length.
  std::uint64_t VolumeStart() const { return m_nVolumeStart; }
  std::uint64_t SectorCount() const { return m_nSectorCount; }
  std::uint64_t VolumeEnd() const { return m_nVolumeEnd; }
  // Reads by absolute sector of the disk (a sector-wise search), and lists
  // its carved items by absolute sector too.
  bool AbsoluteSectors() const { return m_bAbsoluteSectors != 0; }
  bool SectorItems() const { return m_bSectorItems; }
  bool LayoutIsSound() const { return IsFatLayoutSound(Layout()); }
  // `sectorCount` sectors from `sectorOffset` sectors into `cluster`. False
  // (and zeros where nothing was read) for a cluster below 2, a range that
  // leaves the volume, or a failed read.
  bool ReadClusters(std::uint64_t cluster, std::uint16_t sectorOffset, std::uint8_t* buffer,
                    std::uint16_t sectorCount) const;
  // Absolute sectors of the volume's disk; false (zeros where nothing was
  // read) for a failed or short read.
  bool ReadSourceOrImage(std::uint64_t sector, std::uint8_t* buffer, std::uint32_t sectorCount) const;

  // A volume the deep lost-volume search rebuilt, on the disk or in an
  // image file: its layout is the one the search recorded.
  bool IsDeepFind() const {
    return m_nSourceKind == kSourceDeepLostVolume || m_nSourceKind == kSourceImageDeepLostVolume;
  }
  // A deep find's tree is built from the folders the search found, unless
  // the search rebuilt the layout whole from the FAT copies (it then
  // recorded the root cluster): that tree is walked from its root, as a
  // volume's with a boot sector is.
  bool WalksRecordedFolders() const { return IsDeepFind() && m_recordedLayout.rootCluster == 0; }

  // ---- FAT table and cluster map ----
  std::uint8_t CheckFatSignatures() const;
  void SelectFatCopy();
  bool CompareFatCopies(std::vector<std::uint8_t>& a, std::vector<std::uint8_t>& b,
                        std::uint32_t& firstDiff);
  std::uint32_t VerifyFatCopy(std::uint32_t firstSector, std::uint8_t copy);
  bool LoadFatTable();
  // Links files through `source` (kFatSource*) from now on: a source other
  // than the one in use is set and the FAT loaded again, reporting only to
  // the windows the host has open now (those the engine was given may be
  // gone). False, and nothing changed, for the source in use or no source.
  bool ChangeFatSource(std::uint8_t source);
  std::uint8_t FatSource() const { return m_nFatSource; }
  // The FAT as loaded, and one cluster-map byte per cluster 0 .. HighestCluster().
  const std::vector<std::uint8_t>& Fat() const { return m_fat; }
  const std::vector<std::uint8_t>& ClusterMap() const { return m_clusterMap; }
  std::uint32_t HighestCluster() const { return m_nHighestCluster; }
  void BuildClusterMap();
  std::vector<std::uint8_t> MarkAllocatedClusters();
  // The loaded FAT's entry for `cluster` (FAT32 masked to 28 bits); nothing
  // when the entry does not lie wholly inside the loaded FAT.
  std::optional<std::uint32_t> FatEntry(std::uint32_t cluster) const;
  // Clusters 2 .. LastDataCluster() hold data.
  std::uint32_t LastDataCluster() const;

  // ---- cluster chains ----
  std::vector<std::uint32_t> GetClusterChain(std::uint32_t firstCluster, std::uint64_t size,
                                             bool deleted) const;
  std::vector<std::uint32_t> FollowFatChain(std::uint32_t firstCluster) const;

  // ---- directory entries ----
  std::uint8_t ValidateDirEntry(const std::uint8_t* entry, std::uint32_t highestCluster,
                                std::uint32_t* foundCluster) const;
  std::uint8_t ValidateDirEntryStrict(const std::uint8_t* entry, std::uint32_t highestCluster) const;
  // `listEmptyFile`: a live entry of an empty file in a live folder is an
  // item (first cluster 0); otherwise an entry below cluster 2 is not.
  bool DecodeDirEntry(std::uint32_t offset, std::u16string& name, std::span<const std::uint8_t> buffer,
                      FoundItemInfo& record, std::uint32_t previousCluster, std::uint32_t clusterHint,
                      bool strict, bool listEmptyFile = false);

  // ---- folder walks ----
  // `throughParent`: the folder was reached through its entry in its
  // parent, so its empty files are listed too.
  void WalkFolderChain(std::uint32_t parentId, std::uint32_t firstCluster, bool deleted,
                       std::uint8_t walkFlag, bool throughParent = false);
  void WalkFolderFromValidSector(std::uint32_t parentId, std::uint32_t cluster, std::uint8_t walkFlag);
  void AddDeferredFolders(std::uint8_t walkFlag);
  void AddLostFolders();
  void AddFoundFolder(std::uint64_t cluster, std::uint32_t itemId);
  std::optional<std::uint32_t> FoundFolderId(std::uint64_t cluster) const;
  bool FindPair(std::uint64_t cluster) const;
  bool FindDeferredPair(std::uint64_t cluster) const;
  bool RemovePair(std::uint64_t cluster);
  bool RemovePendingFolder(std::uint64_t cluster);
  void MarkItemClusters(std::uint32_t firstCluster, const FoundItemInfo* record, bool firstOnly);
  void MarkClusterFound(std::uint64_t cluster);

  // ---- layout rebuild by vote ----
  // Collects folder-start sectors, votes on the layout and loads the FAT:
  // the cluster size found, 1 for the diskette layout, 0 when nothing was
  // found or the voted layout is not one anything may be read from.
  std::uint32_t SearchDirectoryClusters();
  // The layout from the FAT copies in front of the data area the folders
  // agree on (see FatRebuild.h); false, and nothing changed, when none fits.
  bool RebuildLayoutFromVolume();
  std::uint32_t VoteLayout();
  std::uint8_t EstimateClusterSizes();

  // ---- scan entries ----
  FatScanResult ScanVolume(std::uint32_t pass);
  FatScanResult DeepScan(std::uint32_t pass);
  FatScanResult AdvanceScan();
  void CreateDirectoryTree();
  void WalkRecordedDirClusters();
  void RunFolderSearch();
  void ScanClustersForFolders();

  // ---- Raw Recovery ----
  // Carves the selected file types out of the volume's free clusters; a
  // volume without a usable boot sector or FAT is searched sector by sector.
  FatScanResult RawScan();
  // The region a sector-wise search covers: absolute sectors of the disk.
  void SetVolumeRange(const Volume& volume, std::uint64_t firstSector, std::uint64_t lastSector);
  FatScanResult RawScanRegion();
  void ScanRegionSectors();
  void CarveFreeClusters();
  // Files one carved hit under its type folder.
  void AddRawItem(const CarveHit& hit, std::uint64_t position);
  // The orphan pass's carving of a free cluster that is no folder; `skipTo`
  // moves past a file carved to the next signature.
  void CarveOrphanCluster(std::uint32_t cluster, const std::uint8_t* data, std::uint32_t highest,
                          std::uint32_t& skipTo);
  // Files the folder passes carved, under "Raw Data Folder(s)".
  void PostCarvedItems();

  // ---- deleted-tree reconstruction ----
  FatScanResult ScanDeletedTree();
  bool CheckVolumeForDeepScan();
  void RunDeletedRootPass();
  void WalkDeferredFolders();
  void BuildLostTrees();
  bool AddLostFolderEntries(std::span<const std::uint8_t> folder, FoundItemInfo& record);

  // ---- orphaned folders ----
  void RecoverOrphanFolders();
  void AddRootDirFiles();
  void ScanOrphanRootClusters();
  void ListRootCluster(std::uint32_t cluster, bool deleted);
  bool ListOrphanCluster(std::uint32_t cluster, std::span<const std::uint8_t> data, std::uint32_t highest,
                         bool broken, bool deleted);
  // The entry check of ListOrphanCluster; without `checkFolders` it never
  // turns down an entry that the full check lets through.
  std::uint8_t OrphanEntryVerdict(const std::uint8_t* entry, std::uint32_t highest, bool checkFolders) const;
  // Notes what the folder search read of clusters [first, first + count)
  // (`data`, whole clusters) for the orphan passes after it: a cluster whose
  // entries ListOrphanCluster would turn down need not be read again.
  void NoteSweptClusters(std::uint32_t first, std::uint32_t count, std::span<const std::uint8_t> data);
  // True when the folder search read `cluster` and ListOrphanCluster would
  // turn it down, whatever the passes between have done.
  bool SweptWithoutEntries(std::uint32_t cluster) const;
  void ScanBrokenClusters();
  bool IsOrphanDirCandidate(std::uint32_t cluster);
  void AddFolderNameNode(std::u16string_view name, std::uint64_t cluster);
  void ApplyFolderNames();

  // ---- hand-over to the results window ----
  void OpenResultsTree();
  // `entriesText`: the counter shows "Entries Found" after the number.
  FoundItemHandle SendFoundItem(const FoundItemInfo& record, std::u16string_view name, bool entriesText = true);
  void QueueItem(const FoundItemInfo& record, std::u16string_view name);
  void DropLastQueuedItem();
  void FlushPendingItems();

  // ---- directory walkers ----
  void BuildDirectoryTree();
  void WalkFat16Root();
  void WalkFat32Root(std::uint32_t rootCluster);
  // Entries from `startOffset` on; offsets stay relative to the cluster.
  // `folder` gives every entry its parent id and whether the folder itself
  // is deleted. `listEmptyFiles` as DecodeDirEntry's `listEmptyFile`.
  bool WalkDirectoryCluster(std::span<const std::uint8_t> cluster, const FoundItemInfo& folder,
                            std::uint32_t previousCluster, std::uint32_t thisCluster,
                            std::uint8_t walkFlag, std::uint32_t startOffset = 0, bool listEmptyFiles = false);

  // ---- a found file's data ----
  // The clusters of a found file: its FAT chain, or a contiguous run from its
  // first cluster when it is deleted or carved or the engine has no FAT.
  std::vector<std::uint32_t> ItemClusters(const FoundItemInfo& item) const;
  // The item as the run walker reads it: its clusters as extents of the
  // volume's clusters, and its size cut to what they hold.
  FileDataLayout ItemDataLayout(const FoundItemInfo& item) const;
  // Reads volume clusters for the run walker (false and zeros for clusters
  // outside the data area or a failed read).
  ClusterReader DataClusterReader() const;
  // Hands the item's data to `sink` in file order. `chainCoversSize` tells
  // whether its clusters reach its size; where they do not, the walk ends
  // with the last of them.
  WalkResult WalkItemData(const FoundItemInfo& item, const BlockSink& sink,
                          bool* chainCoversSize = nullptr) const;

  // ---- a saved scan (FatSavedScan.cpp) ----
  FatSavedScan SavedScan() const;
  // A fresh engine bound to `volume`'s disk with the saved place, layout
  // and tables: ready to read every saved item.
  void RestoreSavedScan(const FatSavedScan& saved, const Volume& volume);

 private:
  // ---- engine state ----
  EngineHost& m_host;
  FoundItemSink* m_pConsole = nullptr;
  ProgressSink* m_pScanDlg = nullptr;

  // volume
  std::uint8_t m_nSourceKind = 0;
  std::uint64_t m_nVolumeStart = 0;
  std::uint64_t m_nVolumeEnd = 0;
  std::uint64_t m_nSectorCount = 0;
  Volume m_volume;
  std::uint32_t m_bAbsoluteSectors = 0;
  // The partition record's drive byte: 0 or 1 (a diskette drive) selects
  // the diskette layout when the layout is rebuilt.
  std::uint8_t m_nMediaByte = 0;
  // Geometry a found-volume record brought (source kind 3).
  FatLayout m_recordedLayout;
  std::vector<std::uint32_t> m_recordedDirClusters;

  // layout
  std::uint8_t m_nSectorsPerCluster = 0;
  std::uint8_t m_nFatKind = 0;
  std::uint32_t m_nReservedSectors = 0;
  std::uint32_t m_nRootDirSectors = 0;
  std::uint32_t m_nFatSize = 0;
  std::uint32_t m_nRootCluster = 0;
  OemCodePage m_nOemCodePage = OemCodePage::Cp437;

  // FAT and cluster map
  std::uint8_t m_nFatSource = kFatSourceFat1;
  std::vector<std::uint8_t> m_fat;
  std::vector<std::uint8_t> m_clusterMap;  // one byte per cluster 0 .. m_nHighestCluster
  std::uint32_t m_nHighestCluster = 0;
  // What the folder search's read of every cluster told the orphan passes
  // that follow it, so they read again only what may hold entries: the
  // clusters it read whole, and those among them that may.
  std::vector<bool> m_sweptClusters;
  std::vector<bool> m_entryClusters;

  // passes
  std::uint8_t m_bMarkFlag = 0;
  std::uint32_t m_bLostFolderFlag = 0;
  std::uint32_t m_nPass = 0;
  std::uint32_t m_nFolderDepth = 0;
  std::vector<FolderClusterNode> m_foundFolders;
  std::unordered_map<std::uint64_t, std::uint32_t> m_foundFolderIndex;  // cluster -> first item id
  std::vector<VisitedFolderNode> m_visitedFolders;
  std::vector<FolderClusterNode> m_pendingFolders;
  // Folder-start sectors the layout rebuild collected.
  std::vector<DirectoryClusterRecord> m_directoryRecords;
  std::vector<FolderNameNode> m_folderNames;
  // Folders listed under a made-up name, by first cluster.
  std::unordered_map<std::uint64_t, FoundItemHandle> m_namedByCluster;
  // First clusters of the files listed directly under the root.
  std::unordered_set<std::uint64_t> m_rootFileClusters;

  // the hand-over, with its counters and the folders waiting to be sent
  FoundItemPoster m_poster{kFatRootId};

  // Raw Recovery
  struct CarvedItemNode {
    std::u16string typeName;
    std::uint64_t cluster = 0;
    std::uint64_t size = 0;
  };
  std::vector<CarvedItemNode> m_carvedItems;
  CarveTally m_carvedTally;  // what the carved items add up to
  RawTypeFolders m_rawFolders{2500};
  // Carved items are placed by absolute sector (a sector-wise search).
  bool m_bSectorItems = false;


  ProgressSink& Progress() const;
  FoundItemSink& Console() const;
  bool Aborted() const;
  void SetCritical(bool on);
  bool HasDotEntries(std::uint32_t cluster) const;
  // `checkFolders`: a folder entry's folder must begin with its dot
  // entries (a read of the disk); without it the verdict is never stricter.
  std::uint8_t ClassifyDirEntry(const std::uint8_t* entry, std::uint32_t highestCluster, bool strict,
                                std::uint32_t* foundCluster, bool checkFolders = true) const;
  bool ReadRootRegion(std::vector<std::uint8_t>& region) const;
  // Every entry of the fixed FAT12/16 root that the entry check calls valid
  // and that decodes, in order, until an entry with first byte 0 or Stop;
  // with `listEmptyFiles`, live empty files too.
  void ForEachRootEntry(
      const std::function<void(const FoundItemInfo& record, const std::u16string& name, std::uint32_t at)>& visit,
      bool listEmptyFiles);
  // Puts a deleted folder aside for the walk after the tree.
  void DeferFolder(const FoundItemInfo& record, std::uint32_t entryOffset, std::uint32_t entryCluster,
                   std::uint32_t previousCluster, std::uint32_t itemId);
  // Opens the results tree before the first item, then sends the item.
  FoundItemHandle Post(const FoundItemInfo& record, std::u16string_view name, bool entriesText = true);
  // Sends a folder listed under a made-up name, so that its on-disk name
  // can be applied later.
  void PostNamedByCluster(const FoundItemInfo& record, std::u16string_view name);
  // The boot sector at `sector` (or its backup) as the engine's geometry;
  // true when it passes every check and a FAT copy is signed.
  bool LoadBootGeometry(std::uint64_t sector);
  // The layout a lost-volume search recorded (source kind 3), with no FAT
  // trusted yet; false when it is not sound.
  bool UseRecordedLayout();
  // Message 305; the volume is not scanned.
  FatScanResult RefuseVolume();
  void ReportReadFailure(const char* what, std::uint64_t number);
  // The deleted-file pass's handling of one decoded entry.
  void HandleDeletedPassEntry(const FoundItemInfo& record, const std::u16string& name, std::uint32_t entryOffset,
                              std::uint32_t entryCluster, std::uint32_t previousCluster);
  void PlaceLostFolder(VisitedFolderNode& node, std::uint32_t parentId, bool mark, std::vector<std::uint8_t>& buffer);
  // What a walker does with one decoded entry in the quick pass.
  void HandleEntry(const FoundItemInfo& record, const std::u16string& name, std::uint32_t entryOffset,
                   std::uint32_t entryCluster, std::uint32_t previousCluster, bool fromRoot,
                   bool walkedDeleted, std::uint8_t walkFlag);
  bool AssembleLongName(std::uint32_t offset, std::span<const std::uint8_t> buffer,
                        std::uint32_t previousCluster, bool checkSum, std::u16string& name) const;
  std::uint64_t ProbeFirstCluster(const std::uint8_t* entry, std::uint32_t clusterHint,
                                  const std::function<bool(const std::uint8_t*)>& accept) const;
  enum class FolderClusterTest { NotAFolder, NamesOtherCluster, Taken, BeyondFat };
  FolderClusterTest TestFolderCluster(std::uint32_t cluster, const std::uint8_t* sector, bool fromSearch);
  void WalkLiveTreeMarked();
  void WalkRoot();
  // The deferred deleted folders, then the folders still waiting for their
  // parent under "Lost folder(s)"; empties the work lists.
  void ResolvePendingFolders();
  std::uint32_t TakeSyntheticId();
  // Frees the carved files, the type folders and the selected types.
  void EndCarving();
  // The type folder a carved file of `typeName` goes into, posted under
  // `parentId` when new.
  std::uint32_t RawTypeFolder(std::u16string_view typeName, std::uint32_t parentId, std::int64_t progressRange);
};

}  // namespace corvan
