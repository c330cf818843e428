#pragma once
// The NTFS recovery engine: one object per scan that knows where the volume
// lies, its geometry and the $MFT's runs, rebuilds the volume's tree and
// hands every found folder and file to the found-item sink, and afterwards
// reads any found file's data for previewing and saving.
//
// It reads the disk only through the volume it is bound to and reports only
// through the sinks and the log of the host it was given, so it runs
// without any window, and beside another engine on another volume.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Carver.h"
#include "core/ScanEngine.h"
#include "core/FoundItemInfo.h"
#include "core/FoundItemPoster.h"
#include "core/FoundItemSink.h"
#include "core/RunWalker.h"
#include "engines/ntfs/NtfsAttributes.h"
#include "engines/ntfs/NtfsRecord.h"
#include "engines/ntfs/NtfsSavedScan.h"
#include "sources/Volume.h"

namespace corvan {

class EngineHost;
class ProgressSink;

// A run of free clusters: cluster c belongs to it when first <= c < first + count.
struct FreeExtentNode {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

// A directory among the found records, once per record number.
struct FoundDirNode {
  std::size_t entry = 0;  // in the found-record array
  bool visited = false;
};

// A folder of Deleted Recovery: deleted, or in use and possibly on the way
// from a deleted file to the root.
struct DeletedFolderNode {
  std::uint32_t parent = 0;
  std::uint32_t record = 0;
  std::u16string name;
  std::uint64_t modifiedTime = 0;
  std::uint64_t creationTime = 0;
  bool inUse = false;
};

struct DeletedFileNode {
  std::uint64_t size = 0;
  std::uint32_t parent = 0;
  std::uint32_t record = 0;
  std::u16string name;
  std::uint64_t modifiedTime = 0;
  std::uint64_t creationTime = 0;
  std::uint8_t flags = 0;  // kItemCompressed, kItemEncrypted
  bool journal = false;    // its size came from the journal
};

// Where Advance Recovery offers the free space its volume search passes
// over to the signature matcher of raw recovery.
class FreeSpaceHitCollector {
 public:
  virtual ~FreeSpaceHitCollector() = default;
  // `data` begins at the first sector of free cluster `cluster` and runs at
  // least 512 bytes (more when the read holds more). Returns the size in
  // bytes of a hit found there, 0 for none; `skip` asks the search to pass
  // over the hit's sectors.
  virtual std::uint64_t Collect(std::span<const std::uint8_t> data, std::uint64_t cluster, bool& skip) = 0;
  // Posts the collected hits after the tree.
  virtual void PostCollected() = 0;
};

// A set of item ids: one bit each for the ids below a bound (the volume's
// record numbers, most of what a scan posts) and a hash set for those
// above it (made-up folder ids).
class ItemIdSet {
 public:
  // Ids below `bound` go into the bits from here on; what the set holds stays.
  void SetDenseBound(std::uint64_t bound);
  void insert(std::uint64_t id) {
    if (id < dense_.size()) dense_[static_cast<std::size_t>(id)] = true;
    else sparse_.insert(id);
  }
  std::size_t count(std::uint64_t id) const {
    return id < dense_.size() ? (dense_[static_cast<std::size_t>(id)] ? 1 : 0) : sparse_.count(id);
  }
  void clear() {
    dense_.clear();
    dense_.shrink_to_fit();
    sparse_.clear();
  }

 private:
  std::vector<bool> dense_;
  std::unordered_set<std::uint64_t> sparse_;
};

class NtfsEngine final : public ScanEngine {
 public:
  static constexpr std::uint32_t kRootRecord = 5;
  static constexpr std::uint32_t kLostFolderId = 0x00FFFFFF;

  explicit NtfsEngine(EngineHost& host);
  ~NtfsEngine() override;
  NtfsEngine(const NtfsEngine&) = delete;
  NtfsEngine& operator=(const NtfsEngine&) = delete;
  // This engine behind `engine`, or null when `engine` is another kind: the
  // only place a ScanEngine is turned back into this class.
  static NtfsEngine* Of(ScanEngine* engine) { return dynamic_cast<NtfsEngine*>(engine); }
  static const NtfsEngine* Of(const ScanEngine* engine) { return dynamic_cast<const NtfsEngine*>(engine); }

