#pragma once
// The exFAT recovery engine: where the volume lies on the mounted source and
// its layout, the two work files (a copy of the FAT and a map of the
// allocated clusters), the folder lists of the directory passes and the
// counters shown while they run. It reports to the results window through a
// found-item sink and to the scan dialog through a progress sink. One thread
// drives a scan; afterwards previews and savers only read the engine (the
// data path is const and the work files lock their own reads).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Carver.h"
#include "core/ScanEngine.h"
#include "core/FoundItemInfo.h"
#include "core/FoundItemPoster.h"
#include "core/RunWalker.h"
#include "engines/exfat/ExFatFormat.h"
#include "engines/exfat/ExFatSavedScan.h"
#include "engines/exfat/ExFatWorkFile.h"
#include "sources/Volume.h"

namespace corvan {

class EngineHost;
class FoundItemSink;
class ProgressSink;

// Byte 61 of an exFAT record, bit 1: the data follows the FAT chain.
inline constexpr std::uint8_t kExFatItemFatChain = 0x02;

// Item id of the "Lost folder(s)" folder; its record's first cluster is 1.
inline constexpr std::uint32_t kExFatLostFolderId = 1;

// How a scan entry ended, for the scan worker.
enum class ExFatScanResult {
  Completed,
  Aborted,
  InvalidVolume,   // message 305 was shown; nothing was listed
  WorkFileFailed,  // a work file could not be made; the user was told
};

// A deleted folder put aside by a walk, or a candidate lost folder of a
// cluster search (entry cluster 0).
struct ExFatDeletedFolder {
  std::uint64_t cluster = 0;
  std::uint32_t parentId = 0;
  std::uint32_t itemId = 0;
  std::uint32_t entryOffset = 0;   // of the file entry in its directory cluster
  std::uint32_t entryCluster = 0;  // the directory cluster holding the entry
  std::uint64_t size = 0;          // the folder's ValidDataLength
  bool fatChain = false;
  bool removed = false;  // taken off the list while the list is being walked
  // A candidate whose last entry is in use: its folder may go on in the next
  // cluster (a folder's entries end at its first unused one).
  bool full = false;
  // A candidate that begins inside a set (with a stream extension or a file
  // name entry): not the first cluster of its folder.
  bool continues = false;
  // The folder's own entry set as the walk met it (a set may cross into the
  // next cluster, so it is kept rather than parsed again from its cluster).
  FoundItemInfo record;
  std::u16string name;
};

class ExFatEngine final : public ScanEngine {
 public:
  explicit ExFatEngine(EngineHost& host);
  ~ExFatEngine() override;
  ExFatEngine(const ExFatEngine&) = delete;
  ExFatEngine& operator=(const ExFatEngine&) = delete;
  // This engine behind `engine`, or null when `engine` is another kind: the
  // only place a ScanEngine is turned back into this class.
  static ExFatEngine* Of(ScanEngine* engine) { return dynamic_cast<ExFatEngine*>(engine); }
  static const ExFatEngine* Of(const ScanEngine* engine) { return dynamic_cast<const ExFatEngine*>(engine); }

  // ---- ScanEngine ----
  std::uint32_t FoundItemCount() const override { return m_poster.Entries(); }
  std::uint64_t FoundBytes() const override { return m_poster.Bytes(); }
  FoundItemPoster* Poster() override { return &m_poster; }
  // Releases the folder lists and the queue, closes and deletes the work
  // files and the image file. Layout and counters stay.
  void FreeLists() override;
  WalkResult ReadItemData(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                          std::uint64_t end = std::numeric_limits<std::uint64_t>::max()) override {
    return ReadFoundItem(item, sink, begin, end);
  }

  // The results window and the scan dialog (either may be null); the
  // application object's by default.
  void AttachWindows(FoundItemSink* console, ProgressSink* scanDialog);

