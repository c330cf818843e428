#include "scan/ScanInfoFile.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <system_error>

#include "platform/ByteCodec.h"
#include "platform/FileHandle.h"

namespace corvan {

namespace {

constexpr std::size_t kBannerOffset = 101;
constexpr std::size_t kSecondBannerOffset = 229;
constexpr std::size_t kImagePathUnits = 260;
constexpr std::size_t kMaxNameUnits = 255;
constexpr std::uint8_t kSourceSelectedVolume = kSourceVolume;

std::string At(std::uint64_t offset) { return " at offset " + std::to_string(offset); }

ScanInfoStatus Fail(ScanInfoError error, std::string detail) { return {error, std::move(detail)}; }

ScanInfoWriteResult FailWrite(ScanInfoError error, std::string detail) {
  ScanInfoWriteResult r;
  r.error = error;
  r.detail = std::move(detail);
  return r;
}

std::uint64_t WholeSectors(std::uint64_t bytes) {
  return (bytes + kScanInfoSectorSize - 1) / kScanInfoSectorSize * kScanInfoSectorSize;
}

// Block lengths the header announces; absent blocks are 0.
struct TableLengths {
  std::uint64_t fat = 0;
  std::uint64_t clusterMap = 0;
  std::uint64_t advance = 0;
  std::uint64_t mftRuns = 0;
};

TableLengths LengthsOf(const ScanImageFileHeader& h) {
  TableLengths t;
  switch (EngineOfHeader(h)) {
    case ScanInfoEngine::Fat:
    case ScanInfoEngine::ExFat:
      if (h.fatSource != kScanFatSourceContiguous) t.fat = std::uint64_t{h.fatSize} * kScanInfoSectorSize;
      // The exFAT engine copies its map work file in whole sectors.
      t.clusterMap = EngineOfHeader(h) == ScanInfoEngine::Fat ? h.clusterMapSize : WholeSectors(h.clusterMapSize);
      break;
    case ScanInfoEngine::Ntfs:
      // The Advance records take the place of the $MFT runs whenever there
      // are any.
      if (h.advanceCount != 0) t.advance = std::uint64_t{h.advanceCount} * kAdvanceEntrySize;
      else if (h.hasMftRuns == 1) t.mftRuns = h.mftRunBytes;
      break;
  }
  return t;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// ---- reading ---------------------------------------------------------------

// Reads a saved scan through a window, since the item part is many small
// records. A file and bytes in memory (the fuzz target's) are read through
// the same window and the same checks; only the positional read differs.
class ByteInput {
 public:
  using ReadAt = std::function<bool(void* out, std::size_t n, std::uint64_t at)>;
  ByteInput(ReadAt readAt, std::uint64_t size) : readAt_(std::move(readAt)), size_(size) {}
  std::uint64_t Size() const { return size_; }
  bool Read(void* out, std::size_t n, std::uint64_t at) {
    if (at > size_ || n > size_ - at) return false;
    if (n == 0) return true;  // an empty block: nothing to copy, nowhere to copy it
    if (n >= kWindow) return readAt_(out, n, at);
    if (at < windowAt_ || at + n > windowAt_ + window_.size()) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, size_ - at));
      window_.resize(want);
      if (!readAt_(window_.data(), want, at)) {
        window_.clear();
        return false;
      }
      windowAt_ = at;
    }
    std::memcpy(out, window_.data() + (at - windowAt_), n);
    return true;
  }

 private:
  static constexpr std::size_t kWindow = 1 << 20;
  ReadAt readAt_;
  std::uint64_t size_;
  std::vector<std::uint8_t> window_;
  std::uint64_t windowAt_ = 0;
};

ByteInput SpanInput(std::span<const std::uint8_t> bytes) {
  return ByteInput(
      [bytes](void* out, std::size_t n, std::uint64_t at) {
        std::memcpy(out, bytes.data() + at, n);
        return true;
      },
      bytes.size());
}

ByteInput FileInput(const FileHandle& file, std::uint64_t size) {
  return ByteInput([&file](void* out, std::size_t n, std::uint64_t at) { return file.ReadExactAt(out, n, at); },
                   size);
}

// The bytes between the header block and the trailer; nothing is read or
// allocated for a length that is not there.
class Cursor {
 public:
  Cursor(ByteInput& in, std::uint64_t at, std::uint64_t limit) : in_(in), at_(at), limit_(limit) {}
  std::uint64_t Remaining() const { return limit_ - at_; }
  std::uint64_t Position() const { return at_; }

  ScanInfoStatus Take(void* out, std::uint64_t n, const std::string& what) {
    if (n > Remaining())
      return Fail(ScanInfoError::Truncated, what + " (" + std::to_string(n) + " bytes)" + At(at_) +
                                                " runs past the trailer at " + std::to_string(limit_));
    if (!in_.Read(out, static_cast<std::size_t>(n), at_)) return Fail(ScanInfoError::ReadFailed, "cannot read " + what + At(at_));
    at_ += n;
    return {};
  }
  ScanInfoStatus TakeBlock(std::vector<std::uint8_t>& out, std::uint64_t n, const std::string& what) {
    if (n > Remaining()) return Take(nullptr, n, what);
    out.resize(static_cast<std::size_t>(n));
    if (n == 0) return {};  // an empty block reads nothing
    return Take(out.data(), n, what);
  }
  // `count` records of `size` bytes each must fit before any is read.
  ScanInfoStatus Fits(std::uint64_t count, std::uint64_t size, const std::string& what) const {
    if (count > Remaining() / size)
      return Fail(ScanInfoError::Truncated, std::to_string(count) + " " + what + At(at_) + " need more than the " +
                                                std::to_string(Remaining()) + " bytes before the trailer");
    return {};
  }

