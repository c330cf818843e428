#pragma once
// What Advance Recovery takes from FILE records it finds by searching the
// disk rather than through the $MFT: the record's number, parent and kind,
// and, for the sectors-per-cluster vote, the cluster size its own $DATA
// sizes imply. Pure functions over one 1024-byte record.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace corvan::ntfs {

// A power of two from 1 to 512: the sectors per cluster the format allows.
inline bool ValidSectorsPerCluster(std::uint32_t spc) { return spc >= 1 && spc <= 512 && (spc & (spc - 1)) == 0; }

// "FILE" followed by the low byte of an update-sequence offset of 0x2A or
// 0x30: where a record search treats a 1024-byte slot as a record.
bool HasRecordSignature(std::span<const std::uint8_t> bytes);

struct FoundRecord {
  std::uint32_t recordNumber = 0;
  bool numberKnown = false;
  std::uint16_t sequence = 0;
  std::uint32_t parent = 0;  // of its $FILE_NAME; 0 when it has none
  bool isFile = false;       // record flags neither 2 nor 3
  std::uint16_t flags = 0;
  // Non-zero in an extension record: the number of the base record whose
  // attributes it holds. Such a record is part of that file, no file itself.
  std::uint64_t baseRecord = 0;
  bool hasAttributeList = false;
};

// Reads a record found at a position of the disk. `placeNumber` is its
// number as its place in the $MFT gives it, when that is known; it is taken
// in preference to the record's own field, which records with their update
// sequence at 0x2A do not have. Nothing when the record fails its fixup or
// its header cannot be parsed.
std::optional<FoundRecord> ExamineFoundRecord(std::span<const std::uint8_t> record,
                                              std::optional<std::uint64_t> placeNumber);

// Sum of the run lengths of mapping pairs in the vote's strict form: length
// and offset fields of 1 to 4 bytes each (a hole makes the list unusable),
// ending with a zero byte inside `pairs`. 0 when unusable; `firstCluster`
// gets the first run's stored offset.
std::uint64_t CountDataRunClusters(std::span<const std::uint8_t> pairs, std::uint64_t& firstCluster);

// The sectors per cluster a file record votes for: its unnamed $DATA's
// allocated size divided by the clusters its runs cover, when that is one of
// the allowed cluster sizes. 0 (no vote) for folders, resident, compressed,
// encrypted or sparse data, records with an $ATTRIBUTE_LIST, damaged records
// and sizes beyond `volumeSectors`.
std::uint32_t ClusterSizeVote(std::span<const std::uint8_t> record, std::uint64_t volumeSectors);

// The votes of a search: the value with most votes wins, the smaller one on
// equal votes.
class ClusterSizeTally {
 public:
  void Add(std::uint32_t sectorsPerCluster);
  std::uint32_t Votes() const { return votes_; }
  std::uint32_t Decide() const;

 private:
  std::array<std::uint32_t, 10> counts_{};
  std::uint32_t votes_ = 0;
};

}  // namespace corvan::ntfs
