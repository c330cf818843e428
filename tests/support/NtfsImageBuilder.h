#pragma once
// Builds small NTFS volumes and structures in memory from the published
// description of the format (the offsets below are written out here from
// that description, not taken from the engine), for tests that need cases a
// real volume does not show: attribute lists, compressed units split over
// runs, damaged fixups, out-of-range lengths.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvan::test::ntfsimg {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kInUse = 0x0001;
inline constexpr std::uint16_t kDirectory = 0x0002;

inline std::uint64_t Ref(std::uint64_t record, std::uint16_t sequence = 1) {
  return record | (std::uint64_t{sequence} << 48);
}

struct Run {
  std::uint64_t lcn = 0;
  std::uint64_t length = 0;
  bool sparse = false;
};
// Mapping pairs with their closing zero byte.
Bytes Pairs(const std::vector<Run>& runs);

// The four times $STANDARD_INFORMATION and $FILE_NAME keep, in their order
// on disk: creation, data modification, record change, last access.
struct Times {
  std::uint64_t creation = 0;
  std::uint64_t modification = 0;
  std::uint64_t changed = 0;
  std::uint64_t accessed = 0;
};
// The two times a test names, and the two it does not set one and two
// hours after the modification: every field differs from the others, so a
// reader that takes the wrong one is caught.
Times TimesOf(std::uint64_t creation, std::uint64_t modification);

// Attribute values.
Bytes StdInfo(const Times& times, std::uint32_t attributes = 0);
Bytes StdInfo(std::uint64_t creation, std::uint64_t modification, std::uint32_t attributes = 0);
Bytes FileName(std::uint64_t parentRef, const std::u16string& name, std::uint8_t nameSpace, std::uint32_t flags,
               std::uint64_t realSize, std::uint64_t allocatedSize, const Times& times);
Bytes FileName(std::uint64_t parentRef, const std::u16string& name, std::uint8_t nameSpace, std::uint32_t flags,
               std::uint64_t realSize = 0, std::uint64_t allocatedSize = 0, std::uint64_t creation = 0,
               std::uint64_t modification = 0);
Bytes AttrListEntry(std::uint32_t type, std::uint64_t startVcn, std::uint64_t reference, std::uint16_t id,
                    const std::u16string& name = u"");

// Whole attributes (header and value).
Bytes Resident(std::uint32_t type, const Bytes& value, const std::u16string& name = u"", std::uint16_t id = 0,
               std::uint16_t flags = 0);
Bytes NonResident(std::uint32_t type, const Bytes& pairs, std::uint64_t startVcn, std::uint64_t lastVcn,
                  std::uint64_t allocated, std::uint64_t real, std::uint64_t initialized,
                  std::uint16_t compressionUnit = 0, std::uint16_t flags = 0, const std::u16string& name = u"",
                  std::uint16_t id = 0);

// Index entries and nodes of an $I30 index.
Bytes IndexEntry(std::uint64_t reference, const Bytes& fileNameKey);
Bytes IndexRoot(const std::vector<Bytes>& entries, std::uint32_t blockSize, bool large);
Bytes IndexBlock(const std::vector<Bytes>& entries, std::uint64_t vcn, std::uint32_t blockSize,
                 std::uint16_t usn = 0x0101);

// A FILE record of 1024 bytes with its attributes, end marker and fixup.
struct RecordBuilder {
  std::uint32_t number = 0;
  std::uint16_t flags = kInUse;
  std::uint16_t sequence = 1;
  std::uint64_t baseReference = 0;
  std::uint16_t usn = 0x0001;
  // 0x30, or 0x2A as the first NTFS versions wrote it (no record number at
  // 0x2C then: those bytes hold the update sequence).
  std::uint16_t usaOffset = 0x30;
  std::vector<Bytes> attributes;

  RecordBuilder& Add(Bytes attribute) {
    attributes.push_back(std::move(attribute));
    return *this;
  }
  Bytes Build() const;
};

// Writes the update sequence number into each 512-byte sector's last two
// bytes and keeps what stood there in the array at `usaOffset`.
void Protect(Bytes& block, std::uint16_t usaOffset, std::uint16_t usn);

// LZNT1 as NTFS writes it: chunks of 4096 bytes, each compressed or stored.
Bytes Lznt1Compress(std::span<const std::uint8_t> data);

// A volume: boot sector (and its backup in the last sector), the $MFT as
// one run of `mftRecords` records at cluster `mftLcn`, record 0 describing
// it, and whatever records and clusters a test puts in.
class NtfsImage {
 public:
  NtfsImage(std::uint32_t sectorsPerCluster, std::uint64_t clusters, std::uint64_t mftLcn = 4,
            std::uint32_t mftRecords = 64);

  std::uint32_t ClusterBytes() const { return spc_ * 512; }
  std::uint64_t Clusters() const { return clusters_; }
  std::uint64_t MftLcn() const { return mftLcn_; }
  // Clusters after the $MFT, handed out in order.
  std::uint64_t Allocate(std::uint64_t count);
  void WriteClusters(std::uint64_t lcn, std::span<const std::uint8_t> data);
  void PutRecord(std::uint32_t number, const Bytes& record);
  // The finished volume.
  Bytes Finish();
  Bytes& Raw() { return bytes_; }

 private:
  std::uint32_t spc_;
  std::uint64_t clusters_;
  std::uint64_t mftLcn_;
  std::uint32_t mftRecords_;
  std::uint64_t next_;
  bool record0_ = false;
  Bytes bytes_;
};

}  // namespace corvan::test::ntfsimg
