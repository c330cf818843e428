#include "support/NtfsImageBuilder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace corvan::test::ntfsimg {

namespace {

void Put16(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put32(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::size_t Align8(std::size_t v) { return (v + 7) & ~std::size_t{7}; }

void PutName(Bytes& b, std::size_t at, const std::u16string& name) {
  for (std::size_t i = 0; i < name.size(); ++i) Put16(b, at + 2 * i, name[i]);
}

// Bytes needed for `v` as a signed little-endian number.
unsigned SignedBytes(std::int64_t v) {
  for (unsigned n = 1; n <= 8; ++n) {
    if (n == 8) return 8;
    const std::int64_t lim = std::int64_t{1} << (8 * n - 1);
    if (v >= -lim && v < lim) return n;
  }
  return 8;
}

// The header every attribute starts with, and its name.
Bytes AttributeHeader(std::size_t length, std::uint32_t type, bool nonResident, const std::u16string& name,
                      std::size_t nameOffset, std::uint16_t flags, std::uint16_t id) {
  Bytes a(length, 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, length);
  a[0x08] = nonResident ? 1 : 0;
  a[0x09] = static_cast<std::uint8_t>(name.size());
  Put16(a, 0x0A, nameOffset);
  Put16(a, 0x0C, flags);
  Put16(a, 0x0E, id);
  PutName(a, nameOffset, name);
  return a;
}

}  // namespace

Bytes Pairs(const std::vector<Run>& runs) {
  Bytes out;
  std::int64_t previous = 0;
  for (const Run& r : runs) {
    const unsigned lengthBytes = SignedBytes(static_cast<std::int64_t>(r.length));
    unsigned offsetBytes = 0;
    std::int64_t delta = 0;
    if (!r.sparse) {
      delta = static_cast<std::int64_t>(r.lcn) - previous;
      offsetBytes = SignedBytes(delta);
      previous = static_cast<std::int64_t>(r.lcn);
    }
    out.push_back(static_cast<std::uint8_t>(lengthBytes | (offsetBytes << 4)));
    for (unsigned i = 0; i < lengthBytes; ++i) out.push_back(static_cast<std::uint8_t>(r.length >> (8 * i)));
    for (unsigned i = 0; i < offsetBytes; ++i)
      out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

Times TimesOf(std::uint64_t creation, std::uint64_t modification) {
  constexpr std::uint64_t kHour = 36000000000ull;  // in 100 ns units
  return {creation, modification, modification + kHour, modification + 2 * kHour};
}

Bytes StdInfo(const Times& times, std::uint32_t attributes) {
  Bytes v(72, 0);
  Put64(v, 0x00, times.creation);
  Put64(v, 0x08, times.modification);
  Put64(v, 0x10, times.changed);
  Put64(v, 0x18, times.accessed);
  Put32(v, 0x20, attributes);
  return v;
}

Bytes StdInfo(std::uint64_t creation, std::uint64_t modification, std::uint32_t attributes) {
  return StdInfo(TimesOf(creation, modification), attributes);
}

Bytes FileName(std::uint64_t parentRef, const std::u16string& name, std::uint8_t nameSpace, std::uint32_t flags,
               std::uint64_t realSize, std::uint64_t allocatedSize, const Times& times) {
  Bytes v(0x42 + 2 * name.size(), 0);
  Put64(v, 0x00, parentRef);
  Put64(v, 0x08, times.creation);
  Put64(v, 0x10, times.modification);
  Put64(v, 0x18, times.changed);
  Put64(v, 0x20, times.accessed);
  Put64(v, 0x28, allocatedSize);
  Put64(v, 0x30, realSize);
  Put32(v, 0x38, flags);
  v[0x40] = static_cast<std::uint8_t>(name.size());
  v[0x41] = nameSpace;
  PutName(v, 0x42, name);
  return v;
}

Bytes FileName(std::uint64_t parentRef, const std::u16string& name, std::uint8_t nameSpace, std::uint32_t flags,
               std::uint64_t realSize, std::uint64_t allocatedSize, std::uint64_t creation,
               std::uint64_t modification) {
  return FileName(parentRef, name, nameSpace, flags, realSize, allocatedSize, TimesOf(creation, modification));
}

Bytes AttrListEntry(std::uint32_t type, std::uint64_t startVcn, std::uint64_t reference, std::uint16_t id,
                    const std::u16string& name) {
  Bytes e(Align8(0x1A + 2 * name.size()), 0);
  Put32(e, 0x00, type);
  Put16(e, 0x04, e.size());
  e[0x06] = static_cast<std::uint8_t>(name.size());
  e[0x07] = 0x1A;
  Put64(e, 0x08, startVcn);
  Put64(e, 0x10, reference);
  Put16(e, 0x18, id);
  PutName(e, 0x1A, name);
  return e;
}

Bytes Resident(std::uint32_t type, const Bytes& value, const std::u16string& name, std::uint16_t id,
               std::uint16_t flags) {
  const std::size_t nameOffset = 0x18;
  const std::size_t valueOffset = Align8(nameOffset + 2 * name.size());
  Bytes a = AttributeHeader(Align8(valueOffset + value.size()), type, false, name, nameOffset, flags, id);
  Put32(a, 0x10, value.size());
  Put16(a, 0x14, valueOffset);
  std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(valueOffset));
  return a;
}

Bytes NonResident(std::uint32_t type, const Bytes& pairs, std::uint64_t startVcn, std::uint64_t lastVcn,
                  std::uint64_t allocated, std::uint64_t real, std::uint64_t initialized,
                  std::uint16_t compressionUnit, std::uint16_t flags, const std::u16string& name,
                  std::uint16_t id) {
  // Compressed attributes carry an extra 8-byte compressed size.
  const std::size_t nameOffset = compressionUnit ? 0x48 : 0x40;
  const std::size_t pairsOffset = Align8(nameOffset + 2 * name.size());
  Bytes a = AttributeHeader(Align8(pairsOffset + pairs.size()), type, true, name, nameOffset, flags, id);
  Put64(a, 0x10, startVcn);
  Put64(a, 0x18, lastVcn);
  Put16(a, 0x20, pairsOffset);
  Put16(a, 0x22, compressionUnit);
  Put64(a, 0x28, allocated);
  Put64(a, 0x30, real);
  Put64(a, 0x38, initialized);
  if (compressionUnit) Put64(a, 0x40, allocated);
  std::copy(pairs.begin(), pairs.end(), a.begin() + static_cast<std::ptrdiff_t>(pairsOffset));
  return a;
}

Bytes IndexEntry(std::uint64_t reference, const Bytes& fileNameKey) {
  Bytes e(Align8(0x10 + fileNameKey.size()), 0);
  Put64(e, 0x00, reference);
  Put16(e, 0x08, e.size());
  Put16(e, 0x0A, fileNameKey.size());
  std::copy(fileNameKey.begin(), fileNameKey.end(), e.begin() + 0x10);
  return e;
}

namespace {
Bytes LastEntry() {
  Bytes e(0x10, 0);
  Put16(e, 0x08, 0x10);
  e[0x0C] = 0x02;
  return e;
}
// Index node header followed by the entries and the closing entry.
Bytes Node(const std::vector<Bytes>& entries, std::size_t allocated, bool large) {
  Bytes body;
  for (const Bytes& e : entries) body.insert(body.end(), e.begin(), e.end());
  const Bytes last = LastEntry();
  body.insert(body.end(), last.begin(), last.end());
  Bytes node(0x10, 0);
  Put32(node, 0x00, 0x10);
  Put32(node, 0x04, 0x10 + body.size());
  Put32(node, 0x08, std::max(allocated, 0x10 + body.size()));
  node[0x0C] = large ? 1 : 0;
  node.insert(node.end(), body.begin(), body.end());
  return node;
}
}  // namespace

Bytes IndexRoot(const std::vector<Bytes>& entries, std::uint32_t blockSize, bool large) {
  Bytes v(0x10, 0);
  Put32(v, 0x00, 0x30);  // indexes $FILE_NAME
  Put32(v, 0x04, 1);     // collation by file name
  Put32(v, 0x08, blockSize);
  v[0x0C] = 1;
  const Bytes node = Node(entries, 0, large);
  v.insert(v.end(), node.begin(), node.end());
  return v;
}

Bytes IndexBlock(const std::vector<Bytes>& entries, std::uint64_t vcn, std::uint32_t blockSize, std::uint16_t usn) {
  Bytes b(blockSize, 0);
  std::memcpy(b.data(), "INDX", 4);
  const std::size_t sectors = blockSize / 512;
  Put16(b, 0x04, 0x28);
  Put16(b, 0x06, sectors + 1);
  Put64(b, 0x10, vcn);
  const std::size_t headerAt = 0x18;
  const std::size_t entriesAt = Align8(0x28 + 2 * (sectors + 1));
  Bytes body;
  for (const Bytes& e : entries) body.insert(body.end(), e.begin(), e.end());
  const Bytes last = LastEntry();
  body.insert(body.end(), last.begin(), last.end());
  if (entriesAt + body.size() > blockSize) throw std::length_error("index block too small");
  Put32(b, headerAt + 0x00, entriesAt - headerAt);
  Put32(b, headerAt + 0x04, entriesAt - headerAt + body.size());
  Put32(b, headerAt + 0x08, blockSize - headerAt);
  std::copy(body.begin(), body.end(), b.begin() + static_cast<std::ptrdiff_t>(entriesAt));
  Protect(b, 0x28, usn);
  return b;
}

void Protect(Bytes& block, std::uint16_t usaOffset, std::uint16_t usn) {
  const std::size_t sectors = block.size() / 512;
  Put16(block, usaOffset, usn);
  for (std::size_t i = 1; i <= sectors; ++i) {
    const std::size_t tail = i * 512 - 2;
    block[usaOffset + 2 * i] = block[tail];
    block[usaOffset + 2 * i + 1] = block[tail + 1];
    Put16(block, tail, usn);
  }
}

Bytes RecordBuilder::Build() const {
  Bytes r(1024, 0);
  const bool early = usaOffset == 0x2A;
  std::memcpy(r.data(), "FILE", 4);
  Put16(r, 0x04, usaOffset);
  Put16(r, 0x06, 3);
  Put16(r, 0x10, sequence);
  Put16(r, 0x12, 1);
  Put16(r, 0x14, early ? 0x30 : 0x38);
  Put16(r, 0x16, flags);
  Put32(r, 0x1C, 1024);
  Put64(r, 0x20, baseReference);
  if (!early) Put32(r, 0x2C, number);
  std::size_t at = early ? 0x30 : 0x38;
  std::uint16_t nextId = 0;
  for (const Bytes& a : attributes) {
    if (at + a.size() + 8 > 1024) throw std::length_error("record too small");
    std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
    nextId = static_cast<std::uint16_t>(std::max<unsigned>(nextId, (a[0x0E] | (a[0x0F] << 8)) + 1u));
    at += a.size();
  }
  Put32(r, at, 0xFFFFFFFF);
  at += 8;
  Put32(r, 0x18, at);
  Put16(r, 0x28, nextId);
  Protect(r, usaOffset, usn);
  return r;
}

Bytes Lznt1Compress(std::span<const std::uint8_t> data) {
  Bytes out;
  for (std::size_t chunkStart = 0; chunkStart < data.size(); chunkStart += 4096) {
    const std::size_t chunkLength = std::min<std::size_t>(4096, data.size() - chunkStart);
    const std::uint8_t* c = data.data() + chunkStart;
    Bytes body;
    std::size_t p = 0;
    while (p < chunkLength) {
      const std::size_t flagAt = body.size();
      body.push_back(0);
      for (int bit = 0; bit < 8 && p < chunkLength; ++bit) {
        // Split of a 16-bit token between offset and length at position p.
        unsigned offsetBits = 4;
        while ((std::size_t{1} << offsetBits) < p) ++offsetBits;
        const std::size_t maxOffset = std::min<std::size_t>(std::size_t{1} << offsetBits, p);
        const std::size_t maxLength = (0xFFFFu >> offsetBits) + 3;
        std::size_t bestLength = 0, bestOffset = 0;
        for (std::size_t off = 1; off <= maxOffset; ++off) {
          std::size_t n = 0;
          while (n < maxLength && p + n < chunkLength && c[p + n] == c[p + n - off]) ++n;
          if (n > bestLength) {
            bestLength = n;
            bestOffset = off;
            if (n == maxLength) break;
          }
        }
        if (bestLength >= 3) {
          const std::uint16_t token =
              static_cast<std::uint16_t>(((bestOffset - 1) << (16 - offsetBits)) | (bestLength - 3));
          body.push_back(static_cast<std::uint8_t>(token));
          body.push_back(static_cast<std::uint8_t>(token >> 8));
          body[flagAt] |= static_cast<std::uint8_t>(1u << bit);
          p += bestLength;
        } else {
          body.push_back(c[p++]);
        }
      }
    }
    if (body.size() < chunkLength && chunkLength == 4096) {
      const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (body.size() + 2 - 3));
      out.push_back(static_cast<std::uint8_t>(header));
      out.push_back(static_cast<std::uint8_t>(header >> 8));
      out.insert(out.end(), body.begin(), body.end());
    } else if (chunkLength == 4096) {
      out.push_back(0xFF);  // stored: 0x3FFF, 4096 bytes follow
      out.push_back(0x3F);
      out.insert(out.end(), c, c + 4096);
    } else {
      // A short last chunk is always written compressed.
      const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (body.size() + 2 - 3));
      out.push_back(static_cast<std::uint8_t>(header));
      out.push_back(static_cast<std::uint8_t>(header >> 8));
      out.insert(out.end(), body.begin(), body.end());
    }
  }
  return out;
}

NtfsImage::NtfsImage(std::uint32_t sectorsPerCluster, std::uint64_t clusters, std::uint64_t mftLcn,
                     std::uint32_t mftRecords)
    : spc_(sectorsPerCluster), clusters_(clusters), mftLcn_(mftLcn), mftRecords_(mftRecords) {
  bytes_.assign(clusters * ClusterBytes(), 0);
  const std::uint64_t mftClusters = (std::uint64_t{mftRecords} * 1024 + ClusterBytes() - 1) / ClusterBytes();
  next_ = mftLcn + mftClusters;
}

std::uint64_t NtfsImage::Allocate(std::uint64_t count) {
  const std::uint64_t at = next_;
  next_ += count;
  if (next_ > clusters_) throw std::length_error("volume full");
  return at;
}

void NtfsImage::WriteClusters(std::uint64_t lcn, std::span<const std::uint8_t> data) {
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(lcn * ClusterBytes()));
}

