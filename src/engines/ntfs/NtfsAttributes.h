#pragma once
// What one file's records say about it: its base record and, through its
// $ATTRIBUTE_LIST, the extension records that hold the rest of its
// attributes. Names, times and the unnamed $DATA (every extent, ordered by
// starting VCN) come from wherever they are kept; named streams are left out.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/RunWalker.h"
#include "engines/ntfs/NtfsRecord.h"

namespace corvan::ntfs {

// The data of one attribute, resident or in clusters.
struct AttributeData {
  bool present = false;
  bool resident = false;
  std::vector<std::uint8_t> bytes;  // resident value
  std::vector<DataExtent> extents;  // by starting VCN
  std::uint64_t size = 0;           // real size (resident: value length)
  std::uint64_t validSize = 0;      // initialised size
  std::uint64_t allocatedSize = 0;
  std::uint16_t flags = 0;          // of the extent at VCN 0
  std::uint16_t compressionUnit = 0;
  bool runsComplete = true;  // every extent's mapping pairs decoded
  bool haveFirstExtent = false;

  bool IsCompressed() const {
    return present && !resident && (flags & kAttrCompressionMask) != 0 && compressionUnit != 0;
  }
  bool IsEncrypted() const { return (flags & kAttrEncrypted) != 0; }
};

struct FileView {
  std::uint64_t recordNumber = 0;
  std::uint16_t recordFlags = 0;
  std::uint16_t sequence = 0;
  std::uint64_t baseReference = 0;  // non-zero in an extension record
  bool hasAttributeList = false;
  std::optional<StandardInformation> standardInfo;
  std::vector<FileNameInfo> names;
  AttributeData data;  // the unnamed $DATA
  // Where the unnamed $DATA's first extent lies in the base record (0 when
  // it lies elsewhere); the journal names attributes by these offsets.
  std::uint32_t dataAttributeOffset = 0;
  std::uint32_t dataPairsOffset = 0;
  // The $I30 index of a folder.
  std::optional<std::vector<std::uint8_t>> indexRoot;
  AttributeData indexAllocation;
  AttributeData indexBitmap;

  bool InUse() const { return (recordFlags & kRecordInUse) != 0; }
  bool IsDirectory() const { return (recordFlags & kRecordDirectory) != 0; }
};

// Fetches record `number` fixed up and parsed; false when it cannot be read.
using RecordFetcher = std::function<bool(std::uint64_t number, MftRecord& out)>;
// Reads the whole data of a non-resident attribute (at most `limit` bytes).
using AttributeReader = std::function<std::vector<std::uint8_t>(const AttributeData& data, std::uint64_t limit)>;

// Builds the view of the file whose base record is `base` (record `number`).
// Extension records must name `number` as their base; others are passed over.
FileView BuildFileView(std::uint64_t number, const MftRecord& base, const RecordFetcher& fetch,
                       const AttributeReader& readAttribute);

// The layout the run walker reads `data` by.
FileDataLayout LayoutOf(const AttributeData& data, std::uint32_t clusterBytes);

}  // namespace corvan::ntfs