 private:
  ByteInput& in_;
  std::uint64_t at_;
  std::uint64_t limit_;
};

#define SCANINFO_TRY(expr)         \
  do {                             \
    if (auto s_ = (expr); !s_)     \
      return s_;                   \
  } while (0)

ScanInfoStatus ReadEngineTables(Cursor& c, const ScanImageFileHeader& h, ScanEngineTables& t) {
  const TableLengths len = LengthsOf(h);
  if (EngineOfHeader(h) == ScanInfoEngine::Ntfs && h.advanceCount == 0 && h.hasMftRuns == 1 &&
      std::uint64_t{h.mftRunCount} * kMftRunEntrySize != h.mftRunBytes)
    return Fail(ScanInfoError::BadCount, std::to_string(h.mftRunCount) + " $MFT runs cannot take " +
                                             std::to_string(h.mftRunBytes) + " bytes");
  if (len.fat) SCANINFO_TRY(c.TakeBlock(t.fat, len.fat, "the FAT table"));
  if (len.clusterMap) SCANINFO_TRY(c.TakeBlock(t.clusterMap, len.clusterMap, "the cluster map"));
  if (len.advance) SCANINFO_TRY(c.TakeBlock(t.advanceRecords, len.advance, "the Advance records"));
  if (len.mftRuns) SCANINFO_TRY(c.TakeBlock(t.mftRuns, len.mftRuns, "the $MFT runs"));
  if (EngineOfHeader(h) != ScanInfoEngine::Ntfs || h.runListNodes == 0) return {};
  SCANINFO_TRY(c.Fits(h.runListNodes, kRunListNodeSize, "run-list nodes"));
  for (std::uint32_t i = 0; i < h.runListNodes; ++i) {
    ScanRunListNode node;
    const std::string what = "run-list node " + std::to_string(i);
    SCANINFO_TRY(c.Take(node.image.data(), kRunListNodeSize, what));
    // The next and run-data pointers meant something only to the writer.
    std::fill_n(node.image.begin(), 4, 0);
    std::fill_n(node.image.begin() + 30, 4, 0);
    SCANINFO_TRY(c.TakeBlock(node.runs, GetLE32(node.image.data() + kRunListNodeRunBytes), "the runs of " + what));
    t.runListNodes.push_back(std::move(node));
  }
  return {};
}

ScanInfoStatus ReadPartition(Cursor& c, SourceRecord& r, bool withArray, const std::string& what) {
  std::array<std::uint8_t, kPartitionRecordSize> b;
  SCANINFO_TRY(c.Take(b.data(), b.size(), "the partition record of " + what));
  r.partition = std::make_unique<PartitionRecord>(PartitionRecord::Decode(b));
  const std::uint32_t count = r.partition->clusterArrayCount;
  if (!withArray || count == 0) return {};
  SCANINFO_TRY(c.Fits(count, 4, "cluster entries of " + what));
  std::vector<std::uint8_t> raw;
  SCANINFO_TRY(c.TakeBlock(raw, std::uint64_t{count} * 4, "the cluster array of " + what));
  r.partition->clusterArray.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) r.partition->clusterArray[i] = GetLE32(raw.data() + 4 * i);
  return {};
}

ScanInfoStatus ReadSourceRecord(Cursor& c, SourceRecord& r, const std::string& what) {
  std::array<std::uint8_t, kSourceRecordSize> b;
  SCANINFO_TRY(c.Take(b.data(), b.size(), what));
  r = SourceRecord::Decode(b);
  return {};
}

// Opens the header and the trailer common to both forms.
ScanInfoStatus ReadFrame(ByteInput& in, std::uint8_t kind, ScanImageFileHeader& header, ScanImageRecord& trailer,
                         std::array<std::uint8_t, kScanInfoBlockSize>& block) {
  const std::uint64_t size = in.Size();
  if (size < 2 * kScanInfoBlockSize)
    return Fail(ScanInfoError::TooShort, std::to_string(size) + " bytes cannot hold a header and a trailer");
  if (!in.Read(block.data(), block.size(), 0)) return Fail(ScanInfoError::ReadFailed, "cannot read the header");
  if (!HasScanInfoBanners(block)) return Fail(ScanInfoError::NotScanInformation, "the banners are not ours");
  header = ScanImageFileHeader::Decode(std::span(block).first<kScanImageFileHeaderSize>());
  std::array<std::uint8_t, kScanInfoBlockSize> tail;
  if (!in.Read(tail.data(), tail.size(), size - kScanInfoBlockSize))
    return Fail(ScanInfoError::ReadFailed, "cannot read the trailer");
  trailer = ScanImageRecord::Decode(std::span<const std::uint8_t>(tail).first<kScanImageRecordSize>(), ScanPathForm::Plain);
  if (trailer.kind != kind)
    return Fail(ScanInfoError::WrongKind, "the trailer says kind " + std::to_string(trailer.kind) + ", not " +
                                              std::to_string(kind));
  return {};
}

