#pragma once
// NTFS on-disk structures as this engine reads them: the multi-sector
// fixup of FILE, INDX and RCRD blocks, the attributes of a FILE record,
// $FILE_NAME, $STANDARD_INFORMATION, $ATTRIBUTE_LIST and index entries, and
// mapping pairs. Pure functions over bytes: every length and offset read from
// the disk is checked against the record, attribute, entry or block that
// holds it before it is used.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/RunWalker.h"

namespace corvan::ntfs {

inline constexpr std::uint32_t kMftRecordSize = 1024;
inline constexpr std::uint32_t kFixupStride = 512;

// Attribute types.
inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrIndexRoot = 0x90;
inline constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr std::uint32_t kAttrBitmap = 0xB0;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Record flags (u16 at 0x16).
inline constexpr std::uint16_t kRecordInUse = 0x0001;
inline constexpr std::uint16_t kRecordDirectory = 0x0002;

// Non-resident attribute flags (u16 at 0x0C).
inline constexpr std::uint16_t kAttrCompressionMask = 0x00FF;
inline constexpr std::uint16_t kAttrEncrypted = 0x4000;
inline constexpr std::uint16_t kAttrSparse = 0x8000;

// $FILE_NAME flags.
inline constexpr std::uint32_t kNameFlagDirectory = 0x10000000;  // the name's file has an $I30 index
inline constexpr std::uint32_t kNameFlagCompressed = 0x00000800;
inline constexpr std::uint32_t kNameFlagEncrypted = 0x00004000;

// $FILE_NAME namespaces.
inline constexpr std::uint8_t kNamePosix = 0;
inline constexpr std::uint8_t kNameWin32 = 1;
inline constexpr std::uint8_t kNameDos = 2;
inline constexpr std::uint8_t kNameWin32AndDos = 3;

// Record number of a 64-bit file reference (the low 48 bits).
inline std::uint64_t ReferenceRecord(std::uint64_t reference) { return reference & 0x0000FFFFFFFFFFFFull; }
inline std::uint16_t ReferenceSequence(std::uint64_t reference) {
  return static_cast<std::uint16_t>(reference >> 48);
}

enum class FixupStatus {
  Ok,
  NoSignature,  // not a block of the expected kind
  Damaged,      // update sequence out of bounds, or a sector was not written with the rest
};

// Applies the multi-sector fixup of a block whose first four bytes are
// `magic`: checks the update-sequence array's place and size against the
// block, checks that each sector's last two bytes hold the update sequence
// number and puts back the bytes they stood for. A block that fails is left
// as it was read.
FixupStatus ApplyFixup(std::span<std::uint8_t> block, std::string_view magic);

// A FILE record: "FILE" with its update sequence at 0x2A or 0x30, as every
// record writer places it.
FixupStatus ApplyRecordFixup(std::span<std::uint8_t> record);

// One attribute header, every field checked against the record.
struct Attribute {
  std::uint32_t type = 0;
  std::uint32_t offset = 0;  // in the record
  std::uint32_t length = 0;
  bool nonResident = false;
  std::uint16_t flags = 0;
  std::uint16_t id = 0;
  std::u16string name;
  // Resident: the value, relative to the attribute.
  std::uint32_t valueOffset = 0;
  std::uint32_t valueLength = 0;
  // Non-resident.
  std::uint64_t startVcn = 0;
  std::uint64_t lastVcn = 0;
  std::uint32_t pairsOffset = 0;  // relative to the attribute
  std::uint16_t compressionUnit = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint64_t initializedSize = 0;

  bool IsCompressed() const { return nonResident && (flags & kAttrCompressionMask) != 0 && compressionUnit != 0; }
};

// A fixed-up FILE record and its attributes.
class MftRecord {
 public:
  // Parses `bytes` (kMftRecordSize, fixup already applied). False when the
  // header is unusable; attributes are read up to the first that does not
  // fit (Truncated() then tells).
  bool Parse(std::span<const std::uint8_t> bytes);
  // The same without a copy: the record reads `bytes` where they lie, so
  // they must stay put while the record is used (a pass over the $MFT
  // parses each record inside its read buffer).
  bool ParseInPlace(std::span<const std::uint8_t> bytes);

