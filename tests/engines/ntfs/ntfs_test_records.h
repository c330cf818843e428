#pragma once
// What the NTFS engine tests build again and again: FILE records of folders
// with a resident index and of files with a given $DATA, test data, and an
// engine over the mounted disk.

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engines/ntfs/NtfsEngine.h"
#include "sources/SectorSource.h"
#include "support/NtfsImageBuilder.h"

namespace corvan::test {

namespace img = ntfsimg;
using img::Bytes;

// The times of a record's $FILE_NAME and of the index entries' copies of
// it, and the other times of its $STANDARD_INFORMATION: a pass that lists
// a date from the wrong attribute shows a wrong date.
inline constexpr std::uint64_t kCreated = 132000000000000000ull;
inline constexpr std::uint64_t kModified = 133000000000000000ull;
inline constexpr std::uint64_t kInfoCreated = 131500000000000000ull;
inline constexpr std::uint64_t kInfoModified = 132500000000000000ull;
inline constexpr std::uint32_t kFolderFlags = 0x10000000;
inline constexpr std::uint16_t kDirInUse = img::kInUse | img::kDirectory;

inline Bytes Key(std::uint32_t parent, const std::u16string& name, std::uint8_t ns, std::uint32_t flags,
                 std::uint64_t size = 0) {
  return img::FileName(img::Ref(parent), name, ns, flags, size, size, kCreated, kModified);
}
inline Bytes Entry(std::uint32_t record, std::uint32_t parent, const std::u16string& name, std::uint8_t ns = 1,
                   std::uint32_t flags = 0x20, std::uint64_t size = 0) {
  return img::IndexEntry(img::Ref(record), Key(parent, name, ns, flags, size));
}
inline Bytes FolderRecord(std::uint32_t number, std::uint32_t parent, const std::u16string& name,
                          const std::vector<Bytes>& entries, std::uint16_t flags = kDirInUse,
                          std::uint16_t usaOffset = 0x30) {
  img::RecordBuilder r;
  r.number = number;
  r.flags = flags;
  r.usaOffset = usaOffset;
  r.Add(img::Resident(0x10, img::StdInfo(kInfoCreated, kInfoModified, 0x10), u"", 0))
      .Add(img::Resident(0x30, Key(parent, name, 1, kFolderFlags), u"", 1))
      .Add(img::Resident(0x90, img::IndexRoot(entries, 4096, false), u"$I30", 2));
  return r.Build();
}
inline Bytes FileRecord(std::uint32_t number, std::uint32_t parent, const std::u16string& name, const Bytes& data,
                        std::uint16_t flags = img::kInUse, std::uint8_t ns = 1, std::uint16_t usaOffset = 0x30) {
  img::RecordBuilder r;
  r.number = number;
  r.flags = flags;
  r.usaOffset = usaOffset;
  r.Add(img::Resident(0x10, img::StdInfo(kInfoCreated, kInfoModified, 0x20), u"", 0))
      .Add(img::Resident(0x30, Key(parent, name, ns, 0x20), u"", 1))
      .Add(data);
  return r.Build();
}
inline Bytes Pattern(std::size_t n, int seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// An engine over the volume at sector 0 of `disk`, `sectorCount` sectors
// long (0: the whole disk), reporting to the sinks given.
inline std::unique_ptr<NtfsEngine> EngineOverDisk(EngineHost& host, std::shared_ptr<SectorSource> disk,
                                                  FoundItemSink* items, ProgressSink* progress,
                                                  std::uint64_t sectorCount = 0) {
  auto engine = std::make_unique<NtfsEngine>(host);
  engine->SetSinks(items, progress);
  NtfsVolumeBinding b;
  b.sectorCount = sectorCount ? sectorCount : disk->SectorCount();
  b.disk = std::move(disk);
  b.endSector = b.sectorCount;
  engine->Prepare(b);
  return engine;
}

// Record 45, a deleted file "lost.bin" in the root whose $DATA was emptied
// to a bare list end, as a deletion leaves it for the journal to tell its
// runs; returns the offset of that $DATA in the record.
inline std::uint16_t PutEmptiedLostFile(img::NtfsImage& image) {
  const Bytes si = img::Resident(0x10, img::StdInfo(kInfoCreated, kInfoModified, 0x20), u"", 0);
  const Bytes fn = img::Resident(0x30, Key(5, u"lost.bin", 1, 0x20), u"", 1);
  const Bytes data = img::NonResident(0x80, {0x00}, 0, 0, 0, 0, 0, 0, 0, u"", 2);
  img::RecordBuilder rec;
  rec.number = 45;
  rec.flags = 0;
  rec.Add(si).Add(fn).Add(data);
  image.PutRecord(45, rec.Build());
  return static_cast<std::uint16_t>(0x38 + si.size() + fn.size());
}

}  // namespace corvan::test
