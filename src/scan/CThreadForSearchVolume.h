#pragma once
// The lost-volume search: finds NTFS, FAT and exFAT volumes that no
// partition table lists any more by their boot sectors at the places
// partitioning tools put volumes, and hands each one to the program as a
// lost volume ("Std Vol n"). It runs on a worker thread; the dialog
// that shows it implements LostVolumeSink and never has its widgets
// touched from here. It reads the mounted disk through its SectorSource
// only, whatever the record says of an image file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "scan/ScanJob.h"

namespace corvan {

class EngineHost;
class FatSectorIndex;
struct RebuiltFatLayout;
struct SourceList;
struct SourceRecord;

// What the search reports; called on the search thread.
class LostVolumeSink {
 public:
  virtual ~LostVolumeSink() = default;
  virtual void SetProgressText(const std::string& text) = 0;
  virtual void SetProgressRange(std::int64_t low, std::int64_t high) = 0;
  virtual void SetProgressStep(std::int64_t step) = 0;
  virtual void SetProgressPos(std::int64_t pos) = 0;
  virtual void StepProgress() = 0;
  // A volume was handed to the program (the record lives in its source list).
  virtual void AddFoundVolume(SourceRecord& record) = 0;
  // The bar, the label and Stop are no longer needed.
  virtual void HideProgress() = 0;
  // The bar and the label are needed again (the deep search checks the FAT
  // volumes it found); Stop stays hidden.
  virtual void RevealProgress() = 0;
  // The search has ended; the sink may close once the thread is joined.
  virtual void SearchDone() = 0;
};

// What the search needs of one record of the source list: whether a
// volume is listed already, and the index a new record follows.
struct ListedSource {
  std::uint16_t index = 0;
  std::uint8_t kind = 0;
  std::uint8_t flags = 0;
  bool hasPartition = false;  // the rest is the partition record's
  std::uint8_t fileSystemKind = 0;
  std::uint8_t diskNumber = 0;
  std::uint64_t startSector = 0;
  std::uint64_t sectorCount = 0;
  // The sectors from the start on that the volume's own structures confirm:
  // all of them for the records the search starts from; for its finds only
  // what a partition entry, a boot sector its volume agrees with, $Bitmap or
  // the cluster heap backs (none of a guessed size). Only these hide a find.
  std::uint64_t backedSectors = 0;
  // A FAT volume's first FAT and data area as its record gives them (0 for others).
  std::uint64_t firstFat = 0;
  std::uint64_t dataStart = 0;
};
ListedSource ListedSourceOf(const SourceRecord& record);
// The whole list as the search starts from it.
std::vector<ListedSource> ListedSourcesOf(const SourceList& sources);

struct LostVolumeJob {
  EngineHost& host;
  std::vector<ListedSource> listed;  // the source list when the job was made
  // Puts a found volume at the end of the program's source list and returns
  // it there; called once a find, as it is found.
  std::function<SourceRecord&(std::unique_ptr<SourceRecord>)> appendSource;
  SourceSelection selection;             // the selected disk record and the mounted disk it reads
  std::shared_ptr<ScanSession> session;  // its engine is released first
  std::uint32_t volumesFoundBefore = 0;  // by earlier searches of this run: names go on from there
  bool deep = false;       // the deep search: the whole disk, MFT records and FAT folders too
  bool imageFlag = false;  // found volumes belong to an image file (kind 11, drive 0xFF)
  std::u16string path;     // the image file's path for such records
  LostVolumeSink* sink = nullptr;
  // The application's ResetScanState; FreeResultLists (with the save
  // answers, and no results present any more) as the search begins; and the
  // note of a found volume with the run's total so far. Any may be empty.
  std::function<void()> resetScanState;
  std::function<void()> freeResults;
  std::function<void(std::uint32_t total)> volumeFound;
};

class CThreadForSearchVolume {
 public:
  static constexpr std::uint64_t kCylinder = 16065;  // 255 heads x 63 sectors
  static constexpr std::uint64_t kSmallCylinder = 1008;  // 16 heads x 63 sectors
  static constexpr std::uint64_t kAlignment = 2048;  // 1 MiB boundaries
  static constexpr std::uint64_t kExFatBackupOffset = 12;  // the backup boot region's first sector

  explicit CThreadForSearchVolume(LostVolumeJob job);
  ~CThreadForSearchVolume();

  // The whole search; returns when it has ended (aborted or not).
  void Run();
  // The disk's size in sectors: the virtual disk's, as the sector source
  // reads it.
  void GetSourceSize();