ScanInfoStatus ParseVolume(ByteInput& in, VolumeScanInfo& out) {
  VolumeScanInfo info;
  std::array<std::uint8_t, kScanInfoBlockSize> block;
  SCANINFO_TRY(ReadFrame(in, kScanKindVolume, info.header, info.trailer, block));
  if (!CheckResumeHeader(block))
    return Fail(ScanInfoError::NoClusterSize, "neither sectors-per-cluster field is set");
  const ScanImageFileHeader& h = info.header;
  Cursor c(in, kScanInfoBlockSize, in.Size() - kScanInfoBlockSize);

  SCANINFO_TRY(ReadEngineTables(c, h, info.tables));

  SCANINFO_TRY(c.Fits(h.driveCount, kSourceRecordSize, "source records"));
  info.sources.reserve(h.driveCount);
  for (std::uint32_t i = 0; i < h.driveCount; ++i) {
    const std::string what = "source record " + std::to_string(i);
    SourceRecord r;
    SCANINFO_TRY(ReadSourceRecord(c, r, what));
    if (ScanInfoStoresDiskRecord(r.kind)) {
      std::array<std::uint8_t, kDiskRecordSize> b;
      SCANINFO_TRY(c.Take(b.data(), b.size(), "the disk record of " + what));
      r.disk = std::make_unique<DiskRecord>(DiskRecord::Decode(b));
    } else {
      SCANINFO_TRY(ReadPartition(c, r, true, what));
    }
    info.sources.push_back(std::move(r));
  }

  SCANINFO_TRY(ReadSourceRecord(c, info.selected, "the selected source"));
  if (info.selected.kind == kSourceSelectedVolume)
    SCANINFO_TRY(ReadPartition(c, info.selected, false, "the selected source"));

  // The items run up to the trailer exactly; anything else is a damaged file.
  while (c.Remaining() > 0) {
    const std::string what = "found item " + std::to_string(info.items.size());
    std::array<std::uint8_t, 1 + kFoundItemInfoSize> head;
    SCANINFO_TRY(c.Take(head.data(), head.size(), what));
    ScanInfoItem item;
    item.info = FoundItemInfo::Decode(std::span<const std::uint8_t>(head).subspan<1, kFoundItemInfoSize>());
    std::array<std::uint8_t, 2 * kMaxNameUnits> name;
    const std::size_t units = head[0];
    SCANINFO_TRY(c.Take(name.data(), 2 * units, "the name of " + what));
    item.name.resize(units);
    for (std::size_t i = 0; i < units; ++i) item.name[i] = static_cast<char16_t>(GetLE16(name.data() + 2 * i));
    info.items.push_back(std::move(item));
  }
  out = std::move(info);
  return {};
}

ScanInfoStatus ParseDrives(ByteInput& in, DriveScanInfo& out) {
  DriveScanInfo info;
  std::array<std::uint8_t, kScanInfoBlockSize> block;
  SCANINFO_TRY(ReadFrame(in, kScanKindDrives, info.header, info.trailer, block));
  Cursor c(in, kScanInfoBlockSize, in.Size() - kScanInfoBlockSize);
  SCANINFO_TRY(c.Fits(info.header.driveCount, kSourceRecordSize, "volume records"));
  for (std::uint32_t i = 0; i < info.header.driveCount; ++i) {
    const std::string what = "volume record " + std::to_string(i);
    SourceRecord r;
    SCANINFO_TRY(ReadSourceRecord(c, r, what));
    // Only the deep-search kinds carry a cluster array; other kinds carry
    // no payload at all.
    if (IsDriveScanVolume(r.kind))
      SCANINFO_TRY(ReadPartition(c, r, r.kind == kSourceDeepLostVolume || r.kind == kSourceImageDeepLostVolume, what));
    info.volumes.push_back(std::move(r));
  }
  if (c.Remaining() != 0)
    return Fail(ScanInfoError::Truncated, std::to_string(c.Remaining()) + " bytes" + At(c.Position()) +
                                              " lie between the volumes and the trailer");
  out = std::move(info);
  return {};
}

template <class Parse, class Info>
ScanInfoStatus ReadFromFile(const std::filesystem::path& path, Info& out, Parse parse) {
  std::error_code ec;
  const auto file = FileHandle::Open(path, FileHandle::Mode::ReadOnly, ec);
  if (!file) return Fail(ScanInfoError::CannotOpen, path.string() + ": " + ec.message());
  const auto size = file.Size();
  if (!size) return Fail(ScanInfoError::ReadFailed, path.string() + ": no size");
  ByteInput in = FileInput(file, *size);
  return parse(in, out);
}

// ---- writing ---------------------------------------------------------------