  // ---- ScanEngine ----
  std::uint32_t FoundItemCount() const override { return m_poster.Entries(); }
  std::uint64_t FoundBytes() const override { return m_poster.Bytes(); }
  FoundItemPoster* Poster() override { return &m_poster; }
  // Releases the $MFT runs, the visited map and every list; the engine can
  // be prepared again afterwards.
  void FreeLists() override;
  WalkResult ReadItemData(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                          std::uint64_t end = ~0ull) override {
    return ReadFoundItem(item, sink, begin, end);
  }

  // ---- binding and volume I/O ----
  // The results window and the scan dialog the passes report to (the
  // application object's, unless set here).
  void SetSinks(FoundItemSink* console, ProgressSink* scanDialog);
  void Prepare(const NtfsVolumeBinding& binding);
  // Binds to a volume of the source list: a whole image file is read from
  // its first sector; sources that stand for a whole disk carry no volume
  // and leave the engine unbound.
  void Prepare(const Volume& volume);
  // Reads at a sector relative to the volume start. False when the read
  // failed or came short; the buffer then holds zeros where nothing was read.
  bool ReadVolumeSectors(void* buffer, std::uint32_t byteCount, std::uint64_t sector);
  bool ReadClusters(void* buffer, std::uint64_t cluster, std::uint32_t sectorCount, std::uint32_t sectorOffset = 0);
  ClusterReader MakeClusterReader();

  // ---- geometry, $MFT and scan entry ----
  // Quick (deletedMode false) or Deleted Recovery. Quick on a volume whose
  // boot sector or $MFT cannot be used continues as Advance Recovery;
  // Deleted Recovery then lists nothing, and refuses the volume (message
  // 305) when no file record can be read on it. True when a tree pass ran.
  bool ScanVolume(bool deletedMode);
  // Whether the last pass said the volume holds no NTFS (message 305);
  // asking clears it for the next pass.
  bool TakeVolumeRefused() { return std::exchange(m_bVolumeRefused, false); }
  bool ValidateBootSector();
  bool LoadMftRuns();
  // Volume-relative sector of MFT record `record`, or 0 when the $MFT runs
  // do not reach it; `secondHalf` gets the sector of the record's second
  // half when that lies in another run, else 0.
  std::uint64_t MftRecordToSector(std::uint64_t record, std::uint64_t* secondHalf = nullptr) const;

  // ---- records ----
  // The raw bytes of MFT record `record` (no fixup), from the $MFT read in
  // large blocks. False when the $MFT does not reach it or the read failed.
  bool ReadMftRecord(std::uint64_t record, std::span<std::uint8_t, ntfs::kMftRecordSize> out);
  // The record fixed up and parsed; false when it is no sound FILE record.
  bool LoadRecord(std::uint64_t record, ntfs::MftRecord& out);
  bool LoadFileView(std::uint64_t record, ntfs::FileView& out);
  // Hands the records from `first` on to `visit` in order, each as read (no
  // fixup: `visit` may fix it up where it lies), reading the $MFT once from
  // front to back into one buffer. A failed read makes only the records it
  // hit unreadable (zeros), as ReadMftRecord does. `visit` returns false to
  // stop; false when it or a stop request ended the pass.
  using MftRecordVisitor =
      std::function<bool(std::uint64_t record, std::span<std::uint8_t, ntfs::kMftRecordSize> bytes)>;
  bool ForEachMftRecord(std::uint64_t first, const MftRecordVisitor& visit);

  // ---- Quick Recovery ----
  void QuickTree();