  // ---- volume access ----
  // Binds the engine to a source record: kind 7 is a whole image file read
  // from its first sector; kinds 0, 4, 5, 6, 8 and 9 carry no volume and
  // leave the layout as it is.
  void Prepare(const Volume& volume);
  // Fills the layout from one boot sector; false when VolumeLength or
  // ClusterCount is 0.
  bool ParseBootSector(std::span<const std::uint8_t, 512> sector);
  // Reads and checks the boot sector (the backup at +12 when the main one is
  // unusable), shows message 305 when neither is, then checks and copies the
  // FAT. False when the pass cannot go on.
  bool ValidateBootSector();
  // First sector of the cluster heap, relative to the volume.
  std::uint64_t GetDataAreaStart() const { return m_nHeapStart; }
  // `sectorCount` sectors from sector `sectorOffset` of `cluster` on. False
  // (zeros where nothing was read) for a cluster outside the heap, a range
  // that leaves the volume or a failed read.
  bool ReadClusters(std::uint32_t sectorCount, std::uint32_t cluster, std::uint32_t sectorOffset,
                    std::uint8_t* buffer) const;
  // Absolute sectors of the volume's disk; false (zeros where nothing was
  // read) for a failed or short read.
  bool ReadSourceOrImage(std::uint64_t sector, std::uint32_t count, std::uint8_t* buffer) const;

  // ---- work files ----
  bool CheckFat();
  std::uint32_t VerifyFat();
  bool CopyFatToFile();
  bool BuildClusterMap();
  void MarkClustersUsed(const FoundItemInfo& record);
  // The map byte of `cluster`; false when the map has none for it.
  bool ClusterMapByte(std::uint32_t cluster, std::uint8_t& value) const;
  // The folder the work files of this engine live in.
  const std::filesystem::path& WorkFolder() const { return m_workFolder; }

  // ---- directory walks ----
  void BuildLiveTree();
  void WalkDirectory(std::uint32_t rootCluster);
  // Walks one folder whose item id is `parentId`: its FAT chain, or its
  // clusters from the first as far as `size` reaches when it is contiguous,
  // or its first cluster only inside a deleted folder.
  void WalkSubdirectory(bool contiguous, std::uint32_t parentId, std::uint32_t firstCluster, bool insideDeleted,
                        std::uint64_t size = 0);
  void AddDeletedItems();
  void WalkDeletedFolders();
  // Folders already walked, or sent as lost folders, by first cluster.
  bool IsWalkedFolder(std::uint64_t cluster) const { return m_walkedFolders.count(cluster) != 0; }
  bool IsKnownDeletedFolder(std::uint64_t cluster) const;
  bool RemoveDeletedFolder(std::uint64_t cluster);
  void QueuePendingItem(const FoundItemInfo& record, std::u16string_view name);
  void DropLastPendingItem();
  void FlushPendingItems();

  // ---- scan passes ----
  ExFatScanResult ScanVolume(std::uint32_t pass);
  // Pass 0: Advance Recovery's search of every cluster for folders. Pass 1:
  // Deleted Recovery without a quick volume search (the deleted tree, then
  // the lost folders), marking the clusters of what it lists. Each pass
  // refuses (message 305) a volume whose boot sectors are unusable, whose
  // FAT or heap begins past the disk's end, or whose FAT and root cannot be
  // read where the pass has nothing else to go by.
  ExFatScanResult DeepScan(std::uint32_t pass);
  ExFatScanResult BuildDirectoryTree();
  // Lists the folders found in the heap; true when it found any.
  bool SearchDirectoryClusters();
  void BuildDeletedTree();
  void AddLostFolders(bool followChains);
  void WalkLostFolder(std::uint32_t parentId, std::uint32_t firstCluster, bool forced, std::uint64_t size = 0,
                      bool fatChain = true);
  // Clusters searched per read: 1 MiB of them, or one when a cluster is larger.
  std::uint32_t ClustersPerRead() const;

  // ---- Raw Recovery ----
  // Carves the selected file types out of the clusters the FAT leaves free.
  ExFatScanResult RawScan();
  void CarveFreeClusters();
  void AddRawItem(const CarveHit& hit, std::uint64_t cluster);

  // ---- cluster chains ----
  // A found file's clusters: its FAT chain, or one run from the first
  // cluster as far as `size` reaches (never past the heap).
  std::vector<std::uint32_t> GetClusterChain(std::uint32_t firstCluster, std::uint64_t size, bool contiguous) const;
  // Clusters of the run from `firstCluster` that `size` bytes take, never
  // past the heap.
  std::uint64_t RunLength(std::uint32_t firstCluster, std::uint64_t size) const;
  // The chain of `firstCluster` through the FAT copy, each cluster once.
  std::vector<std::uint32_t> FollowFatChain(std::uint32_t firstCluster) const;
  // The FAT copy's entry of `cluster`; false when the copy has none.
  bool FatEntry(std::uint32_t cluster, std::uint32_t& value) const;
  // `size` cut to what the clusters from `firstCluster` can hold: the heap
  // behind it for a file read as one run (`ReadsAsRun`), the whole heap for
  // one read through its chain, and nothing when it starts outside the heap.
  std::uint64_t BackedSize(std::uint64_t size, std::uint32_t firstCluster, bool asRun) const;