class ByteOutput {
 public:
  virtual ~ByteOutput() = default;
  virtual bool Put(const void* data, std::size_t n) = 0;
  bool Zeros(std::uint64_t n) {
    static constexpr std::array<std::uint8_t, 4096> zeros{};
    while (n > 0) {
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, zeros.size()));
      if (!Put(zeros.data(), step)) return false;
      n -= step;
    }
    return true;
  }
};

class VectorOutput final : public ByteOutput {
 public:
  explicit VectorOutput(std::vector<std::uint8_t>& out) : out_(out) {}
  bool Put(const void* data, std::size_t n) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
    return true;
  }

 private:
  std::vector<std::uint8_t>& out_;
};

class FileOutput final : public ByteOutput {
 public:
  explicit FileOutput(FileHandle& file) : file_(file) { buffer_.reserve(kBuffer); }
  bool Put(const void* data, std::size_t n) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
      const std::size_t step = std::min(n, kBuffer - buffer_.size());
      buffer_.insert(buffer_.end(), p, p + step);
      p += step;
      n -= step;
      if (buffer_.size() == kBuffer && !Flush()) return false;
    }
    return true;
  }
  bool Flush() {
    if (buffer_.empty()) return true;
    if (!file_.WriteAt(buffer_.data(), buffer_.size(), offset_)) return false;
    offset_ += buffer_.size();
    buffer_.clear();
    return true;
  }

 private:
  static constexpr std::size_t kBuffer = 1 << 20;
  FileHandle& file_;
  std::uint64_t offset_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// A block the header does not announce is left out. An announced block is
// written whole: what the engine holds when it is of
// the announced length, zeros when it holds nothing (the reader must find
// the block either way), and its bytes zero-padded when it is `shortOk`
// bytes (the exFAT map, which is stored in whole sectors).
ScanInfoStatus CheckBlock(const std::vector<std::uint8_t>& table, std::uint64_t length, const char* what,
                          std::uint64_t shortOk = 0) {
  if (length == 0 || table.empty() || table.size() == length || (shortOk && table.size() == shortOk)) return {};
  return Fail(ScanInfoError::Inconsistent, std::string(what) + " holds " + std::to_string(table.size()) +
                                               " bytes, the header announces " + std::to_string(length));
}

bool PutBlock(ByteOutput& out, const std::vector<std::uint8_t>& table, std::uint64_t length) {
  if (length == 0) return true;
  if (!table.empty() && !out.Put(table.data(), table.size())) return false;
  return out.Zeros(length - table.size());
}

ScanInfoStatus CheckVolumeContent(const VolumeScanInfo& info, const ScanImageRecord& trailer) {
  const ScanImageFileHeader& h = info.header;
  if (!ScanPathFitsRecord(trailer.path, ScanPathForm::Plain))
    return Fail(ScanInfoError::PathNotStorable, "the file's own path does not fit 259 units");
  if (!ScanPathFitsRecord(h.imagePath, ScanPathForm::Plain))
    return Fail(ScanInfoError::PathNotStorable, "the image path does not fit 259 units");
  if (h.driveCount != info.sources.size())
    return Fail(ScanInfoError::Inconsistent, "the header counts " + std::to_string(h.driveCount) +
                                                 " sources, the list holds " + std::to_string(info.sources.size()));
  const TableLengths len = LengthsOf(h);
  const ScanEngineTables& t = info.tables;
  SCANINFO_TRY(CheckBlock(t.fat, len.fat, "the FAT table"));
  const bool exfat = EngineOfHeader(h) == ScanInfoEngine::ExFat;
  SCANINFO_TRY(CheckBlock(t.clusterMap, len.clusterMap, "the cluster map", exfat ? h.clusterMapSize : 0));
  SCANINFO_TRY(CheckBlock(t.advanceRecords, len.advance, "the Advance records"));
  if (EngineOfHeader(h) != ScanInfoEngine::Ntfs) return {};
  if (h.advanceCount == 0 && h.hasMftRuns == 1 && std::uint64_t{h.mftRunCount} * kMftRunEntrySize != h.mftRunBytes)
    return Fail(ScanInfoError::Inconsistent, "the $MFT run count and byte length disagree");
  SCANINFO_TRY(CheckBlock(t.mftRuns, len.mftRuns, "the $MFT runs"));
  if (h.runListNodes != t.runListNodes.size())
    return Fail(ScanInfoError::Inconsistent, "the header counts " + std::to_string(h.runListNodes) +
                                                 " run-list nodes, the tables hold " +
                                                 std::to_string(t.runListNodes.size()));
  for (const auto& node : t.runListNodes)
    if (node.runs.size() > std::numeric_limits<std::uint32_t>::max())
      return Fail(ScanInfoError::Inconsistent, "a run-list node holds more run bytes than its count can say");
  return {};
}

