#include "engines/ntfs/NtfsFoundRecords.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engines/ntfs/NtfsRecord.h"
#include "platform/ByteCodec.h"

namespace corvan::ntfs {

namespace {

// The record fixed up and parsed, or nothing.
std::optional<MftRecord> ParseFound(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMftRecordSize || !HasRecordSignature(bytes)) return std::nullopt;
  std::array<std::uint8_t, kMftRecordSize> copy;
  std::memcpy(copy.data(), bytes.data(), kMftRecordSize);
  if (ApplyRecordFixup(copy) != FixupStatus::Ok) return std::nullopt;
  MftRecord record;
  if (!record.Parse(copy)) return std::nullopt;
  return record;
}

}  // namespace

bool HasRecordSignature(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 5 && std::memcmp(bytes.data(), "FILE", 4) == 0 && (bytes[4] == 0x2A || bytes[4] == 0x30);
}

std::optional<FoundRecord> ExamineFoundRecord(std::span<const std::uint8_t> bytes,
                                              std::optional<std::uint64_t> placeNumber) {
  const auto record = ParseFound(bytes);
  if (!record) return std::nullopt;
  FoundRecord out;
  out.flags = record->Flags();
  out.sequence = record->Sequence();
  out.isFile = (out.flags & 0xFF) != 2 && (out.flags & 0xFF) != 3;
  out.baseRecord = ReferenceRecord(record->BaseReference());
  if (placeNumber) {
    if (*placeNumber <= 0xFFFFFFFFu) {
      out.recordNumber = static_cast<std::uint32_t>(*placeNumber);
      out.numberKnown = true;
    }
  } else if (bytes[4] == 0x30) {
    // Only records with their update sequence at 0x30 keep their number at
    // 0x2C; in the others those bytes belong to the update sequence.
    out.recordNumber = GetLE32(bytes.data() + 0x2C);
    out.numberKnown = true;
  }
  std::vector<FileNameInfo> names;
  for (const Attribute& a : record->Attributes()) {
    if (a.type == kAttrAttributeList) out.hasAttributeList = true;
    if (a.type == kAttrFileName)
      if (auto name = ParseFileName(record->Value(a))) names.push_back(std::move(*name));
  }
  if (const FileNameInfo* name = ChooseFileName(names)) out.parent = name->ParentRecord();
  return out;
}

std::uint64_t CountDataRunClusters(std::span<const std::uint8_t> pairs, std::uint64_t& firstCluster) {
  firstCluster = 0;
  std::uint64_t clusters = 0;
  bool haveFirst = false;
  std::size_t pos = 0;
  while (true) {
    if (pos >= pairs.size()) return 0;  // no closing zero byte
    const std::uint8_t header = pairs[pos];
    if (header == 0) break;
    const unsigned lengthSize = header & 0x0F;
    const unsigned offsetSize = header >> 4;
    if (lengthSize < 1 || lengthSize > 4 || offsetSize < 1 || offsetSize > 4) return 0;
    if (pos + 1 + lengthSize + offsetSize > pairs.size()) return 0;
    std::uint64_t length = 0, offset = 0;
    for (unsigned i = 0; i < lengthSize; ++i) length |= std::uint64_t{pairs[pos + 1 + i]} << (8 * i);
    for (unsigned i = 0; i < offsetSize; ++i) offset |= std::uint64_t{pairs[pos + 1 + lengthSize + i]} << (8 * i);
    if (!haveFirst && offset != 0) {
      firstCluster = offset;
      haveFirst = true;
    }
    clusters += length;  // at most 2^32 runs of 2^32 clusters: no overflow in 64 bits
    pos += 1 + lengthSize + offsetSize;
  }
  return clusters;
}

std::uint32_t ClusterSizeVote(std::span<const std::uint8_t> bytes, std::uint64_t volumeSectors) {
  const auto record = ParseFound(bytes);
  if (!record || record->Flags() > 1) return 0;
  const Attribute* data = nullptr;
  for (const Attribute& a : record->Attributes()) {
    if (a.type == kAttrAttributeList) return 0;  // the runs may continue in other records
    if (a.type == kAttrData && a.name.empty() && !data) data = &a;
  }
  if (!data || !data->nonResident || data->startVcn != 0) return 0;
  if ((data->flags & (kAttrCompressionMask | kAttrEncrypted)) != 0 || data->compressionUnit != 0) return 0;
  std::uint64_t first = 0;
  const std::uint64_t clusters = CountDataRunClusters(record->MappingPairs(*data), first);
  const std::uint64_t allocated = data->allocatedSize;
  if (clusters == 0 || allocated == 0 || allocated / 512 > volumeSectors) return 0;
  // Cluster sizes of 512 bytes to 256 KiB; the products are 64-bit, so a
  // large allocation does not wrap into a false match.
  for (unsigned k = 0; k < 10; ++k)
    if (clusters <= (~0ull >> (9 + k)) && (clusters << (9 + k)) == allocated) return 1u << k;
  return 0;
}

void ClusterSizeTally::Add(std::uint32_t spc) {
  if (!ValidSectorsPerCluster(spc)) return;
  unsigned k = 0;
  while ((1u << k) != spc) ++k;
  ++counts_[k];
  ++votes_;
}

std::uint32_t ClusterSizeTally::Decide() const {
  if (votes_ == 0) return 0;
  unsigned best = 0;
  for (unsigned k = 1; k < counts_.size(); ++k)
    if (counts_[k] > counts_[best]) best = k;
  return 1u << best;
}

}  // namespace corvan::ntfs
