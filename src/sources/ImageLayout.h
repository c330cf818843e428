#pragma once
// Where the bytes of a virtual disk lie in the files of its image. Each image
// format describes its layout as runs; one loop turns a request into as few
// file reads as the layout allows (neighbouring runs that are also neighbours
// in the file become one read).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/FileHandle.h"

namespace corvan {

// A stretch of the virtual disk as the image stores it.
struct ImageRun {
  const FileHandle* file = nullptr;  // null: nothing stored, reads as zeros
  std::uint64_t fileOffset = 0;
  std::uint64_t length = 0;          // bytes, from 1 up to the length asked for
  bool ok = true;                    // false: the data exists but cannot be had (zeros, failure)
};

inline ImageRun ZeroRun(std::uint64_t length) { return ImageRun{nullptr, 0, length, true}; }
inline ImageRun FailedRun(std::uint64_t length) { return ImageRun{nullptr, 0, length, false}; }

class ImageLayout {
 public:
  virtual ~ImageLayout() = default;
  // Size of the virtual disk in bytes.
  virtual std::uint64_t DiskBytes() const = 0;
  // The run that starts at `offset` (below DiskBytes()), at most `maxLength`
  // (at least 1) long. Safe to call from several threads at once.
  virtual ImageRun Locate(std::uint64_t offset, std::uint64_t maxLength) const = 0;
  // False when no byte of the disk can be had from the image's files (its
  // one file not open, every extent missing or unusable).
  virtual bool HasReadableData() const = 0;
};

// Reads `length` bytes at byte `offset` of the virtual disk. Everything that
// cannot be read (past the end of the disk, past the end of a file, a missing
// file, a damaged table) reads as zeros and makes the result false.
bool ReadThroughLayout(const ImageLayout& layout, std::uint64_t offset, std::uint8_t* out,
                       std::size_t length);

// A disk stored as it is in one file from `dataStart` on: flat extents,
// fixed Virtual PC disks, raw images. Bytes past `dataLimit` in the file
// (a trailing footer, for one) are not disk data.
class PlainFileLayout final : public ImageLayout {
 public:
  PlainFileLayout(FileHandle file, std::uint64_t diskBytes, std::uint64_t dataLimit);
  std::uint64_t DiskBytes() const override { return diskBytes_; }
  ImageRun Locate(std::uint64_t offset, std::uint64_t maxLength) const override;
  bool HasReadableData() const override { return file_.IsOpen() && dataLimit_ != 0; }

 private:
  FileHandle file_;
  std::uint64_t diskBytes_;
  std::uint64_t dataLimit_;
};

// A disk cut into blocks of equal size, found through a table of u32 block
// numbers (VirtualBox block map, Virtual PC block allocation table). Block
// `b` with entry e lies at file offset `base` + e * `unit`; entries from
// `firstEmpty` on mean a block that was never written (zeros).
class BlockMapLayout final : public ImageLayout {
 public:
  struct Geometry {
    std::uint64_t diskBytes = 0;
    std::uint64_t blockBytes = 0;  // nonzero
    std::uint64_t base = 0;
    std::uint64_t unit = 0;
    std::uint32_t firstEmpty = 0xFFFFFFFF;
  };
  BlockMapLayout(FileHandle file, Geometry geometry, std::vector<std::uint32_t> map);
  std::uint64_t DiskBytes() const override { return g_.diskBytes; }
  ImageRun Locate(std::uint64_t offset, std::uint64_t maxLength) const override;
  // A map of unwritten blocks is a disk of zeros, which is still a disk.
  bool HasReadableData() const override { return file_.IsOpen(); }

 private:
  FileHandle file_;
  Geometry g_;
  std::vector<std::uint32_t> map_;
};

}  // namespace corvan