// The stored count of a cluster array is the number of entries that follow,
// whatever the record says, so the reader finds the next record where it is.
bool PutPartition(ByteOutput& out, const PartitionRecord* p, bool withArray) {
  static const PartitionRecord kNone;
  const PartitionRecord& r = p ? *p : kNone;
  std::array<std::uint8_t, kPartitionRecordSize> b;
  r.Encode(b);
  if (!withArray) return out.Put(b.data(), b.size());
  // An array too long for its count is cut to what the count can say.
  const std::size_t n = std::min<std::size_t>(r.clusterArray.size(), std::numeric_limits<std::uint32_t>::max());
  PutLE32(b.data() + 321, static_cast<std::uint32_t>(n));
  if (!out.Put(b.data(), b.size())) return false;
  std::vector<std::uint8_t> raw(n * 4);
  for (std::size_t i = 0; i < n; ++i) PutLE32(raw.data() + 4 * i, r.clusterArray[i]);
  return out.Put(raw.data(), raw.size());
}

bool PutSourceRecord(ByteOutput& out, const SourceRecord& r) {
  std::array<std::uint8_t, kSourceRecordSize> b;
  r.Encode(b);
  return out.Put(b.data(), b.size());
}

bool PutTrailer(ByteOutput& out, const ScanImageRecord& trailer) {
  std::array<std::uint8_t, kScanImageRecordSize> b;
  trailer.Encode(b, ScanPathForm::Plain);
  return out.Put(b.data(), b.size()) && out.Zeros(kScanInfoBlockSize - kScanImageRecordSize);
}

ScanInfoWriteResult EmitVolume(ByteOutput& out, const VolumeScanInfo& info, const ScanInfoItemSource& items,
                               const ScanImageRecord& trailer) {
  ScanInfoWriteResult result;
  const auto writeFailed = [] { return FailWrite(ScanInfoError::WriteFailed, "a write failed"); };
  const auto block = info.header.EncodeBlock();
  if (!out.Put(block.data(), block.size())) return writeFailed();

  const TableLengths len = LengthsOf(info.header);
  const ScanEngineTables& t = info.tables;
  if (!PutBlock(out, t.fat, len.fat) || !PutBlock(out, t.clusterMap, len.clusterMap) ||
      !PutBlock(out, t.advanceRecords, len.advance) || !PutBlock(out, t.mftRuns, len.mftRuns))
    return writeFailed();
  if (EngineOfHeader(info.header) == ScanInfoEngine::Ntfs) {
    for (const auto& node : t.runListNodes) {
      std::array<std::uint8_t, kRunListNodeSize> image = node.image;
      std::fill_n(image.begin(), 4, 0);
      std::fill_n(image.begin() + 30, 4, 0);
      PutLE32(image.data() + kRunListNodeRunBytes, static_cast<std::uint32_t>(node.runs.size()));
      if (!out.Put(image.data(), image.size()) || !out.Put(node.runs.data(), node.runs.size())) return writeFailed();
    }
  }

  for (const auto& r : info.sources) {
    if (!PutSourceRecord(out, r)) return writeFailed();
    bool ok;
    if (ScanInfoStoresDiskRecord(r.kind)) {
      std::array<std::uint8_t, kDiskRecordSize> b;
      (r.disk ? *r.disk : DiskRecord{}).Encode(b);
      ok = out.Put(b.data(), b.size());
    } else {
      ok = PutPartition(out, r.partition.get(), true);
    }
    if (!ok) return writeFailed();
  }
  if (!PutSourceRecord(out, info.selected)) return writeFailed();
  if (info.selected.kind == kSourceSelectedVolume && !PutPartition(out, info.selected.partition.get(), false))
    return writeFailed();

  ScanInfoItem item;
  std::vector<std::uint8_t> record(1 + kFoundItemInfoSize + 2 * kMaxNameUnits);
  while (items && items(item)) {
    if (!IsStoredFoundItem(item.info)) continue;
    // The length is one byte; a longer name keeps its first 255 units,
    // without half of a surrogate pair.
    std::size_t units = std::min(item.name.size(), kMaxNameUnits);
    if (units < item.name.size() && IsHighSurrogate(item.name[units - 1])) --units;
    record[0] = static_cast<std::uint8_t>(units);
    item.info.Encode(std::span(record).subspan<1, kFoundItemInfoSize>());
    for (std::size_t i = 0; i < units; ++i)
      PutLE16(record.data() + 1 + kFoundItemInfoSize + 2 * i, static_cast<std::uint16_t>(item.name[i]));
    if (!out.Put(record.data(), 1 + kFoundItemInfoSize + 2 * units)) return writeFailed();
    ++result.itemsWritten;
  }
  if (!PutTrailer(out, trailer)) return writeFailed();
  return result;
}

ScanInfoStatus CheckDriveContent(const std::vector<SourceRecord>& sourceList, const ScanImageRecord& trailer) {
  if (!ScanPathFitsRecord(trailer.path, ScanPathForm::Plain))
    return Fail(ScanInfoError::PathNotStorable, "the file's own path does not fit 259 units");
  const auto n = std::count_if(sourceList.begin(), sourceList.end(), [](const SourceRecord& r) { return IsDriveScanVolume(r.kind); });
  if (n > std::numeric_limits<std::uint16_t>::max())
    return Fail(ScanInfoError::Inconsistent, std::to_string(n) + " volumes do not fit the drive count");
  return {};
}