  // ---- Advance Recovery ----
  // Settles the geometry (partition record, boot sector or a vote over the
  // records found), searches the volume for FILE records and rebuilds the
  // tree from them. True when a tree was built.
  bool DeepScan();
  // Sectors per cluster as the $DATA sizes of the records on the volume
  // imply them; 0 when no record votes. Runs to its end even when a stop is
  // requested: the request is left for the search that follows.
  std::uint16_t FindClusterSizeByScanning();
  // The sector of the first found record with this number.
  bool FindFoundRecordSector(std::uint32_t recordNumber, std::uint64_t& sector) const;
  const std::vector<AdvanceRecordEntry>& FoundRecords() const { return m_foundRecords; }
  // Sectors the record searches went through.
  std::uint64_t AdvanceCounter() const { return m_nAdvanceCounter; }
  // The signature matcher the volume search offers free space to in place of
  // the engine's own, which serves when none is set. Nothing is offered
  // unless the "SetRaw" setting is 0.
  void SetFreeSpaceHitCollector(FreeSpaceHitCollector* collector) { m_pHitCollector = collector; }
  // The engine's own matcher: keeps the hit found at free cluster `cluster`
  // (whose data begins `data`) for PostCollectedHits and returns its size, 0
  // for none; `skip` asks the search to pass over the hit's sectors.
  std::uint64_t CollectFreeSpaceHit(std::span<const std::uint8_t> data, std::uint64_t cluster, bool& skip);
  // Posts the kept hits under a "Raw Data Folder(s)" folder, with ids
  // counting down from the host's next made-up id.
  void PostCollectedHits();

  // ---- Raw Recovery ----
  // Carves the selected file types out of the volume's free clusters, or out
  // of every sector when the volume bitmap cannot be read.
  void RawScan();

  // ---- a found file's data ----
  // How to read the item's data; false for folders and items whose record
  // no longer holds data.
  bool GetFileLayout(const FoundItemInfo& item, FileDataLayout& layout);
  // The item's bytes [begin, end) through the run walker.
  WalkResult ReadFoundItem(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                           std::uint64_t end = ~0ull);
  // The clusters of a raw hit: consecutive from its start, or through the
  // free clusters from its start once the volume bitmap was loaded.
  FileDataLayout GetContiguousClusters(std::uint64_t startCluster, std::uint64_t size) const;

  // ---- volume bitmap ----
  void LoadVolumeBitmap();
  const std::vector<FreeExtentNode>& FreeExtents() const { return m_freeExtents; }
  bool FreeExtentsValid() const { return m_bFreeExtentsValid; }

  // ---- $LogFile ----
  bool FindLogFileRuns();
  const std::vector<KeptRunNode>& KeptRuns() const { return m_keptRuns; }

  // ---- state the status line and the scan-information file read ----
  std::uint32_t FoldersPosted() const { return m_poster.Folders(); }
  std::uint32_t FilesPosted() const { return m_poster.Files(); }
  std::uint64_t TotalBytes() const { return m_poster.Bytes(); }
  std::uint16_t SectorsPerCluster() const { return m_nSectorsPerCluster; }
  std::uint32_t ClusterBytes() const override { return std::uint32_t{m_nSectorsPerCluster} * 512u; }
  std::uint64_t MftSector() const { return m_nMftSector; }
  std::uint64_t MftMirrorSector() const { return m_nMftMirrSector; }
  std::uint64_t VolumeFirstSector() const { return m_nVolumeFirstSector; }
  std::uint64_t VolumeSectorCount() const { return m_nVolumeSectorCount; }
  std::uint64_t VolumeEndSector() const { return m_nVolumeEndSector; }
  std::uint64_t MftRecordCount() const { return m_nMftRecords; }
  const std::vector<DataExtent>& MftRuns() const { return m_mftRuns; }
  std::uint32_t ReadFailures() const { return m_nReadFailures; }
  bool IsVisited(std::uint64_t record) const {
    return record < m_visited.size() && m_visited[static_cast<std::size_t>(record)] != 0;
  }

  // ---- a saved scan (NtfsSavedScan.cpp) ----
  std::uint8_t DiskNumber() const { return m_nDiskNumber; }
  // Items carry the sector of their record (Advance Recovery), not its number.
  bool ItemsByRecordSector() const { return m_bAdvanceRecords; }
  EngineHost& Host() const { return m_host; }
  // What a saved scan keeps: the place and geometry, the $MFT's runs (all
  // of them; `mftRunsUsed` says whether there were any), Advance Recovery's
  // found records when items carry their record's sector, and the runs the
  // journal gave back.
  NtfsSavedScan SavedScan() const;
  // Makes this engine read the items of a scan saved earlier as the engine
  // that made it did: binds it to the saved place and geometry, takes the
  // tables, and reads again from the volume what the file does not keep.
  // The counters start from zero: the loader counts the items it hands on.
  void RestoreSavedScan(const NtfsSavedScan& saved);