  // ---- a found file's data ----
  // A found file with these flags is one run from its first cluster, not
  // its FAT chain: deleted, kept as one run, or on a volume read without
  // its FAT.
  bool ReadsAsRun(std::uint8_t flags) const;
  FileDataLayout ItemDataLayout(const FoundItemInfo& item) const;
  ClusterReader DataClusterReader() const;
  WalkResult ReadFoundItem(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                           std::uint64_t end = ~0ull) const;

  // ---- helpers over the layout ----
  std::uint32_t ClusterBytes() const override { return m_nSectorsPerCluster * 512u; }
  // Clusters 2 .. ClusterCount + 1 hold data.
  bool IsHeapCluster(std::uint64_t cluster) const {
    return cluster >= exfat::kFirstCluster && cluster <= std::uint64_t{m_nClusterCount} + 1;
  }

  // ---- a saved scan (ExFatSavedScan.cpp) ----
  ExFatSavedScan SavedScan() const;
  // A fresh engine bound to `volume`'s disk with the saved place and layout
  // and its work files written again: ready to read every saved item. The
  // text the user is told when it cannot be, else empty.
  std::string RestoreSavedScan(const ExFatSavedScan& saved, const Volume& volume);

  // ---- what tests and the saved scan read of the layout ----
  std::uint32_t SectorsPerCluster() const { return m_nSectorsPerCluster; }
  std::uint32_t RootCluster() const { return m_nRootCluster; }
  std::uint8_t FatSource() const { return m_nFatSource; }
  // Entries of the cluster map: bits up to the first clear one past the heap.
  std::uint32_t MapEntries() const { return m_nMapEntries; }
  bool HasFatCopy() const { return m_fatCopy.IsOpen(); }
  const ExFatWorkFile& ClusterMapFile() const { return m_clusterMap; }
  // Absolute sectors of the disk.
  std::uint64_t VolumeStart() const { return m_nVolumeStart; }
  std::uint64_t VolumeLength() const { return m_nVolumeLength; }

 private:
  // ---- engine state ----
  EngineHost& m_host;
  FoundItemSink* m_pConsole = nullptr;
  ProgressSink* m_pScanDlg = nullptr;

  std::uint8_t m_nDriveByte = 0;
  std::uint8_t m_nMatchedDrive = 0;
  std::uint8_t m_nFileSystemKind = 0;
  std::uint8_t m_nSourceKind = 0;  // kind of the source record it was prepared from
  std::uint32_t m_nFatLength = 0;
  std::uint64_t m_nVolumeStart = 0;
  std::uint64_t m_nVolumeEnd = 0;
  std::uint64_t m_nVolumeLength = 0;
  std::uint32_t m_nFatOffset = 0;
  std::uint32_t m_nClusterCount = 0;
  std::uint32_t m_nRootCluster = 0;
  std::uint32_t m_nMapEntries = 0;
  std::uint32_t m_nSectorsPerCluster = 0;
  std::uint64_t m_nHeapStart = 0;
  std::uint8_t m_bMarkFlag = 0;
  std::uint32_t m_nBitmapCluster = 0;
  std::uint8_t m_nFatSource = kExFatSourceFat1;
  std::uint32_t m_nPass = 0;
  Volume m_volume;
  std::uint32_t m_bRelative = 0;

  std::vector<ExFatDeletedFolder> m_deletedFolders;
  // the hand-over, with its counters and the folders waiting to be sent
  // Ids 0 and 1 are the root and "Lost folder(s)": a counter that wraps
  // must not hand them out again.
  FoundItemPoster m_poster{kFatRootId, {.lowest = 2}};

  ExFatWorkFile m_fatCopy;     // "exFat.dat"
  ExFatWorkFile m_clusterMap;  // "ClusterMap.dat"
  // The type folders of Raw Recovery.
  RawTypeFolders m_rawFolders{2500};


