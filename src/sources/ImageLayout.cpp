#include "sources/ImageLayout.h"

#include <algorithm>
#include <cstring>

namespace corvan {

namespace {

// A file read waiting to be issued, grown while the runs stay contiguous.
struct PendingRead {
  const FileHandle* file = nullptr;
  std::uint64_t fileOffset = 0;
  std::uint8_t* out = nullptr;
  std::size_t length = 0;

  bool Extends(const ImageRun& run, const std::uint8_t* at) const {
    return file == run.file && fileOffset + length == run.fileOffset && out + length == at;
  }
  // False when the file held less than asked for; the rest is zeroed.
  bool Issue() {
    if (length == 0) return true;
    const std::int64_t got = file->ReadAt(out, length, fileOffset);
    const std::size_t done = got > 0 ? static_cast<std::size_t>(got) : 0;
    const bool complete = done == length;
    if (!complete) std::memset(out + done, 0, length - done);
    length = 0;
    return complete;
  }
};

}  // namespace

bool ReadThroughLayout(const ImageLayout& layout, std::uint64_t offset, std::uint8_t* out,
                       std::size_t length) {
  const std::uint64_t diskBytes = layout.DiskBytes();
  bool ok = true;
  PendingRead pending;
  std::size_t pos = 0;
  while (pos < length) {
    const std::uint64_t at = offset + pos;
    const std::uint64_t want = length - pos;
    if (at < offset || at >= diskBytes) {  // past the end of the disk
      std::memset(out + pos, 0, want);
      ok = false;
      break;
    }
    ImageRun run = layout.Locate(at, std::min(want, diskBytes - at));
    if (run.length == 0 || run.length > want) {  // a layout fault must not loop or overrun
      std::memset(out + pos, 0, want);
      ok = false;
      break;
    }
    if (run.file != nullptr && run.ok) {
      if (!pending.Extends(run, out + pos)) {
        if (!pending.Issue()) ok = false;
        pending = PendingRead{run.file, run.fileOffset, out + pos, 0};
      }
      pending.length += static_cast<std::size_t>(run.length);
    } else {
      std::memset(out + pos, 0, static_cast<std::size_t>(run.length));
      if (!run.ok) ok = false;
    }
    pos += static_cast<std::size_t>(run.length);
  }
  if (!pending.Issue()) ok = false;
  return ok;
}

PlainFileLayout::PlainFileLayout(FileHandle file, std::uint64_t diskBytes, std::uint64_t dataLimit)
    : file_(std::move(file)), diskBytes_(diskBytes), dataLimit_(dataLimit) {}

ImageRun PlainFileLayout::Locate(std::uint64_t offset, std::uint64_t maxLength) const {
  if (offset >= dataLimit_) return FailedRun(maxLength);
  return ImageRun{&file_, offset, std::min(maxLength, dataLimit_ - offset), true};
}

BlockMapLayout::BlockMapLayout(FileHandle file, Geometry geometry, std::vector<std::uint32_t> map)
    : file_(std::move(file)), g_(geometry), map_(std::move(map)) {}

ImageRun BlockMapLayout::Locate(std::uint64_t offset, std::uint64_t maxLength) const {
  const std::uint64_t block = offset / g_.blockBytes;
  const std::uint64_t within = offset % g_.blockBytes;
  const std::uint64_t length = std::min(maxLength, g_.blockBytes - within);
  if (block >= map_.size()) return FailedRun(length);  // the table is shorter than the disk
  const std::uint32_t entry = map_[static_cast<std::size_t>(block)];
  if (entry >= g_.firstEmpty) return ZeroRun(length);
  return ImageRun{&file_, g_.base + entry * g_.unit + within, length, true};
}

}  // namespace corvan
