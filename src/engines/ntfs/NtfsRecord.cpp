#include "engines/ntfs/NtfsRecord.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteCodec.h"

namespace corvan::ntfs {

namespace {

std::u16string ReadUtf16(const std::uint8_t* p, std::size_t units) {
  std::u16string s(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) s[i] = static_cast<char16_t>(GetLE16(p + 2 * i));
  return s;
}

std::uint64_t ReadUnsigned(const std::uint8_t* p, unsigned bytes) {
  std::uint64_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

std::int64_t ReadSigned(const std::uint8_t* p, unsigned bytes) {
  std::uint64_t v = ReadUnsigned(p, bytes);
  if (bytes < 8 && (p[bytes - 1] & 0x80)) v |= ~0ull << (8 * bytes);
  return static_cast<std::int64_t>(v);
}

// Smallest byte count that holds `v` as a two's-complement number.
unsigned SignedWidth(std::int64_t v) {
  for (unsigned n = 1; n < 8; ++n) {
    const std::int64_t lo = -(std::int64_t{1} << (8 * n - 1));
    const std::int64_t hi = (std::int64_t{1} << (8 * n - 1)) - 1;
    if (v >= lo && v <= hi) return n;
  }
  return 8;
}

}  // namespace

FixupStatus ApplyFixup(std::span<std::uint8_t> block, std::string_view magic) {
  if (block.size() < 8 || magic.size() != 4 || std::memcmp(block.data(), magic.data(), 4) != 0)
    return FixupStatus::NoSignature;
  const std::size_t usaOffset = GetLE16(block.data() + 4);
  const std::size_t usaCount = GetLE16(block.data() + 6);
  const std::size_t sectors = block.size() / kFixupStride;
  // One entry for the sequence number, then one per sector of the block.
  if (usaCount < 2 || usaCount - 1 > sectors || usaOffset < 8 || usaOffset % 2 != 0 ||
      usaOffset + 2 * usaCount > block.size() || usaOffset + 2 * usaCount > kFixupStride - 2)
    return FixupStatus::Damaged;
  const std::uint8_t* usa = block.data() + usaOffset;
  for (std::size_t i = 1; i < usaCount; ++i) {
    const std::uint8_t* tail = block.data() + i * kFixupStride - 2;
    if (tail[0] != usa[0] || tail[1] != usa[1]) return FixupStatus::Damaged;
  }
  for (std::size_t i = 1; i < usaCount; ++i) {
    std::uint8_t* tail = block.data() + i * kFixupStride - 2;
    tail[0] = usa[2 * i];
    tail[1] = usa[2 * i + 1];
  }
  return FixupStatus::Ok;
}

FixupStatus ApplyRecordFixup(std::span<std::uint8_t> record) {
  if (record.size() < kMftRecordSize || std::memcmp(record.data(), "FILE", 4) != 0)
    return FixupStatus::NoSignature;
  const std::uint16_t usaOffset = GetLE16(record.data() + 4);
  if (usaOffset != 0x2A && usaOffset != 0x30) return FixupStatus::NoSignature;
  return ApplyFixup(record.first(kMftRecordSize), "FILE");
}

bool MftRecord::Parse(std::span<const std::uint8_t> bytes) {
  attributes_.clear();
  truncated_ = false;
  external_ = nullptr;
  if (bytes.size() < kMftRecordSize) return false;
  std::memcpy(bytes_.data(), bytes.data(), kMftRecordSize);
  return ParseHeader();
}

bool MftRecord::ParseInPlace(std::span<const std::uint8_t> bytes) {
  attributes_.clear();
  truncated_ = false;
  external_ = nullptr;
  if (bytes.size() < kMftRecordSize) return false;
  external_ = bytes.data();
  return ParseHeader();
}

bool MftRecord::ParseHeader() {
  const std::uint8_t* r = Data();
  if (std::memcmp(r, "FILE", 4) != 0) return false;
  sequence_ = GetLE16(r + 0x10);
  flags_ = GetLE16(r + 0x16);
  baseReference_ = GetLE64(r + 0x20);
  std::uint32_t off = GetLE16(r + 0x14);
  if (off < 0x30 || off >= kMftRecordSize) return false;
  while (true) {
    if (off + 4 > kMftRecordSize) {
      truncated_ = true;
      break;
    }
    const std::uint32_t type = GetLE32(r + off);
    if (type == kAttrEnd) break;
    if (off + 0x18 > kMftRecordSize) {
      truncated_ = true;
      break;
    }
    Attribute a;
    a.type = type;
    a.offset = off;
    a.length = GetLE32(r + off + 4);
    // A length below the smallest header would loop or overlap the next one.
    if (a.length < 0x18 || a.length > kMftRecordSize - off) {
      truncated_ = true;
      break;
    }
    const std::uint8_t* p = r + off;
    a.nonResident = p[8] != 0;
    const std::uint8_t nameLength = p[9];
    const std::uint32_t nameOffset = GetLE16(p + 0x0A);
    a.flags = GetLE16(p + 0x0C);
    a.id = GetLE16(p + 0x0E);
    if (nameLength > 0) {
      if (nameOffset + 2u * nameLength > a.length) {
        truncated_ = true;
        break;
      }
      a.name = ReadUtf16(p + nameOffset, nameLength);
    }
    if (!a.nonResident) {
      a.valueLength = GetLE32(p + 0x10);
      a.valueOffset = GetLE16(p + 0x14);
      if (static_cast<std::uint64_t>(a.valueOffset) + a.valueLength > a.length) {
        truncated_ = true;
        break;
      }
    } else {
      if (a.length < 0x40) {
        truncated_ = true;
        break;
      }
      a.startVcn = GetLE64(p + 0x10);
      a.lastVcn = GetLE64(p + 0x18);
      a.pairsOffset = GetLE16(p + 0x20);
      a.compressionUnit = GetLE16(p + 0x22);
      a.allocatedSize = GetLE64(p + 0x28);
      a.realSize = GetLE64(p + 0x30);
      a.initializedSize = GetLE64(p + 0x38);
      if (a.pairsOffset < 0x40 || a.pairsOffset >= a.length) {
        truncated_ = true;
        break;
      }
    }
    attributes_.push_back(std::move(a));
    off += attributes_.back().length;
  }
  return true;
}

std::span<const std::uint8_t> MftRecord::Value(const Attribute& a) const {
  if (a.nonResident) return {};
  return Bytes().subspan(a.offset + a.valueOffset, a.valueLength);
}

std::span<const std::uint8_t> MftRecord::MappingPairs(const Attribute& a) const {
  if (!a.nonResident) return {};
  return Bytes().subspan(a.offset + a.pairsOffset, a.length - a.pairsOffset);
}

std::optional<FileNameInfo> ParseFileName(std::span<const std::uint8_t> value) {
  if (value.size() < 0x42) return std::nullopt;
  const std::uint8_t* v = value.data();
  const std::size_t units = v[0x40];
  if (0x42 + 2 * units > value.size()) return std::nullopt;
  FileNameInfo f;
  f.parent = GetLE64(v);
  f.creationTime = GetLE64(v + 0x08);
  f.modificationTime = GetLE64(v + 0x10);
  f.allocatedSize = GetLE64(v + 0x28);
  f.realSize = GetLE64(v + 0x30);
  f.flags = GetLE32(v + 0x38);
  f.reparse = GetLE32(v + 0x3C);
  f.nameSpace = v[0x41];
  f.name = ReadUtf16(v + 0x42, units);
  return f;
}

const FileNameInfo* ChooseFileName(const std::vector<FileNameInfo>& names) {
  const FileNameInfo* posix = nullptr;
  const FileNameInfo* dos = nullptr;
  for (const FileNameInfo& n : names) {
    if (n.name.empty()) continue;
    if (n.nameSpace == kNameWin32 || n.nameSpace == kNameWin32AndDos) return &n;
    if (n.nameSpace == kNameDos) {
      if (!dos) dos = &n;
    } else if (!posix) {
      posix = &n;
    }
  }
  return posix ? posix : dos;
}

std::optional<StandardInformation> ParseStandardInformation(std::span<const std::uint8_t> value) {
  if (value.size() < 0x10) return std::nullopt;
  StandardInformation s;
  s.creationTime = GetLE64(value.data());
  s.modificationTime = GetLE64(value.data() + 0x08);
  if (value.size() >= 0x24) s.fileAttributes = GetLE32(value.data() + 0x20);
  return s;
}

bool ParseAttributeList(std::span<const std::uint8_t> list, std::vector<AttributeListEntry>& out) {
  std::size_t off = 0;
  while (off + 0x1A <= list.size()) {
    const std::uint8_t* e = list.data() + off;
    const std::uint32_t type = GetLE32(e);
    if (type == 0 || type == kAttrEnd) return true;  // slack after the last entry
    const std::size_t length = GetLE16(e + 4);
    if (length < 0x1A || length > list.size() - off) return false;
    AttributeListEntry entry;
    entry.type = type;
    const std::size_t nameLength = e[6];
    const std::size_t nameOffset = e[7];
    if (nameLength > 0) {
      if (nameOffset + 2 * nameLength > length) return false;
      entry.name = ReadUtf16(e + nameOffset, nameLength);
    }
    entry.startVcn = GetLE64(e + 8);
    entry.reference = GetLE64(e + 0x10);
    entry.id = GetLE16(e + 0x18);
    out.push_back(std::move(entry));
    off += length;
  }
  return true;
}

bool ParseIndexNode(std::span<const std::uint8_t> node, std::vector<IndexEntry>& out) {
  if (node.size() < 0x10) return false;
  const std::uint64_t entriesOffset = GetLE32(node.data());
  const std::uint64_t limit = std::min<std::uint64_t>(GetLE32(node.data() + 4), node.size());
  std::uint64_t off = entriesOffset;
  if (off < 0x10) return false;
  while (off + 0x10 <= limit) {
    const std::uint8_t* e = node.data() + off;
    const std::uint32_t length = GetLE16(e + 8);
    const std::uint32_t keyLength = GetLE16(e + 0x0A);
    const std::uint32_t flags = GetLE16(e + 0x0C);
    if (length < 0x10 || off + length > limit) return false;
    if (flags & 0x02) return true;  // the node's last entry carries no key
    if (keyLength > length - 0x10) return false;
    if (auto key = ParseFileName({e + 0x10, keyLength})) out.push_back({GetLE64(e), std::move(*key)});
    off += length;
  }
  return true;
}

std::optional<IndexRootInfo> ParseIndexRoot(std::span<const std::uint8_t> value) {
  if (value.size() < 0x20) return std::nullopt;
  IndexRootInfo info;
  info.attributeType = GetLE32(value.data());
  info.blockSize = GetLE32(value.data() + 8);
  info.node = value.subspan(0x10);
  return info;
}

bool DecodeMappingPairs(std::span<const std::uint8_t> pairs, std::uint64_t startVcn,
                        std::vector<DataExtent>& out) {
  std::vector<DataExtent> runs;
  std::uint64_t vcn = startVcn;
  std::int64_t lcn = 0;
  std::size_t pos = 0;
  while (true) {
    if (pos >= pairs.size()) return false;
    const std::uint8_t header = pairs[pos];
    if (header == 0) break;
    const unsigned lengthSize = header & 0x0F;
    const unsigned offsetSize = header >> 4;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8) return false;
    if (pos + 1 + lengthSize + offsetSize > pairs.size()) return false;
    const std::int64_t length = ReadSigned(pairs.data() + pos + 1, lengthSize);
    if (length <= 0) return false;
    DataExtent run;
    run.vcn = vcn;
    run.length = static_cast<std::uint64_t>(length);
    if (offsetSize == 0) {
      run.sparse = true;
    } else {
      const std::int64_t delta = ReadSigned(pairs.data() + pos + 1 + lengthSize, offsetSize);
      if (__builtin_add_overflow(lcn, delta, &lcn) || lcn < 0) return false;
      run.lcn = static_cast<std::uint64_t>(lcn);
    }
    if (vcn + run.length < vcn) return false;
    vcn += run.length;
    runs.push_back(run);
    pos += 1 + lengthSize + offsetSize;
  }
  out.insert(out.end(), runs.begin(), runs.end());
  return true;
}

bool EncodeDataRunEntries(const std::vector<DataExtent>& extents, std::vector<std::uint8_t>& out) {
  out.assign(extents.size() * kDataRunEntrySize, 0);
  std::int64_t previous = 0;
  bool first = true;
  for (std::size_t i = 0; i < extents.size(); ++i) {
    const DataExtent& e = extents[i];
    std::uint8_t* p = out.data() + i * kDataRunEntrySize;
    if (e.length > 0xFFFFFFFFu) return false;
    PutLE32(p + 4, static_cast<std::uint32_t>(e.length));
    p[13] = first ? 'S' : 'M';
    first = false;
    if (e.sparse) continue;  // stored offset and size 0
    const std::int64_t delta = static_cast<std::int64_t>(e.lcn) - previous;
    const unsigned width = SignedWidth(delta);
    if (width > 4) return false;
    PutLE32(p + 8, static_cast<std::uint32_t>(static_cast<std::uint64_t>(delta) &
                                              (width == 4 ? 0xFFFFFFFFull : ((1ull << (8 * width)) - 1))));
    p[12] = static_cast<std::uint8_t>(width);
    previous = static_cast<std::int64_t>(e.lcn);
  }
  return true;
}

bool DecodeDataRunEntries(std::span<const std::uint8_t> bytes, std::vector<DataExtent>& out) {
  if (bytes.size() % kDataRunEntrySize != 0) return false;
  std::vector<DataExtent> runs;
  std::int64_t lcn = 0;
  std::uint64_t vcn = 0;
  for (std::size_t off = 0; off < bytes.size(); off += kDataRunEntrySize) {
    const std::uint8_t* p = bytes.data() + off;
    DataExtent e;
    e.vcn = vcn;
    e.length = GetLE32(p + 4);
    const unsigned width = p[12];
    if (width > 4 || (p[13] != 'S' && p[13] != 'M')) return false;
    if (p[13] == 'S') lcn = 0;
    if (width == 0) {
      e.sparse = true;
    } else {
      std::uint8_t raw[4];
      PutLE32(raw, GetLE32(p + 8));
      lcn += ReadSigned(raw, width);
      if (lcn < 0) return false;
      e.lcn = static_cast<std::uint64_t>(lcn);
    }
    vcn += e.length;
    runs.push_back(e);
  }
  out = std::move(runs);
  return true;
}

}  // namespace corvan::ntfs
