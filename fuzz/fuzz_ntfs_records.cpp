// Any bytes as an MFT record (and the records it names), a record found by
// Advance Recovery's search, an index block, a journal and LZNT1 data: the
// parsers and the run walker must stay inside their buffers and end.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "core/RunWalker.h"
#include "engines/ntfs/Lznt1.h"
#include "engines/ntfs/NtfsAttributes.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "engines/ntfs/NtfsLogFile.h"
#include "engines/ntfs/NtfsRecord.h"

namespace {

using namespace corvan;
using namespace corvan::ntfs;

constexpr std::uint32_t kClusterBytes = 512;
constexpr std::uint64_t kMaxWalk = 1u << 20;

std::vector<std::uint8_t> Slice(const std::uint8_t* data, std::size_t size, std::size_t at, std::size_t n) {
  std::vector<std::uint8_t> out(n, 0);
  // An empty slice has no buffer to copy into.
  if (n > 0 && at < size) std::memcpy(out.data(), data + at, std::min(n, size - at));
  return out;
}

void Walk(const FileDataLayout& layout, const std::uint8_t* data, std::size_t size) {
  FileDataLayout bounded = layout;
  bounded.size = std::min<std::uint64_t>(bounded.size, kMaxWalk);
  std::uint64_t seen = 0;
  const WalkResult r = WalkFileData(
      bounded,
      [&](std::uint64_t lcn, std::uint64_t count, std::uint8_t* out) {
        // The input stands for the volume, repeated.
        for (std::uint64_t i = 0; i < count * kClusterBytes; ++i)
          out[i] = size ? data[(lcn * kClusterBytes + i) % size] : 0;
        return lcn % 7 != 3;
      },
      [&](const DataBlock& b) {
        if (b.offset != seen) std::abort();
        seen += b.bytes.size();
        return true;
      });
  if (r.bytes != seen || seen > bounded.size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first kilobyte as a FILE record, fixed up or as it stands.
  std::vector<std::uint8_t> record = Slice(data, size, 0, kMftRecordSize);
  std::vector<std::uint8_t> raw = record;
  ApplyRecordFixup(record);
  for (const auto* bytes : {&record, &raw}) {
    MftRecord r;
    if (!r.Parse(*bytes)) continue;
    for (const Attribute& a : r.Attributes()) {
      const auto value = r.Value(a);
      ParseFileName(value);
      ParseStandardInformation(value);
      std::vector<AttributeListEntry> list;
      ParseAttributeList(value, list);
      if (auto root = ParseIndexRoot(value)) {
        std::vector<IndexEntry> entries;
        ParseIndexNode(root->node, entries);
      }
      std::vector<DataExtent> runs;
      if (DecodeMappingPairs(r.MappingPairs(a), a.startVcn, runs)) {
        std::vector<std::uint8_t> stored;
        if (EncodeDataRunEntries(runs, stored)) {
          std::vector<DataExtent> back;
          if (!DecodeDataRunEntries(stored, back)) std::abort();
        }
      }
    }
    // Records it names come from the following kilobytes of the input.
    const FileView view = BuildFileView(
        0, r,
        [&](std::uint64_t n, MftRecord& out) {
          std::vector<std::uint8_t> ext = Slice(data, size, static_cast<std::size_t>((n % 4 + 1) * kMftRecordSize), kMftRecordSize);
          return ApplyRecordFixup(ext) == FixupStatus::Ok && out.Parse(ext);
        },
        [&](const AttributeData& d, std::uint64_t limit) {
          return Slice(data, size, 0, static_cast<std::size_t>(std::min<std::uint64_t>({d.size, limit, 4096})));
        });
    ChooseFileName(view.names);
    Walk(LayoutOf(view.data, kClusterBytes), data, size);
    Walk(LayoutOf(view.indexAllocation, kClusterBytes), data, size);
  }

  // The first kilobyte as a record found on the disk: its vote, its number
  // and parent, and the strict run count over any bytes.
  {
    const std::uint32_t vote = ClusterSizeVote(raw, size);
    if (vote != 0 && !ValidSectorsPerCluster(vote)) std::abort();
    ExamineFoundRecord(raw, std::nullopt);
    if (size >= 2) ExamineFoundRecord(raw, data[1]);
    std::uint64_t first = 0;
    CountDataRunClusters(std::span<const std::uint8_t>(data, std::min<std::size_t>(size, 64)), first);
    ClusterSizeTally tally;
    for (std::size_t i = 0; i < std::min<std::size_t>(size, 32); ++i) tally.Add(data[i]);
    if (tally.Votes() != 0 && !ValidSectorsPerCluster(tally.Decide())) std::abort();
  }

  // An index block.
  std::vector<std::uint8_t> block = Slice(data, size, 0, 4096);
  if (ApplyFixup(block, "INDX") == FixupStatus::Ok) {
    std::vector<IndexEntry> entries;
    ParseIndexNode(std::span<const std::uint8_t>(block).subspan(0x18), entries);
  }

  // LZNT1 into a unit of 16 clusters.
  std::vector<std::uint8_t> out(16 * 4096 + 16, 0xA5);
  std::uint32_t length = 16 * 4096;
  DecompressLznt1(data, static_cast<std::uint32_t>(size), out.data(), length);
  if (length > 16 * 4096) std::abort();
  for (std::size_t i = 16 * 4096; i < out.size(); ++i)
    if (out[i] != 0xA5) std::abort();

  // A journal, with a target taken from the input's first bytes.
  if (size >= 16) {
    LogTarget t;
    t.recordNumber = 1;
    t.recordLcn = data[0];
    t.recordVcn = data[1];
    t.blockInCluster = data[2] & 7;
    t.dataAttributeOffset = static_cast<std::uint16_t>(data[3] | data[4] << 8);
    t.pairsOffset = 0x40;
    LogFileReader reader(std::span<const std::uint8_t>(data, size), 4096);
    reader.Init({t});
    if (reader.FindStartPage() && reader.CollectImages()) reader.RebuildRuns();
  }
  return 0;
}