ScanInfoWriteResult EmitDrives(ByteOutput& out, const std::vector<SourceRecord>& sourceList,
                               const ScanImageRecord& trailer) {
  ScanInfoWriteResult result;
  const auto writeFailed = [] { return FailWrite(ScanInfoError::WriteFailed, "a write failed"); };
  // Only the count, the banners and the file's own path are set.
  ScanImageFileHeader h;
  h.driveCount = static_cast<std::uint16_t>(
      std::count_if(sourceList.begin(), sourceList.end(), [](const SourceRecord& r) { return IsDriveScanVolume(r.kind); }));
  h.imagePath = trailer.path;
  const auto block = h.EncodeBlock();
  if (!out.Put(block.data(), block.size())) return writeFailed();
  for (const auto& r : sourceList) {
    if (!IsDriveScanVolume(r.kind)) continue;
    const bool deep = r.kind == kSourceDeepLostVolume || r.kind == kSourceImageDeepLostVolume;
    if (!PutSourceRecord(out, r) || !PutPartition(out, r.partition.get(), deep)) return writeFailed();
    ++result.itemsWritten;
  }
  if (!PutTrailer(out, trailer)) return writeFailed();
  return result;
}

ScanImageRecord TrailerFor(std::u16string path, std::uint8_t kind, const ScanInfoWriteOptions& options) {
  ScanImageRecord t;
  t.date = options.savedDate.substr(0, 16);
  t.path = std::move(path);
  t.kind = kind;
  return t;
}

// Writes through a temporary file beside `path` and renames it over `path`
// only when every write and the flush succeeded; then adds the index entry.
template <class Check, class Emit>
ScanInfoWriteResult WriteThroughTemporary(const std::filesystem::path& path, std::uint8_t kind,
                                          const ScanInfoWriteOptions& options, Check check, Emit emit) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::absolute(path, ec);
  if (ec || !target.has_filename()) return FailWrite(ScanInfoError::CannotCreate, path.string() + ": not a file path");
  std::u16string own = ScanRecordPathOf(target, ScanPathForm::Plain);
  if (own.empty()) return FailWrite(ScanInfoError::PathNotStorable, target.string() + ": does not fit the record");
  const ScanImageRecord trailer = TrailerFor(std::move(own), kind, options);
  if (auto s = check(trailer); !s) return FailWrite(s.error, s.detail);

  static std::atomic<unsigned> serial{0};
  std::filesystem::path temp;
  FileHandle file;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    // Not named after the target, whose name may leave no room for a suffix.
    temp = target.parent_path() / (".scaninfo-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".part");
    file = FileHandle::Open(temp, FileHandle::Mode::CreateNew, ec);
    if (!file && ec != std::errc::file_exists) break;
  }
  if (!file) return FailWrite(ScanInfoError::CannotCreate, temp.string() + ": " + ec.message());

  FileOutput out(file);
  ScanInfoWriteResult result = emit(out, trailer);
  if (result && (!out.Flush() || !file.Sync())) result = FailWrite(ScanInfoError::WriteFailed, "a write failed");
  file.Close();
  if (result) {
    std::filesystem::rename(temp, target, ec);
    if (ec) result = FailWrite(ScanInfoError::CannotReplace, target.string() + ": " + ec.message());
  }
  if (!result) {
    std::filesystem::remove(temp, ec);
    if (result.error == ScanInfoError::WriteFailed) result.detail = target.string() + ": " + result.detail;
    return result;
  }
  if (!options.indexFile.empty()) result.indexed = AppendScanIndexRecord(trailer, options.savedScans, options.indexFile);
  return result;
}

#undef SCANINFO_TRY

}  // namespace

// ---- header ----------------------------------------------------------------

ScanImageFileHeader ScanImageFileHeader::ForVolumeScan() {
  ScanImageFileHeader h;
  h.form = 1;
  h.engineMark = 1;
  h.placeMode = kScanPlaceFromHeader;
  return h;
}

void ScanImageFileHeader::Encode(std::span<std::uint8_t, kScanImageFileHeaderSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kScanImageFileHeaderSize);
  p[0] = form;
  p[1] = driveByte;
  p[2] = engineByte;
  PutLE32(p + 3, fatSize);
  PutLE32(p + 7, rootCluster);
  PutLE32(p + 11, clusterMapSize);
  p[16] = sectorsPerCluster;
  p[17] = fatKind;
  p[18] = fatSource;
  PutLE32(p + 19, reservedSectors);
  PutLE32(p + 23, rootDirSectors);
  PutLE64(p + 27, mftSector);
  PutLE64(p + 35, mftMirrorSector);
  PutLE32(p + 43, mftRunCount);
  PutLE32(p + 47, mftRunBytes);
  PutLE32(p + 51, advanceCount);
  PutLE32(p + 55, advanceFirstRecord);
  PutLE16(p + 59, clusterSectors);
  p[61] = hasMftRuns;
  p[62] = engineMark;
  PutLE64(p + 63, firstSector);
  PutLE64(p + 71, endSector);
  PutLE64(p + 79, sectorCount);
  PutLE64(p + 87, totalBytes);
  PutLE32(p + 95, postedItems);
  PutLE16(p + 99, driveCount);
  PutAsciiField(p + kBannerOffset, kScanInfoBannerSize, banner);
  PutAsciiField(p + kSecondBannerOffset, kScanInfoBannerSize, secondBanner);
  p[357] = sectorFlag;
  PutUtf16Field(p + 358, kImagePathUnits, imagePath);
  PutAsciiField(p + 878, 41, diskIdentity);
  PutAsciiField(p + 919, 21, diskIdentity2);
  PutAsciiField(p + 940, 9, diskIdentity3);
  PutLE32(p + 949, diskSizeLow);
  p[953] = placeMode;
  PutLE32(p + 954, clusterCount);
  p[958] = placeFromHeader;
  PutLE32(p + 959, runListNodes);
  p[963] = imageType;
}

