#include "engines/ntfs/NtfsAttributes.h"

#include <algorithm>
#include <unordered_set>

#include "engines/ntfs/Lznt1.h"

namespace corvan::ntfs {

namespace {

// Attribute lists hold a few dozen entries; anything far larger is damage.
constexpr std::uint64_t kMaxAttributeListBytes = 4u << 20;

const std::u16string kI30 = u"$I30";

void AddExtent(AttributeData& d, const MftRecord& record, const Attribute& a) {
  d.present = true;
  if (!a.nonResident) {
    if (d.resident || d.extents.empty()) {
      const auto value = record.Value(a);
      d.resident = true;
      d.bytes.assign(value.begin(), value.end());
      d.size = d.validSize = d.allocatedSize = value.size();
      d.flags = a.flags;
    }
    return;
  }
  d.resident = false;
  d.bytes.clear();
  if (!DecodeMappingPairs(record.MappingPairs(a), a.startVcn, d.extents)) d.runsComplete = false;
  if (a.startVcn == 0 && !d.haveFirstExtent) {
    d.haveFirstExtent = true;
    d.size = a.realSize;
    d.validSize = a.initializedSize;
    d.allocatedSize = a.allocatedSize;
    d.flags = a.flags;
    d.compressionUnit = a.compressionUnit;
  }
}

// Takes what the view needs from one record's attributes; returns the
// attribute list attribute of a base record, if any.
const Attribute* Collect(FileView& view, const MftRecord& record, bool isBase) {
  const Attribute* list = nullptr;
  for (const Attribute& a : record.Attributes()) {
    switch (a.type) {
      case kAttrStandardInformation:
        if (!view.standardInfo) view.standardInfo = ParseStandardInformation(record.Value(a));
        break;
      case kAttrFileName:
        if (auto name = ParseFileName(record.Value(a))) view.names.push_back(std::move(*name));
        break;
      case kAttrData:
        if (!a.name.empty()) break;  // a named stream, not the file's data
        if (isBase && a.startVcn == 0 && view.dataAttributeOffset == 0) {
          view.dataAttributeOffset = a.offset;
          view.dataPairsOffset = a.nonResident ? a.pairsOffset : 0;
        }
        AddExtent(view.data, record, a);
        break;
      case kAttrIndexRoot:
        if (a.name == kI30 && !view.indexRoot) {
          const auto value = record.Value(a);
          view.indexRoot.emplace(value.begin(), value.end());
        }
        break;
      case kAttrIndexAllocation:
        if (a.name == kI30) AddExtent(view.indexAllocation, record, a);
        break;
      case kAttrBitmap:
        if (a.name == kI30) AddExtent(view.indexBitmap, record, a);
        break;
      case kAttrAttributeList:
        if (isBase && !list) list = &a;
        break;
      default:
        break;
    }
  }
  return list;
}

void SortExtents(AttributeData& d) {
  std::stable_sort(d.extents.begin(), d.extents.end(),
                   [](const DataExtent& a, const DataExtent& b) { return a.vcn < b.vcn; });
}

}  // namespace

FileView BuildFileView(std::uint64_t number, const MftRecord& base, const RecordFetcher& fetch,
                       const AttributeReader& readAttribute) {
  FileView view;
  view.recordNumber = number;
  view.recordFlags = base.Flags();
  view.sequence = base.Sequence();
  view.baseReference = base.BaseReference();
  const Attribute* listAttr = Collect(view, base, true);
  if (listAttr) {
    view.hasAttributeList = true;
    std::vector<std::uint8_t> listBytes;
    if (!listAttr->nonResident) {
      const auto value = base.Value(*listAttr);
      listBytes.assign(value.begin(), value.end());
    } else if (readAttribute) {
      AttributeData listData;
      AddExtent(listData, base, *listAttr);
      if (listData.runsComplete) listBytes = readAttribute(listData, kMaxAttributeListBytes);
    }
    std::vector<AttributeListEntry> entries;
    ParseAttributeList(listBytes, entries);  // a damaged tail still leaves the entries before it
    std::unordered_set<std::uint64_t> seen{number};
    for (const AttributeListEntry& e : entries) {
      const std::uint64_t record = ReferenceRecord(e.reference);
      // The base record's own entries were read with it.
      if (!seen.insert(record).second) continue;
      MftRecord extension;
      if (!fetch || !fetch(record, extension)) continue;
      if (ReferenceRecord(extension.BaseReference()) != number) continue;
      Collect(view, extension, false);
    }
  }
  SortExtents(view.data);
  SortExtents(view.indexAllocation);
  SortExtents(view.indexBitmap);
  return view;
}

FileDataLayout LayoutOf(const AttributeData& data, std::uint32_t clusterBytes) {
  FileDataLayout layout;
  layout.clusterBytes = clusterBytes;
  layout.size = data.size;
  if (data.resident) {
    layout.resident = true;
    layout.residentData = data.bytes;
    return layout;
  }
  layout.validSize = data.validSize;
  layout.extents = data.extents;
  if (data.IsCompressed() && data.compressionUnit < 16) {
    layout.unitClusters = 1u << data.compressionUnit;
    layout.decoder = &DecompressLznt1;
  }
  return layout;
}

}  // namespace corvan::ntfs
