#include "sources/VmdkLayout.h"

#include <algorithm>
#include <mutex>

#include "platform/ByteCodec.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

// Bounds that keep every product below 2^63 whatever a header says.
constexpr std::uint64_t kMaxGrainSectors = 1u << 20;
constexpr std::uint64_t kMaxTableEntries = 1u << 20;
constexpr std::uint64_t kMaxDiskBytes = std::uint64_t{1} << 62;
// Grain tables kept in memory per extent before the cache starts afresh
// (4 bytes a grain: 64 MiB cover 1 TiB in 64 KiB grains).
constexpr std::uint64_t kTableCacheBytes = 64u << 20;
// A grain-table entry of 1 means a grain of zeros when the header says so.
constexpr std::uint32_t kZeroGrainFlag = 1u << 2;

constexpr std::uint64_t kDefaultGrainSize = 128;
constexpr std::uint64_t kDefaultTableEntries = 512;

}  // namespace

VmdkSparseHeader ParseVmdkSparseHeader(const std::uint8_t* s) {
  VmdkSparseHeader h;
  if (GetLE32(s) != kVmdkSparseMagic) return h;
  h.valid = true;
  h.flags = GetLE32(s + 8);
  h.capacity = GetLE64(s + 12);
  h.grainSize = GetLE64(s + 20);
  h.descriptorOffset = GetLE64(s + 28);
  h.descriptorSize = GetLE64(s + 36);
  h.numGTEsPerGT = GetLE32(s + 44);
  h.rgdOffset = GetLE64(s + 48);
  h.gdOffset = GetLE64(s + 56);
  return h;
}

SparseExtentFile::SparseExtentFile(FileHandle file, std::uint64_t capacity,
                                   std::uint64_t defaultDirectory)
    : file_(std::move(file)) {
  fileSize_ = file_.Size().value_or(0);
  std::uint8_t sector[kSectorSize] = {};
  file_.ReadAt(sector, sizeof sector, 0);
  const VmdkSparseHeader h = ParseVmdkSparseHeader(sector);
  std::uint64_t directorySector = defaultDirectory;
  grainSize_ = kDefaultGrainSize;
  tableEntries_ = kDefaultTableEntries;
  std::uint32_t flags = 0;
  if (h.valid) {
    flags = h.flags;
    grainSize_ = h.grainSize;
    tableEntries_ = h.numGTEsPerGT;
    compressed_ = (h.flags & kVmdkCompressedGrains) != 0;
    // The redundant directory first, as long as it lies inside the file.
    directorySector = (h.rgdOffset != 0 && h.rgdOffset < fileSize_ / kSectorSize) ? h.rgdOffset
                                                                                   : h.gdOffset;
  }
  zeroGrains_ = (flags & kZeroGrainFlag) != 0;
  usable_ = grainSize_ != 0 && grainSize_ <= kMaxGrainSectors && tableEntries_ != 0 &&
            tableEntries_ <= kMaxTableEntries;
  if (!usable_) return;
  coverage_ = grainSize_ * tableEntries_;
  const std::uint64_t tables = capacity / coverage_ + (capacity % coverage_ != 0 ? 1 : 0);
  directory_ = ReadTable(directorySector, tables);
  tables_.resize(directory_.size());
  if (directory_.empty()) usable_ = false;  // no grain can be found
}

SparseExtentFile::Table SparseExtentFile::ReadTable(std::uint64_t sector,
                                                    std::uint64_t entries) const {
  if (sector >= fileSize_ / kSectorSize) return {};
  const std::uint64_t offset = sector * kSectorSize;
  const std::uint64_t count = std::min(entries, (fileSize_ - offset) / 4);
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(count) * 4);
  const std::int64_t got = file_.ReadAt(raw.data(), raw.size(), offset);
  const std::size_t read = got > 0 ? static_cast<std::size_t>(got) / 4 : 0;
  Table table(read);
  for (std::size_t i = 0; i < read; ++i) table[i] = GetLE32(raw.data() + i * 4);
  return table;
}

