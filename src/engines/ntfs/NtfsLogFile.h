#pragma once
// The $LogFile journal as a source of lost run lists. When NTFS deletes or
// shrinks a file it rewrites the mapping pairs of its $DATA attribute and
// logs the bytes before and after the change; for a file whose record no
// longer says where its data lay, those images give the runs back.
//
// The reader works on the journal's bytes in memory (the engine reads the
// $LogFile through its runs) and on the targets, one per file of interest,
// named as the journal names an attribute: the $MFT cluster and block of
// the record and the offsets of the attribute and its mapping pairs.

#include <cstdint>
#include <span>
#include <vector>

#include "core/RunWalker.h"

namespace corvan::ntfs {

inline constexpr std::uint32_t kLogPageSize = 4096;
inline constexpr std::uint32_t kLogPageHeader = 0x40;
inline constexpr std::uint32_t kLogRecordHeader = 0x30;

// Journal operations of interest.
inline constexpr std::uint16_t kLogUpdateMappingPairs = 9;
inline constexpr std::uint16_t kLogSetNewAttributeSizes = 11;

struct LogTarget {
  std::uint32_t recordNumber = 0;
  std::uint64_t recordLcn = 0;       // the $MFT cluster that holds the record
  std::uint64_t recordVcn = 0;       // that cluster's VCN within the $MFT
  std::uint16_t blockInCluster = 0;  // 512-byte block of the record within that cluster
  std::uint16_t dataAttributeOffset = 0;
  std::uint16_t pairsOffset = 0;  // mapping pairs, from the attribute's start
  bool compressed = false;
};

struct LogRebuild {
  std::uint32_t recordNumber = 0;
  std::vector<DataExtent> runs;
  std::uint64_t totalClusters = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;  // from the newest size change the journal kept; 0 when none
  bool compressed = false;
  bool valid = false;
};

class LogFileReader {
 public:
  LogFileReader(std::span<const std::uint8_t> journal, std::uint32_t clusterBytes);

  void Init(std::vector<LogTarget> targets);
  // Finds the oldest record page the circular journal still holds. The
  // restart area and pages that are not record pages are passed over. False
  // when the journal holds no record page.
  bool FindStartPage();
  // Walks every record page from the start page in log order and keeps the
  // images of the records that changed a target's mapping pairs or sizes.
  bool CollectImages();
  // One result per target that the journal gave runs for.
  std::vector<LogRebuild> RebuildRuns() const;

  std::size_t ImageCount() const { return pairImages_.size() + sizeImages_.size(); }
  std::uint32_t StartPage() const { return startPage_; }

 private:
  struct PairImage {
    std::uint64_t lsn;
    std::size_t target;
    bool fromUndo;  // runs before the change
    std::uint32_t position;  // from the start of the mapping pairs
    std::vector<std::uint8_t> bytes;
  };
  struct SizeImage {
    std::uint64_t lsn;
    std::size_t target;
    std::uint64_t allocated, real;
  };

  bool IsRecordPage(std::uint32_t page) const;
  const std::uint8_t* Page(std::uint32_t page) const { return pages_.data() + std::size_t{page} * kLogPageSize; }
  void ProcessRecord(std::span<const std::uint8_t> record);

  std::vector<std::uint8_t> pages_;  // the journal with each record page's fixup applied
  std::vector<std::uint8_t> recordPage_;
  std::uint32_t pageCount_ = 0;
  std::uint32_t circularStart_ = 0;
  std::uint32_t startPage_ = 0;
  std::uint32_t clusterBytes_ = 0;
  std::vector<LogTarget> targets_;
  std::vector<PairImage> pairImages_;
  std::vector<SizeImage> sizeImages_;
};

}  // namespace corvan::ntfs