std::array<std::uint8_t, kScanInfoBlockSize> ScanImageFileHeader::EncodeBlock() const {
  std::array<std::uint8_t, kScanInfoBlockSize> block{};
  Encode(std::span(block).first<kScanImageFileHeaderSize>());
  return block;
}

ScanImageFileHeader ScanImageFileHeader::Decode(std::span<const std::uint8_t, kScanImageFileHeaderSize> in) {
  const std::uint8_t* p = in.data();
  ScanImageFileHeader h;
  h.form = p[0];
  h.driveByte = p[1];
  h.engineByte = p[2];
  h.fatSize = GetLE32(p + 3);
  h.rootCluster = GetLE32(p + 7);
  h.clusterMapSize = GetLE32(p + 11);
  h.sectorsPerCluster = p[16];
  h.fatKind = p[17];
  h.fatSource = p[18];
  h.reservedSectors = GetLE32(p + 19);
  h.rootDirSectors = GetLE32(p + 23);
  h.mftSector = GetLE64(p + 27);
  h.mftMirrorSector = GetLE64(p + 35);
  h.mftRunCount = GetLE32(p + 43);
  h.mftRunBytes = GetLE32(p + 47);
  h.advanceCount = GetLE32(p + 51);
  h.advanceFirstRecord = GetLE32(p + 55);
  h.clusterSectors = GetLE16(p + 59);
  h.hasMftRuns = p[61];
  h.engineMark = p[62];
  h.firstSector = GetLE64(p + 63);
  h.endSector = GetLE64(p + 71);
  h.sectorCount = GetLE64(p + 79);
  h.totalBytes = GetLE64(p + 87);
  h.postedItems = GetLE32(p + 95);
  h.driveCount = GetLE16(p + 99);
  h.banner = GetAsciiField(p + kBannerOffset, kScanInfoBannerSize);
  h.secondBanner = GetAsciiField(p + kSecondBannerOffset, kScanInfoBannerSize);
  h.sectorFlag = p[357];
  h.imagePath = GetUtf16Field(p + 358, kImagePathUnits);
  h.diskIdentity = GetAsciiField(p + 878, 41);
  h.diskIdentity2 = GetAsciiField(p + 919, 21);
  h.diskIdentity3 = GetAsciiField(p + 940, 9);
  h.diskSizeLow = GetLE32(p + 949);
  h.placeMode = p[953];
  h.clusterCount = GetLE32(p + 954);
  h.placeFromHeader = p[958];
  h.runListNodes = GetLE32(p + 959);
  h.imageType = p[963];
  return h;
}

ScanInfoEngine EngineOfHeader(const ScanImageFileHeader& h) {
  if (h.sectorsPerCluster != 0) return ScanInfoEngine::Fat;
  if (h.mftSector == 0 && h.advanceCount == 0 && h.fatKind != kScanNtfsKind) return ScanInfoEngine::ExFat;
  return ScanInfoEngine::Ntfs;
}

bool HasScanInfoBanners(std::span<const std::uint8_t> block) {
  if (block.size() < kSecondBannerOffset + kScanInfoBannerSize) return false;
  // Compared with their NULs, so a longer text that starts alike differs.
  return std::memcmp(block.data() + kBannerOffset, kScanInfoBanner, sizeof kScanInfoBanner) == 0 &&
         std::memcmp(block.data() + kSecondBannerOffset, kScanInfoSecondBanner, sizeof kScanInfoSecondBanner) == 0;
}

bool CheckResumeHeader(std::span<const std::uint8_t> block) {
  return HasScanInfoBanners(block) && (block[16] != 0 || GetLE16(block.data() + 59) != 0);
}

bool CheckResumeHeader(const std::filesystem::path& file) {
  const auto f = FileHandle::Open(file, FileHandle::Mode::ReadOnly);
  std::array<std::uint8_t, kScanInfoBlockSize> block;
  return f && f.ReadExactAt(block.data(), block.size(), 0) && CheckResumeHeader(block);
}

bool CheckDriveScanHeader(std::span<const std::uint8_t> block) { return HasScanInfoBanners(block); }