  // The deep search: reads the whole disk in 1 MiB chunks and finds
  // volumes by their boot sectors anywhere, by a surviving $MFT record, and
  // by groups of FAT folders ("." and ".." entries) that agree on a data
  // area. The last two are appended as deep finds ("Adv Vol n").
  void DeepSearch();
  // Caps of the deep search's candidate arrays (found beyond them: logged, not kept).
  static constexpr std::size_t kMaxDirectoryCandidates = 167772;
  static constexpr std::size_t kMaxGroupMembers = 83886;
  static constexpr std::size_t kMaxVotingMembers = 5000;
  // One chunk: 2048 sectors examined, 10 more so a test can look ahead.
  static constexpr std::uint64_t kChunkSectors = 2048;
  static constexpr std::uint64_t kChunkSlack = 10;
  void QuickSearch();
  void ScanForBootSectors();

  // The tests of one 512-byte sector found at `sector`; true when a volume
  // was found and handed on.
  bool IsNtfsBootSector(const std::uint8_t* boot, std::uint64_t sector);
  bool IsFat32BootSector(const std::uint8_t* boot, std::uint64_t sector);
  bool IsExFatBootSector(const std::uint8_t* boot, std::uint64_t sector);
  bool IsVolumeAlreadyListed(std::uint8_t fsKind, std::uint64_t start) const;
  // `sector` lies in the backed part of a volume of this disk the list
  // holds: the partition tables', or one this or an earlier search found.
  bool LiesInListedVolume(std::uint64_t sector) const;
  // Once the search is done: each find whose size is a guess ends where the
  // next volume listed on the disk begins, so neighbours do not overlap.
  void CutGuessesAtNextVolume();
  // A FAT volume this search found from its boot sector, whose first FAT
  // is the rebuilt one's but whose FAT size was no size (the data areas
  // differ), takes the layout the FATs and folders give; true then.
  bool AdoptRebuiltLayout(const RebuiltFatLayout& rebuilt);
  // Source indexes are 16 bits: past the last one nothing more is listed,
  // rather than two records sharing one (logged once).
  static constexpr std::uint32_t kLastSourceIndex = 0xFFFF;

  // A folder's first sector found by the deep search.
  struct DirectoryCandidate {
    std::uint64_t sector = 0;   // absolute
    std::uint32_t cluster = 0;  // from its "." entry
    std::uint8_t vote = 0;      // the cluster size its own pairs agree on
  };
  // The cluster size the pairs of `group` agree on most (the smaller on a
  // tie), 0 when none; each member keeps its own.
  static std::uint8_t VoteSectorsPerCluster(std::vector<DirectoryCandidate>& group);
  // Rebuilds FAT volumes from one group whose cluster size is `voted`. The
  // groups of one search share what their backward searches for FAT copies
  // read; false once those reads ended (Stop, or the bound below).
  bool DeepSearchFat32(const std::vector<DirectoryCandidate>& group, std::uint8_t voted);
  // What the backward searches of all folder groups read together at most:
  // twice the disk up to its last folder found, and 32 MiB; past it the
  // groups left are logged, not checked.
  std::uint64_t FatSearchBudget() const;
  // The $MFT record at absolute sector `r` (1024 bytes): the volume start
  // it implies, or 0; `spc` gets the cluster size.
  std::uint64_t MftRecordVolumeStart(const std::uint8_t* record, std::uint64_t r, std::uint16_t& spc);
  // The sector count of the NTFS volume at `start` whose $MFT record 0 was
  // found at `r`: from its $Bitmap's size, made exact by the backup boot
  // sector in its last sector; the rest of the disk when $Bitmap is gone.
  // `backed` gets the sectors the volume confirms: the exact count, the
  // fewest its $Bitmap allows, or 0 for the rest of the disk.
  std::uint64_t NtfsVolumeSectors(const std::uint8_t* mftRecord, std::uint64_t r, std::uint64_t start,
                                  std::uint16_t spc, std::uint64_t* backed = nullptr);
  // `boot`, read at `sector`, is the backup boot sector of the NTFS volume
  // at `start` with `spc` sectors a cluster and its $MFT at `mftSector`.
  static bool IsNtfsBackupOf(const std::uint8_t* boot, std::uint64_t sector, std::uint64_t start, std::uint16_t spc,
                             std::uint64_t mftSector);
  std::uint64_t FindVolumeStartFromAttributeList(const std::vector<std::uint8_t>& record, std::uint64_t r,
                                                 std::uint64_t allocated, std::uint16_t& spc);
  // Set when a candidate array reached its cap.
  bool CandidateCapReached() const { return candidateCapHit_; }
  bool GroupCapReached() const { return groupCapHit_; }

  std::uint64_t TotalSectors() const { return total_; }
  // Reads that failed (their buffers were zero-filled and the search went on).
  std::uint64_t ReadFailures() const { return readFailures_; }
  // Volumes this search found.
  std::uint32_t FoundVolumes() const { return found_; }
  std::uint8_t SourceKind() const { return imageFlag_ ? 11 : 2; }