 private:
  // posting (NtfsEngine.cpp)
  void PostRootIfFirst();
  FoundItemHandle PostFoundItem(const FoundItemInfo& record, std::u16string_view name);
  void PostPlaceholderFolder(std::uint32_t id, std::uint32_t parent, std::u16string_view name);
  void MarkVisited(std::uint64_t record);
  bool IsKnownFolder(std::uint32_t id) const { return m_knownFolders.count(id) != 0; }
  bool Aborted() const;
  std::uint64_t VolumeBytes() const { return m_nVolumeSectorCount * 512u; }
  // Message 305: the volume holds no NTFS a pass can use.
  void RefuseVolume();
  // The item flags (compressed, encrypted) for a file's attribute bits.
  static std::uint8_t ItemFlagsFromAttributes(std::uint32_t fileAttributes);
  // The same for a file read from its records: its data's own compression
  // or encryption first, else its $STANDARD_INFORMATION's attribute bits.
  static std::uint8_t RecordItemFlags(const ntfs::FileView& view);
  // How big a file's data is, as far as what backs it vouches for it: its
  // size cut to what its runs map (holes included); the bytes of the
  // clusters it holds; and whether a size past the volume's is a sparse
  // file's (NtfsFileData.cpp).
  std::uint64_t MappedSize(const ntfs::AttributeData& data) const;
  std::uint64_t HeldBytes(const ntfs::AttributeData& data) const;
  bool SparseBeyondVolume(const ntfs::AttributeData& data) const;

  // records (NtfsEngine.cpp)
  // The view of the file whose base record `record` is `base`, its other
  // records and its attribute list read as needed.
  ntfs::FileView ViewOf(std::uint64_t record, const ntfs::MftRecord& base);
  // Reads the $MFT's bytes [begin, end) through its runs straight into
  // `out`; false when a read failed or came short.
  bool ReadMftSpan(std::uint64_t begin, std::uint64_t end, std::uint8_t* out);
  // Records [first, first + count) into `out`; when the read fails, each
  // record is read on its own and those whose read fails are zeros.
  void ReadMftRecords(std::uint64_t first, std::uint64_t count, std::uint8_t* out);

  // Quick (NtfsQuick.cpp)
  // What the tree walk and the pass over unreached records ask of a record,
  // taken from the one read of the $MFT before the walk (or read when a
  // record was not taken then).
  struct QuickRecordFacts {
    std::uint64_t claimedSize = 0;  // the data's size field
    std::uint64_t mappedSize = 0;   // MappedSize of the data
    std::uint32_t waitParent = 0;   // the parent it is listed under when unreached; 0: never listed
    std::uint16_t sequence = 0;
    std::uint8_t bits = 0;          // kFact* in NtfsQuick.cpp
  };
  // A folder's $I30 index as its records describe it.
  struct FolderIndex {
    std::vector<std::uint8_t> root;
    ntfs::AttributeData allocation;
    ntfs::AttributeData bitmap;
  };
  void TakeQuickFacts();
  void ReleaseQuickFacts();
  QuickRecordFacts FactsOf(const ntfs::FileView& view) const;
  QuickRecordFacts RecordFacts(std::uint64_t record);
  bool FolderIndexOf(std::uint64_t record, FolderIndex& out);
  std::vector<ntfs::IndexEntry> ListDirectory(std::uint64_t record);
  void ListTree(std::uint32_t folder);
  bool PostIndexEntry(std::uint32_t folder, const ntfs::IndexEntry& entry);
  void PostRootChildrenByScan();
  void AddUnreachedItems();
  void PostUnreachedFolders();
  void PostUnreachedFiles();
  std::uint32_t LostParentFor(std::uint32_t missingParent);
  void EnsureLostFolder();
  bool PostRecordByNumber(std::uint32_t record, std::uint32_t parent, bool queueForJournal);
  bool PostRecordItem(const ntfs::FileView& view, FoundItemInfo& item, FoundItemHandle* handle);
  void QueueForJournal(std::uint32_t record, const ntfs::FileView& view, FoundItemHandle handle);
  void UpdateLargeFilesFromJournal();