std::shared_ptr<const SparseExtentFile::Table> SparseExtentFile::GrainTable(std::size_t index) const {
  {
    std::shared_lock lock(cacheMutex_);
    if (tables_[index]) return tables_[index];
  }
  auto loaded = std::make_shared<const Table>(ReadTable(directory_[index], tableEntries_));
  std::unique_lock lock(cacheMutex_);
  if (tables_[index]) return tables_[index];
  const std::uint64_t bytes = loaded->size() * 4;
  if (cachedBytes_ + bytes > kTableCacheBytes) {
    // Readers that still hold a table keep it alive through their pointer.
    std::fill(tables_.begin(), tables_.end(), nullptr);
    cachedBytes_ = 0;
  }
  tables_[index] = loaded;
  cachedBytes_ += bytes;
  return loaded;
}

ImageRun SparseExtentFile::Locate(std::uint64_t offset, std::uint64_t maxLength) const {
  if (!usable_) return FailedRun(maxLength);
  const std::uint64_t sector = offset / kSectorSize;
  const std::uint64_t within = offset % kSectorSize;
  const std::uint64_t tableIndex = sector / coverage_;
  const std::uint64_t inTable = sector % coverage_;
  const std::uint64_t entryIndex = inTable / grainSize_;
  const std::uint64_t inGrain = inTable % grainSize_;
  const std::uint64_t length =
      std::min(maxLength, (grainSize_ - inGrain) * kSectorSize - within);

  if (tableIndex >= directory_.size()) return FailedRun(length);  // directory cut short
  if (directory_[tableIndex] == 0) return ZeroRun(length);
  const auto table = GrainTable(static_cast<std::size_t>(tableIndex));
  if (entryIndex >= table->size()) return FailedRun(length);  // table cut short
  const std::uint32_t grain = (*table)[static_cast<std::size_t>(entryIndex)];
  if (grain == 0 || (grain == 1 && zeroGrains_)) return ZeroRun(length);
  if (compressed_) return FailedRun(length);  // deflated grains are not read
  return ImageRun{&file_, (grain + inGrain) * kSectorSize + within, length, true};
}

void VmdkLayout::Add(Extent extent, std::uint64_t sectors) {
  const std::uint64_t room = kMaxDiskBytes - total_;
  extent.start = total_;
  extent.bytes = std::min(sectors, room / kSectorSize) * kSectorSize;
  total_ += extent.bytes;
  if (extent.bytes != 0) extents_.push_back(std::move(extent));
}

void VmdkLayout::AddFlat(std::uint64_t sectors, FileHandle file, std::uint64_t fileStartSector) {
  Extent e;
  e.kind = Kind::Flat;
  e.file = std::move(file);
  e.fileStart = std::min(fileStartSector, kMaxDiskBytes / kSectorSize) * kSectorSize;
  Add(std::move(e), sectors);
}

void VmdkLayout::AddSparse(std::uint64_t sectors, std::unique_ptr<SparseExtentFile> sparse) {
  Extent e;
  e.kind = Kind::Sparse;
  e.sparse = std::move(sparse);
  Add(std::move(e), sectors);
}

void VmdkLayout::AddEmpty(std::uint64_t sectors, bool readable) {
  Extent e;
  e.kind = readable ? Kind::Zero : Kind::Unreadable;
  Add(std::move(e), sectors);
}

bool VmdkLayout::HasReadableData() const {
  return std::any_of(extents_.begin(), extents_.end(), [](const Extent& e) {
    return e.kind == Kind::Flat || e.kind == Kind::Zero || (e.kind == Kind::Sparse && e.sparse->Usable());
  });
}

ImageRun VmdkLayout::Locate(std::uint64_t offset, std::uint64_t maxLength) const {
  auto it = std::upper_bound(extents_.begin(), extents_.end(), offset,
                             [](std::uint64_t value, const Extent& e) { return value < e.start; });
  if (it == extents_.begin()) return FailedRun(maxLength);
  const Extent& e = *(it - 1);
  const std::uint64_t within = offset - e.start;
  if (within >= e.bytes) return FailedRun(maxLength);
  const std::uint64_t length = std::min(maxLength, e.bytes - within);
  switch (e.kind) {
    case Kind::Flat: return ImageRun{&e.file, e.fileStart + within, length, true};
    case Kind::Sparse: return e.sparse->Locate(within, length);
    case Kind::Zero: return ZeroRun(length);
    case Kind::Unreadable: break;
  }
  return FailedRun(length);
}

}  // namespace corvan