 private:
  bool Read(std::uint64_t sector, std::uint8_t* buffer, std::size_t sectors);
  bool TestSector(const std::uint8_t* sector, std::uint64_t number);
  bool TestFollowing(std::uint64_t sector);
  // exFAT's backup boot sector, `kExFatBackupOffset` sectors after a start
  // the search probes: a volume whose main boot region is gone.
  bool TestExFatBackup(std::uint64_t start);
  bool ProbeCylinder(std::uint64_t s);
  bool ProbeAligned(std::uint64_t s);
  bool AtPosition(std::uint64_t s);
  void ReportFind(SourceRecord& record, bool deepFind = false);
  // Gives this search's find number `find` a new size.
  void Resize(std::size_t find, std::uint64_t count);
  // Hands a find to the program with the next index; nullptr once no index
  // is left (the find is not listed).
  // `backed`: the sectors of `count` the volume's own structures confirm.
  SourceRecord* Append(std::uint8_t fsKind, std::uint64_t start, std::uint64_t count, std::uint64_t backed,
                       std::uint8_t kind = 0xFF);
  std::uint8_t DeepKind() const { return imageFlag_ ? 12 : 3; }
  void BeginSearch();
  void SweepDisk(std::vector<DirectoryCandidate>& candidates);
  void EvaluateDirectoryCandidates(std::vector<DirectoryCandidate>& candidates);
  // A volume the deep search rebuilt at `start` with this kind already.
  bool IsDeepFatListed(std::uint8_t fsKind, std::uint64_t start) const;
  // The 1024 bytes at `sector` are a $MFT record 0; `raw`, when given, gets
  // them as read.
  bool IsMftRecordOfMft(std::uint64_t sector, std::uint8_t* raw = nullptr);
  // The listed record lies on the searched disk (or image) and is a volume.
  bool IsOnThisDisk(const ListedSource& p) const;
  // The first volume of this disk listed after `start`, or the disk's end.
  std::uint64_t ListedCeiling(std::uint64_t start) const;
  // A FAT volume of the list (or this search's finds) whose first FAT or
  // data area is this one: the same volume, whatever size it was given.
  bool IsFatVolumeListed(std::uint64_t firstFat, std::uint64_t dataStart) const;
  // The folders of a FAT volume rebuilt from folder groups reach from its
  // start to past the last folder that implies its data area. Another
  // guess whose sectors from its start to its own last folder meet them is
  // the same volume (it reaches on to the later folders); true then.
  bool FoldIntoFolderVolume(std::uint64_t start, std::uint64_t reach);
  // The NTFS volumes found with the $DATA runs of their $MFT record 0 (the
  // attribute's mapping pairs), to tell copies of that record from volumes.
  struct MftFind {
    std::uint64_t start = 0, sectors = 0;
    std::vector<std::uint8_t> runs;
  };
  void RememberMftFind(const std::uint8_t* record, const SourceRecord& found);
  // The $MFT record 0 `record`, implying a volume at `start` that has no
  // $Bitmap of its own, is a copy of one found before: its runs are the
  // same and `start` lies in that find's sectors.
  bool IsCopyOfMftFound(const std::uint8_t* record, std::uint64_t start) const;

  LostVolumeJob job_;
  // The job's snapshot of the source list with this search's finds after it.
  std::vector<ListedSource> listed_;
  std::uint8_t driveNumber_ = 0;
  bool imageFlag_ = false;
  std::uint64_t total_ = 0;
  std::uint64_t diskSectors_ = 0;  // the selected disk record's size
  std::uint64_t readFailures_ = 0;
  std::uint32_t found_ = 0;
  std::uint32_t nextIndex_ = 0;  // the index the next find gets
  std::size_t listedBefore_ = 0; // records of the snapshot; this search's finds follow
  bool indexesRanOut_ = false;
  bool candidateCapHit_ = false;
  bool groupCapHit_ = false;
  // The folder groups' evaluation: what its backward searches read and the
  // data areas it tried (each once, whichever group implied it).
  FatSectorIndex& FatSectors();
  std::shared_ptr<FatSectorIndex> fatSectors_;
  std::set<std::pair<std::uint64_t, std::uint8_t>> triedDataAreas_;
  std::uint64_t foldersReach_ = UINT64_MAX;  // past the last folder found
  std::uint64_t verifying_ = 0;              // the data area whose FATs are looked for
  std::int64_t verifyRange_ = 0;             // the progress bar's range for it
  // This search's finds, in the order of listed_ after listedBefore_.
  std::vector<SourceRecord*> finds_;
  // FAT volumes rebuilt from folder groups: their start and their folders' reach.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> folderVolumes_;
  std::vector<MftFind> mftFinds_;
};

// "Std Vol" with the number as the search names its finds.
std::u16string FoundVolumeName(std::uint32_t number);
// "Adv Vol" with the number: volumes the deep search rebuilt without a boot sector.
std::u16string DeepFoundVolumeName(std::uint32_t number);

}  // namespace corvan