void ApplySourceFields(ScanImageFileHeader& header, ScanInfoEngine engine, const std::vector<SourceRecord>& sources,
                       const SourceRecord& selected) {
  header.diskSizeLow = 0;
  bool matched = false;
  for (const auto& r : sources) {
    // Kinds 4 and 5 are disks known by their name text.
    if ((r.kind == kSourceNamedDisk || r.kind == kSourceNamedDrive) && r.disk && r.disk->driveNumber == header.driveByte) {
      header.diskSizeLow = static_cast<std::uint32_t>(r.disk->sectorCount);
      matched = true;
      break;
    }
  }
  const PartitionRecord* p = selected.partition.get();
  const bool ownDisk = p && p->reserved == p->diskNumber;
  if (!matched && engine == ScanInfoEngine::ExFat && ownDisk) header.diskSizeLow = static_cast<std::uint32_t>(p->sectorCount);
  const std::uint8_t k = selected.kind;
  header.placeFromHeader = ownDisk || k == kSourcePlainImage || k == kSourceRemovableImage || k == kSourceImageLostVolume || k == kSourceImageDeepLostVolume;
}

bool ScanInfoStoresDiskRecord(std::uint8_t kind) {
  return IsWholeDiskKind(kind);
}

bool IsDriveScanVolume(std::uint8_t kind) {
  return kind == kSourceLostVolume || kind == kSourceDeepLostVolume || kind == kSourceImageLostVolume ||
         kind == kSourceImageDeepLostVolume;
}

bool IsStoredFoundItem(const FoundItemInfo& info) {
  // Byte 67 is the fifth of the engine bytes that start at 63.
  return (info.attribute & kItemFile) != 0 || ((info.attribute & kItemFolder) != 0 && (info.extra[4] & 0x0F) == 0);
}

// ---- the whole file ----------------------------------------------------------

ScanInfoStatus ParseVolumeScan(std::span<const std::uint8_t> bytes, VolumeScanInfo& out) {
  ByteInput in = SpanInput(bytes);
  return ParseVolume(in, out);
}

ScanInfoStatus ReadVolumeScanFile(const std::filesystem::path& path, VolumeScanInfo& out) {
  return ReadFromFile(path, out, [](ByteInput& in, VolumeScanInfo& o) { return ParseVolume(in, o); });
}

ScanInfoStatus ParseDriveScan(std::span<const std::uint8_t> bytes, DriveScanInfo& out) {
  ByteInput in = SpanInput(bytes);
  return ParseDrives(in, out);
}

ScanInfoStatus ReadDriveScanFile(const std::filesystem::path& path, DriveScanInfo& out) {
  return ReadFromFile(path, out, [](ByteInput& in, DriveScanInfo& o) { return ParseDrives(in, o); });
}

ScanInfoWriteResult EncodeVolumeScan(const VolumeScanInfo& info, const ScanInfoItemSource& items,
                                     const ScanImageRecord& trailer, std::vector<std::uint8_t>& out) {
  if (auto s = CheckVolumeContent(info, trailer); !s) return FailWrite(s.error, s.detail);
  VectorOutput o(out);
  return EmitVolume(o, info, items, trailer);
}

ScanInfoWriteResult EncodeDriveScan(const std::vector<SourceRecord>& sourceList, const ScanImageRecord& trailer,
                                    std::vector<std::uint8_t>& out) {
  if (auto s = CheckDriveContent(sourceList, trailer); !s) return FailWrite(s.error, s.detail);
  VectorOutput o(out);
  return EmitDrives(o, sourceList, trailer);
}

ScanInfoWriteResult WriteVolumeScanFile(const std::filesystem::path& path, const VolumeScanInfo& info,
                                        const ScanInfoItemSource& items, const ScanInfoWriteOptions& options) {
  return WriteThroughTemporary(
      path, kScanKindVolume, options, [&](const ScanImageRecord& t) { return CheckVolumeContent(info, t); },
      [&](ByteOutput& out, const ScanImageRecord& t) { return EmitVolume(out, info, items, t); });
}

ScanInfoWriteResult WriteVolumeScanFile(const std::filesystem::path& path, const VolumeScanInfo& info,
                                        const ScanInfoWriteOptions& options) {
  return WriteVolumeScanFile(path, info, ItemSourceOf(info.items), options);
}

ScanInfoWriteResult WriteDriveScanFile(const std::filesystem::path& path, const std::vector<SourceRecord>& sourceList,
                                       const ScanInfoWriteOptions& options) {
  return WriteThroughTemporary(
      path, kScanKindDrives, options, [&](const ScanImageRecord& t) { return CheckDriveContent(sourceList, t); },
      [&](ByteOutput& out, const ScanImageRecord& t) { return EmitDrives(out, sourceList, t); });
}

ScanInfoItemSource ItemSourceOf(const std::vector<ScanInfoItem>& items) {
  return [&items, next = std::size_t{0}](ScanInfoItem& item) mutable {
    if (next >= items.size()) return false;
    item = items[next++];
    return true;
  };
}

std::filesystem::path DriveScanFileName(const std::filesystem::path& volumeScanPath) {
  std::filesystem::path name = volumeScanPath.stem();
  name += " Drives";
  name += volumeScanPath.extension();
  return volumeScanPath.parent_path() / name;
}

}  // namespace corvan