  // Deleted (NtfsDeleted.cpp)
  void ScanAllRecords();
  void BuildDeletedTree();
  bool VolumeHoldsFileRecords();
  std::uint32_t PlaceUnderAncestors(std::uint32_t parent);
  std::uint32_t DeletedLostParentFor(std::uint32_t missingParent);
  void EnsureDeletedLostFolder();

  // Advance (NtfsAdvanceSearch.cpp, NtfsAdvanceTree.cpp)
  void ClearFoundRecords();
  void SearchRecords();
  bool SearchFileRecords();
  void SearchVolumeForRecords();
  void AdoptParentsFromExtensions();
  bool SweepForRecords(std::uint64_t from, std::uint64_t to, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& skip);
  void StoreFoundRecord(std::span<const std::uint8_t> bytes, std::uint64_t sector, std::uint64_t secondHalf,
                        std::optional<std::uint64_t> placeNumber, bool insideMft);
  bool IsFreeCluster(std::uint64_t cluster) const;
  std::uint32_t TakeRunningId();
  void SetSectorText(std::uint64_t sector, std::uint64_t of);
  void BuildTreeFromRecords();
  void AddChildrenOf(std::uint32_t parentRecord, std::uint32_t parentId);
  void PlaceLostFolders();
  void PlaceLostFiles();
  bool PostFoundEntry(std::size_t entry, std::uint32_t parentId);
  std::uint32_t AdvanceLostParentFor(std::uint32_t missingParent);
  void EnsureAdvanceLostFolder();
  bool ReadRecordAtSector(std::uint64_t sector, std::uint64_t secondHalf,
                          std::span<std::uint8_t, ntfs::kMftRecordSize> out);
  bool LoadFoundFileView(std::uint64_t sector, std::uint64_t secondHalf, std::uint32_t recordNumber,
                         bool numberKnown, ntfs::FileView& out);

  // Raw Recovery (NtfsRaw.cpp)
  friend class NtfsCarveVolume;
  struct RawHit {
    std::u16string typeName;  // cut to the length raw items carry
    std::uint64_t start = 0;  // cluster (or, in the whole-volume search, sector) from the volume start
    std::uint64_t size = 0;
  };
  void RunRawRecovery();
  void SearchFreeClusters();
  // Every sector of the volume, a cluster being one sector from here on.
  void SearchVolumeSectors();
  void ScanSectors();
  // The hit the carving step found at `unit`, as it is listed: an Office
  // document it named "DOC", "XLS" or "PPT" is measured to the next signature
  // and named "BAD".
  RawHit SettleRawHit(Carver& carver, const CarveHit& hit, std::uint64_t unit);
  void AddRawItem(std::u16string_view suffix, const RawHit& hit);
  void OpenRawRoot(std::int64_t range);
  // Reads at an absolute sector for the carving step, never past the
  // volume; what lies outside it reads as zeros (and the read fails).
  bool ReadCarveSectors(std::uint64_t sector, void* buffer, std::size_t bytes);
  // Moves `cluster` to the next free cluster before the volume's end.
  bool NextFreeCluster(std::uint64_t& cluster) const;
  // The matcher the Advance search offers free clusters to, or null.
  FreeSpaceHitCollector* ActiveHitCollector();

  // a saved scan (NtfsSavedScan.cpp)
  void RestoreFoundRecords(const NtfsSavedScan& saved);
  // Sector of the second half of the records the search of the $MFT's runs
  // joined across two runs, by the sector of their first half.
  std::unordered_map<std::uint64_t, std::uint64_t> SplitMftRecords() const;

  // file data (NtfsFileData.cpp)
  std::vector<std::uint8_t> ReadAttributeData(const ntfs::AttributeData& data, std::uint64_t limit);

  EngineHost& m_host;
  FoundItemSink* m_pConsole = nullptr;
  ProgressSink* m_pScanDlg = nullptr;

