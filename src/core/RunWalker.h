#pragma once
// A file's data handed out as a sequence of blocks, whatever the file system
// keeps it in: cluster runs (NTFS runs, FAT chains turned into runs), holes
// that read as zeros, bytes kept inside the file system's own records, and
// compressed units decoded one by one. Preview, saving and zip read every
// file through WalkFileData, so a hole or a compressed unit is handled in one
// place and every byte lands at its own offset.

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

namespace corvan {

// A piece of the file: `length` clusters from cluster `vcn` of the file, kept
// at cluster `lcn` of the volume, or a hole when `sparse`.
struct DataExtent {
  std::uint64_t vcn = 0;
  std::uint64_t lcn = 0;
  std::uint64_t length = 0;
  bool sparse = false;

  bool operator==(const DataExtent&) const = default;
};

// Decodes one compressed unit. On entry `length` is the output capacity, on
// return the bytes decoded. False when the input is malformed (the bytes
// decoded before the fault are kept and counted).
using UnitDecoder = bool (*)(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* output,
                             std::uint32_t& length);

struct FileDataLayout {
  std::uint64_t size = 0;  // bytes of the file
  // Bytes at and past this offset read as zeros without touching the disk
  // (space the file system allocated but never wrote).
  std::uint64_t validSize = std::numeric_limits<std::uint64_t>::max();
  std::uint32_t clusterBytes = 0;
  std::vector<DataExtent> extents;  // any order; clusters no extent covers read as zeros

  bool resident = false;  // the data is `residentData`, no clusters
  std::vector<std::uint8_t> residentData;

  // Compressed data: the file is cut into units of `unitClusters` clusters by
  // cluster number; a unit whose clusters are all allocated is stored plain,
  // one with none is zeros, any other holds compressed data in its allocated
  // clusters. 0: not compressed.
  std::uint32_t unitClusters = 0;
  UnitDecoder decoder = nullptr;
};

enum class DataBlockKind : std::uint8_t {
  Normal,    // read from the volume
  Sparse,    // zeros: a hole, a cluster no extent covers, or past the valid size
  Resident,  // bytes of the record itself
  Decoded,   // a compressed unit after decoding
};

// `DataBlock::lcn` of blocks that come from no cluster.
inline constexpr std::uint64_t kNoDataCluster = std::numeric_limits<std::uint64_t>::max();

struct DataBlock {
  DataBlockKind kind = DataBlockKind::Normal;
  std::uint64_t offset = 0;  // in the file
  std::span<const std::uint8_t> bytes;
  // A read failed (zeros stand where nothing could be read) or a unit did not
  // decode completely (zeros follow what was decoded).
  bool damaged = false;
  // The volume cluster the data came from, for messages about a failed read
  // (the file offset says nothing about where on the volume it failed).
  // Normal block: the cluster holding its first byte; of a file that is not
  // compressed, the block's bytes run on through the clusters that follow.
  // Decoded block: the first cluster whose read failed, else the unit's first
  // stored cluster. kNoDataCluster for zeros and resident bytes.
  std::uint64_t lcn = kNoDataCluster;
};

// Reads `count` clusters from volume cluster `lcn` into `buffer`
// (count * clusterBytes bytes). False on a failed or short read; the buffer
// then holds zeros where nothing was read.
using ClusterReader = std::function<bool(std::uint64_t lcn, std::uint64_t count, std::uint8_t* buffer)>;

// Receives each block in file order; false stops the walk.
using BlockSink = std::function<bool(const DataBlock& block)>;

struct WalkResult {
  std::uint64_t bytes = 0;        // bytes handed out
  std::uint32_t failedReads = 0;  // blocks whose read failed
  std::uint32_t failedUnits = 0;  // compressed units that did not decode fully
  bool stopped = false;           // the sink asked to stop
  bool Clean() const { return failedReads == 0 && failedUnits == 0 && !stopped; }
};

// Hands out the bytes [begin, min(end, size)) of the file described by
// `layout`, in order, in blocks of at most kMaxDataBlock bytes.
inline constexpr std::uint32_t kMaxDataBlock = 1u << 20;
WalkResult WalkFileData(const FileDataLayout& layout, const ClusterReader& read, const BlockSink& sink,
                        std::uint64_t begin = 0,
                        std::uint64_t end = std::numeric_limits<std::uint64_t>::max());

// The same bytes gathered into one buffer.
std::vector<std::uint8_t> ReadFileData(const FileDataLayout& layout, const ClusterReader& read,
                                       std::uint64_t begin = 0,
                                       std::uint64_t end = std::numeric_limits<std::uint64_t>::max(),
                                       WalkResult* result = nullptr);

// A cluster list (a FAT chain, or a run spelt out cluster by cluster) as
// extents: neighbouring clusters merge into one extent.
std::vector<DataExtent> ExtentsFromClusterList(const std::vector<std::uint32_t>& clusters);

// Extents sorted by file cluster, overlaps cut and gaps up to `clusters`
// filled with holes: the form the walker works on.
std::vector<DataExtent> NormaliseExtents(std::vector<DataExtent> extents, std::uint64_t clusters);

}  // namespace corvan
