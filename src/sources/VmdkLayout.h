#pragma once
// VMware disks: a list of extents, each a flat file, a sparse file (grain
// directory, grain tables, grains), a run of zeros, or a file that is
// missing. A sparse extent keeps its file open and caches its grain
// directory and the grain tables it has used.

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "sources/ImageLayout.h"

namespace corvan {

inline constexpr std::uint32_t kVmdkSparseMagic = 0x564D444B;  // "KDMV"
inline constexpr std::uint32_t kVmdkCompressedGrains = 1u << 16;

// The header in the first sector of a sparse extent file (little-endian).
struct VmdkSparseHeader {
  bool valid = false;  // the magic is there
  std::uint32_t flags = 0;
  std::uint64_t capacity = 0;  // sectors
  std::uint64_t grainSize = 0;  // sectors
  std::uint64_t descriptorOffset = 0;
  std::uint64_t descriptorSize = 0;
  std::uint32_t numGTEsPerGT = 0;
  std::uint64_t rgdOffset = 0;
  std::uint64_t gdOffset = 0;
};

VmdkSparseHeader ParseVmdkSparseHeader(const std::uint8_t* sector);

// A sparse extent file. Extent offsets and lengths are in bytes.
class SparseExtentFile {
 public:
  // `capacity` is the extent's size in sectors. A file without the magic is
  // read with the usual values (grains of 128 sectors, 512 entries a table)
  // and its directory at `defaultDirectory`.
  SparseExtentFile(FileHandle file, std::uint64_t capacity, std::uint64_t defaultDirectory);
  ImageRun Locate(std::uint64_t offset, std::uint64_t maxLength) const;
  // False when the header's numbers cannot describe a sparse file, or its
  // grain directory is not in the file.
  bool Usable() const { return usable_; }

 private:
  using Table = std::vector<std::uint32_t>;
  std::shared_ptr<const Table> GrainTable(std::size_t index) const;
  Table ReadTable(std::uint64_t sector, std::uint64_t entries) const;

  FileHandle file_;
  std::uint64_t fileSize_ = 0;
  std::uint64_t grainSize_ = 0;
  std::uint64_t tableEntries_ = 0;
  std::uint64_t coverage_ = 0;  // sectors covered by one grain table
  bool usable_ = false;
  bool compressed_ = false;
  bool zeroGrains_ = false;
  Table directory_;

  mutable std::shared_mutex cacheMutex_;
  mutable std::vector<std::shared_ptr<const Table>> tables_;
  mutable std::uint64_t cachedBytes_ = 0;
};

class VmdkLayout final : public ImageLayout {
 public:
  void AddFlat(std::uint64_t sectors, FileHandle file, std::uint64_t fileStartSector);
  void AddSparse(std::uint64_t sectors, std::unique_ptr<SparseExtentFile> sparse);
  // An extent with nothing to read: zeros that are fine ("ZERO") or zeros
  // that make the read fail (a missing file, an unknown kind).
  void AddEmpty(std::uint64_t sectors, bool readable);

  std::uint64_t DiskBytes() const override { return total_; }
  ImageRun Locate(std::uint64_t offset, std::uint64_t maxLength) const override;
  bool HasReadableData() const override;

 private:
  enum class Kind { Flat, Sparse, Zero, Unreadable };
  struct Extent {
    std::uint64_t start = 0;  // bytes into the disk
    std::uint64_t bytes = 0;
    Kind kind = Kind::Unreadable;
    FileHandle file;
    std::uint64_t fileStart = 0;  // bytes, flat extents
    std::unique_ptr<SparseExtentFile> sparse;
  };
  void Add(Extent extent, std::uint64_t sectors);

  std::vector<Extent> extents_;
  std::uint64_t total_ = 0;
};

}  // namespace corvan