  ProgressSink& Progress() const;
  FoundItemSink& Console() const;
  bool Aborted() const;
  void SetCritical(bool on);
  void ReportWorkFileFailure(const std::filesystem::path& path);
  bool ReadBootCopy(std::uint64_t sector);
  bool BootCheck();
  // Shows message 305 (the worker stays busy until it has ended).
  ExFatScanResult RefuseVolume();
  // Whether the FAT and the cluster heap begin on the volume's disk, not
  // past its end (an image cut short).
  bool TablesOnDisk() const;
  // Whether the FAT begins with its media entry or the root folder holds
  // the allocation bitmap's entry: what every exFAT volume writes there.
  // Neither, and nothing of the volume's own tables can be read.
  bool FatOrRootReadable() const;
  // The root folder the tree walk starts from: cluster 4 where the boot
  // sector names none inside the heap.
  std::uint32_t WalkedRootCluster() const;
  std::uint32_t TakeItemId();
  void RaiseNextItemId(std::uint64_t atLeast);
  std::filesystem::path WorkFilePath(const char* name);

  // hand-over
  void OpenResultsTree();
  void Send(const FoundItemInfo& record, std::u16string_view name, bool addFolderSize = false);
  void SendLostFolder(std::uint32_t itemId, std::uint32_t cluster, std::u16string_view name);
  // A cluster that looks like a directory, offered as a lost folder.
  void AddCandidate(std::uint64_t cluster, std::span<const std::uint8_t> data);
  // The clusters of the lost folder that starts at candidate `index`.
  std::vector<std::uint32_t> LostFolderClusters(std::size_t index, bool followChains) const;
  // Candidates that another candidate leads to, through the FAT or as the
  // next cluster of a folder kept as one run.
  std::vector<bool> ReachedCandidates() const;
  // Candidate `index` + 1 goes on from candidate `index` as one run.
  bool RunsOn(std::size_t index) const;
  void WalkLostClusters(std::uint32_t parentId, std::vector<std::uint32_t> clusters, bool forced);
  // The log frame's start and the walk of the root (or of cluster 4 where
  // the boot sector names none inside the heap).
  void WalkTreeFromRoot();

  ExFatScanResult SearchLostFolders();

  // walks
  FoundItemInfo RecordOf(const exfat::EntrySet& set, std::uint32_t parentId, std::uint32_t itemId,
                         bool deleted) const;
  std::vector<std::uint32_t> FolderClusters(std::uint32_t firstCluster, std::uint64_t size, bool fatChain,
                                            bool firstOnly) const;
  // Appends to `window` as much of the clusters after cluster `index` of a
  // folder as a set can run into.
  void AppendLookahead(const std::vector<std::uint32_t>& clusters, std::size_t index,
                       std::vector<std::uint8_t>& window) const;
  // Every entry set of a folder's clusters in order, with the cluster its
  // file entry lies in; stops at Stop, steps the main bar once a cluster.
  void ForEachSet(const std::vector<std::uint32_t>& clusters,
                  const std::function<void(const exfat::EntrySet&, std::uint32_t)>& handle);
  void WalkClusters(const std::vector<std::uint32_t>& clusters, std::uint32_t parentId, bool insideDeleted);
  void HandleItem(const exfat::EntrySet& set, FoundItemInfo& record, std::uint32_t cluster);
  void AddDeletedFolder(const FoundItemInfo& record, std::u16string_view name, std::uint32_t entryOffset,
                        std::uint32_t entryCluster);
  void AddWalkedFolder(std::uint64_t cluster) { m_walkedFolders.insert(cluster); }
  bool EnterFolder(std::uint64_t cluster);
  void LeaveFolder();
  void FreeDeletedFolders();

  std::unordered_set<std::uint64_t> m_walkedFolders;
  std::unordered_map<std::uint64_t, std::uint32_t> m_deletedCount;  // live nodes per cluster
  // Folders whose walk has begun in this pass, and the depth of the walk:
  // a damaged volume may hold a folder that contains itself.
  std::unordered_set<std::uint64_t> m_descended;
  std::uint32_t m_nDepth = 0;
  // Directory clusters read by the walks of this pass: a cluster belongs to
  // the first folder it was read for.
  std::unordered_set<std::uint32_t> m_readClusters;
  std::filesystem::path m_workFolder;
};

// Deepest folder nesting a walk follows.
inline constexpr std::uint32_t kExFatMaxWalkDepth = 2048;
// The format's limit on a directory's size.
inline constexpr std::uint64_t kExFatMaxDirectoryBytes = 256ull << 20;

}  // namespace corvan
