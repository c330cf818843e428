#pragma once
// Rebuilding a FAT volume's layout from its folders when no boot sector can
// be trusted. Every subfolder begins with a sector whose first two entries
// are "." (naming the folder's own first cluster C) and "..", and that
// sector lies at S = D + (C - 2) x spc. The spacing of such sectors gives
// the cluster size, each sector then votes for a data-area start D, and the
// winning D gives the FAT kind, the reserved sectors and the FAT size once
// the FAT's media signature is found in front of it.
//
// These are pure functions over the records and a sector probe, so the
// engine, the tests and the fuzzer drive the same code.

#include <cstdint>
#include <functional>
#include <vector>

namespace corvan {

// A folder-start sector found on the volume.
struct DirectoryClusterRecord {
  std::uint32_t sector = 0;   // S, relative to the volume start
  std::uint32_t cluster = 0;  // C, from the "." entry
  std::uint8_t estimate = 0;  // sectors per cluster estimated for it (0: none)
};

// One candidate data-area start with its votes.
struct VoteRecord {
  std::uint32_t start = 0;  // D, sectors from the volume start
  std::uint32_t votes = 0;
  std::uint32_t sectorsPerCluster = 0;
};

// At most this many records are collected.
inline constexpr std::size_t kMaxDirectoryRecords = 50;

// Whether the sector is a folder's first: "." and seven blanks at byte 0,
// ".." and six blanks at byte 32.
bool IsFolderStartSector(const std::uint8_t* sector);

// Adds one vote for (start, spc).
void VoteTableAdd(std::vector<VoteRecord>& table, std::uint32_t start, std::uint32_t spc);
// Most votes first, then the larger cluster size (an exchange sort, so equal
// keys keep the order that sort gives them).
void VoteTableSort(std::vector<VoteRecord>& table);

// Sets each record's estimate and returns the cluster size that the pairs of
// records agree on most often (0 when none).
std::uint8_t EstimateClusterSizes(std::vector<DirectoryClusterRecord>& records);

// Which data-area starts a record may vote for: near the volume's start
// only (the vote alone decides the layout, so chance agreements far in must
// not), or any in front of it (the FAT copies then confirm it).
enum class VoteReach { Near, Any };

// The votes of records whose estimate is set: one for D = S - (C - 2) x spc
// when D > 0 and, near, D < 100000 and (D <= 555 or spc >= 8); sorted.
std::vector<VoteRecord> CollectVotes(const std::vector<DirectoryClusterRecord>& records,
                                     VoteReach reach = VoteReach::Near);

// What the vote leaves. When no candidate is accepted the values of the last
// candidate examined stay, with the overall estimate as the cluster size.
struct VotedLayout {
  std::uint8_t kind = 1;  // kFat16 until a candidate says otherwise
  std::uint8_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 1;
  std::uint32_t rootDirSectors = 32;
  std::uint32_t fatSize = 0;
  std::uint64_t sectorCount = 0;
  bool accepted = false;
};

// Tells whether the sector at this distance from the volume start begins
// with the FAT signature F8 FF FF.
using FatSignatureProbe = std::function<bool(std::uint64_t relativeSector)>;

// The vote over `records` on a volume of `sectorCount` sectors (0: unknown).
VotedLayout VoteLayout(std::vector<DirectoryClusterRecord>& records, std::uint64_t sectorCount,
                       const FatSignatureProbe& probe);

}  // namespace corvan