void NtfsImage::PutRecord(std::uint32_t number, const Bytes& record) {
  if (number == 0) record0_ = true;
  std::copy(record.begin(), record.end(),
            bytes_.begin() + static_cast<std::ptrdiff_t>(mftLcn_ * ClusterBytes() + std::uint64_t{number} * 1024));
}

Bytes NtfsImage::Finish() {
  const std::uint64_t mftBytes = std::uint64_t{mftRecords_} * 1024;
  const std::uint64_t mftClusters = (mftBytes + ClusterBytes() - 1) / ClusterBytes();
  if (!record0_) {
    RecordBuilder mft;
    mft.number = 0;
    mft.Add(Resident(0x10, StdInfo(0, 0), u"", 0))
        .Add(Resident(0x30, FileName(Ref(5, 5), u"$MFT", 3, 0x06), u"", 1))
        .Add(NonResident(0x80, Pairs({{mftLcn_, mftClusters}}), 0, mftClusters - 1, mftClusters * ClusterBytes(),
                         mftBytes, mftBytes, 0, 0, u"", 2));
    PutRecord(0, mft.Build());
  }
  Bytes boot(512, 0);
  boot[0] = 0xEB;
  boot[1] = 0x52;
  boot[2] = 0x90;
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  Put16(boot, 0x0B, 512);
  boot[0x0D] = static_cast<std::uint8_t>(spc_);
  boot[0x15] = 0xF8;
  Put64(boot, 0x28, clusters_ * spc_ - 1);
  Put64(boot, 0x30, mftLcn_);
  Put64(boot, 0x38, mftLcn_ + mftClusters);  // no mirror is written: the test volumes do not need one
  boot[0x40] = 0xF6;                          // 2^10-byte records
  boot[0x44] = 0xF4;                          // 2^12-byte index blocks
  boot[0x1FE] = 0x55;
  boot[0x1FF] = 0xAA;
  std::copy(boot.begin(), boot.end(), bytes_.begin());
  std::copy(boot.begin(), boot.end(), bytes_.end() - 512);
  return bytes_;
}

}  // namespace corvan::test::ntfsimg