  // volume
  std::uint64_t m_nVolumeFirstSector = 0;
  std::uint64_t m_nVolumeEndSector = 0;
  std::uint64_t m_nVolumeSectorCount = 0;
  std::uint8_t m_nDiskNumber = 0;
  std::uint8_t m_nPartitionType = 0;
  std::uint8_t m_nRootRecord = kRootRecord;
  std::uint16_t m_nPartitionSectorsPerCluster = 0;  // as the partition record gave it
  std::uint64_t m_nPartitionMftSector = 0;
  std::uint64_t m_nPartitionMftMirrSector = 0;
  std::uint16_t m_nSectorsPerCluster = 0;
  std::uint64_t m_nMftSector = 0;
  std::uint64_t m_nMftMirrSector = 0;
  std::u16string m_fileSystemText;
  bool m_bVolumeRefused = false;  // message 305 shown since the scan worker last asked
  std::shared_ptr<SectorSource> m_pDisk;
  std::atomic<std::uint32_t> m_nReadFailures{0};
  bool m_bDeletedMode = false;

  // $MFT
  std::vector<DataExtent> m_mftRuns;
  std::uint64_t m_nMftRecords = 0;
  std::vector<bool> m_visited;  // one bit per record: set = handled
  // Records read one by one come from blocks of kMftBlockRecords records; a
  // few blocks are kept.
  std::unordered_map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> m_mftBlocks;
  std::vector<std::uint64_t> m_mftBlockOrder;
  std::mutex m_mftMutex;

  // Quick Recovery: every record's facts, and the indexes of the folders,
  // from the one read of the $MFT; released when the tree stands.
  std::vector<QuickRecordFacts> m_quickFacts;
  std::unordered_map<std::uint32_t, FolderIndex> m_quickFolders;

  // passes
  ItemIdSet m_knownFolders;
  ItemIdSet m_postedIds;  // every item id sent, placeholders included
  std::uint32_t m_bLostFolderMade = 0;
  struct WaitingItem {
    std::uint32_t record;
    std::uint32_t parent;
    bool done;
  };
  std::vector<WaitingItem> m_waitingFolders;
  std::vector<WaitingItem> m_waitingFiles;
  // the hand-over, its counters and the running ids of Advance Recovery's
  // found records, which never take the id of its "Lost folder(s)"
  FoundItemPoster m_poster{kRootRecord, {.reserved = kLostFolderId, .hasReserved = true}};
  std::uint64_t m_nRootRange = 0;  // progress range set with the root item; 0: the record count

  // Deleted Recovery
  std::vector<DeletedFolderNode> m_deletedFolders;
  std::vector<DeletedFileNode> m_deletedFiles;
  std::unordered_map<std::uint32_t, std::size_t> m_deletedFolderIndex;  // record number -> m_deletedFolders
  std::unordered_set<std::uint32_t> m_deletedFileRecords;

  // Advance Recovery
  bool m_bAdvanceRecords = false;  // items carry record sectors, not record numbers
  std::vector<AdvanceRecordEntry> m_foundRecords;
  std::unordered_map<std::uint32_t, std::size_t> m_foundByNumber;   // first entry of each record number
  std::unordered_map<std::uint64_t, std::size_t> m_foundFileVersions;  // file's sequence and record number -> entry
  std::vector<FoundDirNode> m_foundDirs;
  std::unordered_map<std::uint32_t, std::size_t> m_dirByNumber;     // in m_foundDirs
  std::unordered_map<std::uint32_t, std::uint32_t> m_advanceKnown;  // folder record number -> item id
  // While the tree is built: found files and folders by parent record number.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> m_filesByParent;  // in m_foundRecords
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> m_dirsByParent;   // in m_foundDirs
  std::uint64_t m_nAdvanceCounter = 0;
  FreeSpaceHitCollector* m_pHitCollector = nullptr;
  // Records read by sector, a megabyte at a time; a few blocks are kept.
  std::unordered_map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> m_sectorBlocks;
  std::vector<std::uint64_t> m_sectorBlockOrder;

  // Raw Recovery, and the hits Advance Recovery collects in free space
  RawTypeFolders m_rawFolders{10000};
  std::vector<RawHit> m_collectedHits;
  CarveTally m_collectedTally;  // what the collected hits add up to
  std::unique_ptr<FreeSpaceHitCollector> m_pOwnCollector;

  // volume bitmap
  std::vector<FreeExtentNode> m_freeExtents;
  bool m_bFreeExtentsValid = false;

  // journal
  bool m_bJournal = false;
  bool m_bLogFileSearched = false;
  std::vector<DataExtent> m_logFileRuns;
  std::uint64_t m_nLogFileSize = 0;
  std::vector<KeptRunNode> m_keptRuns;
};

}  // namespace corvan