  std::uint16_t Flags() const { return flags_; }
  bool InUse() const { return (flags_ & kRecordInUse) != 0; }
  bool IsDirectory() const { return (flags_ & kRecordDirectory) != 0; }
  std::uint16_t Sequence() const { return sequence_; }
  std::uint64_t BaseReference() const { return baseReference_; }
  bool Truncated() const { return truncated_; }
  const std::vector<Attribute>& Attributes() const { return attributes_; }
  std::span<const std::uint8_t> Bytes() const { return {Data(), kMftRecordSize}; }

  // A resident attribute's value, or its mapping pairs.
  std::span<const std::uint8_t> Value(const Attribute& a) const;
  std::span<const std::uint8_t> MappingPairs(const Attribute& a) const;

 private:
  const std::uint8_t* Data() const { return external_ ? external_ : bytes_.data(); }
  bool ParseHeader();

  std::array<std::uint8_t, kMftRecordSize> bytes_{};
  const std::uint8_t* external_ = nullptr;  // bytes parsed in place
  std::uint16_t flags_ = 0;
  std::uint16_t sequence_ = 0;
  std::uint64_t baseReference_ = 0;
  bool truncated_ = false;
  std::vector<Attribute> attributes_;
};

// A $FILE_NAME value (also the key of an $I30 index entry).
struct FileNameInfo {
  std::uint64_t parent = 0;  // file reference
  std::uint64_t creationTime = 0;
  std::uint64_t modificationTime = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint32_t flags = 0;
  std::uint32_t reparse = 0;
  std::uint8_t nameSpace = 0;
  std::u16string name;

  std::uint32_t ParentRecord() const { return static_cast<std::uint32_t>(ReferenceRecord(parent)); }
  bool IsDirectory() const { return (flags & kNameFlagDirectory) != 0; }
};
std::optional<FileNameInfo> ParseFileName(std::span<const std::uint8_t> value);

// The name a record is shown by: a Win32 name first, then a POSIX name, and
// a DOS short name only when the record has nothing else.
const FileNameInfo* ChooseFileName(const std::vector<FileNameInfo>& names);

struct StandardInformation {
  std::uint64_t creationTime = 0;
  std::uint64_t modificationTime = 0;
  std::uint32_t fileAttributes = 0;
};
std::optional<StandardInformation> ParseStandardInformation(std::span<const std::uint8_t> value);

struct AttributeListEntry {
  std::uint32_t type = 0;
  std::uint64_t startVcn = 0;
  std::uint64_t reference = 0;  // record holding the attribute
  std::uint16_t id = 0;
  std::u16string name;
};
// Entries up to the first that does not fit; false when one did not.
bool ParseAttributeList(std::span<const std::uint8_t> list, std::vector<AttributeListEntry>& out);

// Index entries of one index node: `node` starts at the node's header
// (entries offset u32, bytes in use u32, allocated u32, flags). Entries are
// read up to the last-entry flag or the bytes in use, whichever comes first.
struct IndexEntry {
  std::uint64_t reference = 0;
  FileNameInfo key;
};
bool ParseIndexNode(std::span<const std::uint8_t> node, std::vector<IndexEntry>& out);

// $INDEX_ROOT value: index block size and the node that follows its header.
struct IndexRootInfo {
  std::uint32_t attributeType = 0;
  std::uint32_t blockSize = 0;
  std::span<const std::uint8_t> node;
};
std::optional<IndexRootInfo> ParseIndexRoot(std::span<const std::uint8_t> value);

// Mapping pairs into extents from `startVcn` on. False (nothing appended)
// when the list does not end with its zero byte inside `pairs`, when a
// header asks for a field wider than 8 bytes or when an LCN goes negative.
bool DecodeMappingPairs(std::span<const std::uint8_t> pairs, std::uint64_t startVcn,
                        std::vector<DataExtent>& out);

// The 14-byte run entry kept in scan-information files: u32 not used, u32
// run length in clusters, u32 stored offset (zero-extended), u8 offset size
// (0 for a hole), u8 'S' for the first run (an absolute LCN) or 'M' (a signed
// delta to the previous run's LCN).
inline constexpr std::size_t kDataRunEntrySize = 14;
// False when a length or an LCN step does not fit the entry's 32 bits.
bool EncodeDataRunEntries(const std::vector<DataExtent>& extents, std::vector<std::uint8_t>& out);
bool DecodeDataRunEntries(std::span<const std::uint8_t> bytes, std::vector<DataExtent>& out);

}  // namespace corvan::ntfs
