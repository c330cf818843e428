#pragma once
// The files of tests/tools/make-raw-samples and the volumes the Raw Recovery
// tests lay them in: volumes formatted by mkfs.fat, mkfs.exfat and mkntfs
// inside MBR disks written as a flat VMDK (descriptor and extent) or a fixed
// VHD, with each sample written at the start of a free cluster (or sector)
// and zeros after it, and a headless raw scan of a volume or a whole disk.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "console/FoundItemStore.h"
#include "core/FileTypeRecord.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanWorker.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "support/HeadlessScan.h"
#include "support/Md5.h"
#include "support/SyntheticDisk.h"
#include "support/TestSupport.h"

namespace corvan::rawtest {

using test::ReadWholeFile;
using test::WriteWholeFile;
using test::PutMbrEntry;
using test::SetBE16;
using test::SetBE32;
using test::SetBE64;
using test::Md5;

// One line of the samples' manifest.
struct RawSample {
  std::string name;
  std::uint16_t typeId = 0;
  std::uint64_t size = 0;
  std::string md5;
  std::string suffix;                     // empty: the analysers give none
  std::string hit;                        // the hit's type name: extension, DOC, XLS, PPT
  std::optional<std::uint64_t> carved;    // none: carved to the next signature
  std::string carvedMd5;
  std::string note;
  std::string bytes;

  bool Generic() const { return !carved.has_value(); }
  bool OfficeNamed() const { return hit == "DOC" || hit == "XLS" || hit == "PPT"; }
};

inline std::vector<RawSample> ReadRawSamples(const std::filesystem::path& dir) {
  std::vector<RawSample> samples;
  std::ifstream in(dir / "manifest.tsv");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto c = test::SplitTabs(line);
    if (c.size() != 9) continue;
    RawSample s;
    s.name = c[0];
    s.typeId = static_cast<std::uint16_t>(std::stoul(c[1]));
    s.size = std::stoull(c[2]);
    s.md5 = c[3];
    s.suffix = c[4] == "-" ? "" : c[4];
    s.hit = c[5];
    if (c[6] != "-") s.carved = std::stoull(c[6]);
    s.carvedMd5 = c[7];
    s.note = c[8];
    s.bytes = ReadWholeFile(dir / s.name);
    samples.push_back(std::move(s));
  }
  return samples;
}

using test::FindTool;
using test::Quote;
using test::RunShell;

// A file of `bytes` zero bytes (a hole where the file system allows).
inline void MakeZeroFile(const std::filesystem::path& file, std::uint64_t bytes) {
  { std::ofstream create(file, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(file, bytes);
}

inline void WriteAt(const std::filesystem::path& file, std::uint64_t offset, const void* data, std::size_t bytes) {
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
}

inline std::vector<std::uint8_t> ReadAt(const std::filesystem::path& file, std::uint64_t offset, std::size_t bytes) {
  std::vector<std::uint8_t> out(bytes, 0);
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes));
  return out;
}

// Where the samples of one volume (or disk region) lie: unit n (a cluster,
// or a sector of a region) starts at absolute disk sector Sector(n).
struct SampleLayout {
  std::uint32_t unitBytes = 512;
  std::function<std::uint64_t(std::uint64_t)> sector;
  struct Placed {
    const RawSample* sample = nullptr;
    std::uint64_t unit = 0;        // the first cluster (or sector) of the sample
    std::uint64_t diskSector = 0;  // where that is on the disk
  };
  std::vector<Placed> placed;

  std::uint64_t UnitsOf(const RawSample& s) const { return (s.size + unitBytes - 1) / unitBytes; }
  std::uint64_t UnitsOf(const std::vector<RawSample>& samples) const {
    std::uint64_t n = 0;
    for (const auto& s : samples) n += UnitsOf(s);
    return n;
  }
  // Writes every sample back to back from unit `first` into `file`, whose
  // first byte is disk sector `fileSector`; the rest of each sample's last
  // unit keeps the zeros it had.
  void Place(const std::vector<RawSample>& samples, std::uint64_t first, const std::filesystem::path& file,
             std::uint64_t fileSector) {
    std::uint64_t unit = first;
    for (const auto& s : samples) {
      const std::uint64_t at = sector(unit);
      WriteAt(file, (at - fileSector) * 512, s.bytes.data(), s.bytes.size());
      placed.push_back({&s, unit, at});
      unit += UnitsOf(s);
    }
  }
};

// The fields of a FAT boot sector (published BPB offsets).
struct FatGeometry {
  std::uint32_t sectorsPerCluster = 0, reserved = 0, fats = 0, rootSectors = 0, fatSize = 0, totalSectors = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t DataStart() const { return reserved + fats * fatSize + rootSectors; }
  std::uint32_t Clusters() const { return (totalSectors - DataStart()) / sectorsPerCluster; }
};

inline FatGeometry ReadFatGeometry(const std::filesystem::path& volume) {
  const auto b = ReadAt(volume, 0, 512);
  auto le16 = [&](int o) { return static_cast<std::uint32_t>(b[o] | b[o + 1] << 8); };
  auto le32 = [&](int o) { return le16(o) | le16(o + 2) << 16; };
  FatGeometry g;
  g.sectorsPerCluster = b[13];
  g.reserved = le16(14);
  g.fats = b[16];
  g.rootSectors = (le16(17) * 32 + 511) / 512;
  g.totalSectors = le16(19) ? le16(19) : le32(32);
  g.fatSize = le16(22) ? le16(22) : le32(36);
  g.rootCluster = le16(22) ? 0 : le32(44);
  return g;
}

// The FAT entry of `cluster` in the first FAT (12, 16 or 32 bits).
inline std::uint32_t FatEntry(const std::filesystem::path& volume, const FatGeometry& g, int bits,
                              std::uint32_t cluster) {
  const std::uint64_t fat = std::uint64_t{g.reserved} * 512;
  if (bits == 12) {
    const auto b = ReadAt(volume, fat + cluster * 3 / 2, 2);
    const std::uint32_t v = b[0] | b[1] << 8;
    return cluster & 1 ? v >> 4 : v & 0xFFF;
  }
  const auto b = ReadAt(volume, fat + cluster * (bits / 8), bits / 8);
  std::uint32_t v = 0;
  for (int i = bits / 8; i-- > 0;) v = v << 8 | b[i];
  return bits == 32 ? v & 0x0FFFFFFF : v;
}

// The exFAT boot sector and allocation bitmap (published exFAT layout).
struct ExFatGeometry {
  std::uint32_t heapOffset = 0, clusterCount = 0, rootCluster = 0, sectorsPerCluster = 0;
  std::vector<std::uint8_t> bitmap;
  bool Free(std::uint64_t cluster) const {
    const std::uint64_t bit = cluster - 2;
    return bit / 8 < bitmap.size() && (bitmap[bit / 8] >> (bit % 8) & 1) == 0;
  }
};

inline ExFatGeometry ReadExFatGeometry(const std::filesystem::path& volume) {
  const auto b = ReadAt(volume, 0, 512);
  auto le32 = [&](const std::vector<std::uint8_t>& v, std::size_t o) {
    return static_cast<std::uint32_t>(v[o] | v[o + 1] << 8 | v[o + 2] << 16 | std::uint32_t{v[o + 3]} << 24);
  };
  ExFatGeometry g;
  g.heapOffset = le32(b, 88);
  g.clusterCount = le32(b, 92);
  g.rootCluster = le32(b, 96);
  g.sectorsPerCluster = 1u << b[109];
  const std::uint64_t clusterBytes = 512ull * g.sectorsPerCluster;
  auto clusterAt = [&](std::uint64_t c) { return (g.heapOffset + (c - 2) * g.sectorsPerCluster) * 512; };
  const auto root = ReadAt(volume, clusterAt(g.rootCluster), clusterBytes);
  for (std::size_t e = 0; e + 32 <= root.size(); e += 32) {
    if (root[e] != 0x81) continue;  // the allocation bitmap entry
    const std::uint32_t first = le32(root, e + 20);
    const std::uint32_t length = le32(root, e + 24);
    g.bitmap = ReadAt(volume, clusterAt(first), length);
    break;
  }
  return g;
}

// Free clusters of an NTFS volume image, from The Sleuth Kit's blkls
// ("address|a" or "address|f" per cluster).
inline std::vector<bool> NtfsFreeClusters(const std::string& blkls, const std::filesystem::path& volume,
                                          const std::filesystem::path& scratch) {
  std::vector<bool> free;
  if (RunShell(blkls + " -e -l " + Quote(volume) + " > " + Quote(scratch) + " 2>/dev/null") != 0) return free;
  std::ifstream in(scratch);
  for (std::string line; std::getline(in, line);) {
    const auto bar = line.find('|');
    if (bar == std::string::npos || line.empty() || line[0] < '0' || line[0] > '9') continue;
    const std::uint64_t addr = std::stoull(line.substr(0, bar));
    if (free.size() <= addr) free.resize(addr + 1, false);
    free[addr] = line.compare(bar + 1, 1, "f") == 0;
  }
  return free;
}

// An MBR of primary partitions (published entry layout: type at +4, first
// LBA at +8, count at +12).
struct MbrPartition {
  std::uint8_t type;
  std::uint32_t start, sectors;
};
inline void WriteMbr(const std::filesystem::path& disk, const std::vector<MbrPartition>& parts) {
  std::uint8_t mbr[512] = {};
  for (std::size_t i = 0; i < parts.size(); ++i) PutMbrEntry(mbr, static_cast<int>(i), parts[i].type,
                                                            parts[i].start, parts[i].sectors);
  WriteAt(disk, 0, mbr, sizeof mbr);
}

// A VMware text descriptor naming one flat extent in its own folder.
inline void WriteFlatVmdkDescriptor(const std::filesystem::path& descriptor, const std::string& extentName,
                                    std::uint64_t sectors) {
  WriteWholeFile(descriptor, "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                             "createType=\"monolithicFlat\"\n\n# Extent description\nRW " +
                                 std::to_string(sectors) + " FLAT \"" + extentName + "\" 0\n");
}

// Turns a raw disk file into a fixed VHD: the published 512-byte footer
// (big-endian fields, one's-complement byte-sum checksum) after the data.
inline void AppendFixedVhdFooter(const std::filesystem::path& disk) {
  const std::uint64_t bytes = std::filesystem::file_size(disk);
  std::uint8_t f[512] = {};
  std::memcpy(f, "conectix", 8);
  SetBE32(f + 8, 2);                    // features: reserved bit
  SetBE32(f + 12, 0x00010000);          // format version
  SetBE64(f + 16, ~std::uint64_t{0});   // data offset: none (fixed disk)
  std::memcpy(f + 28, "tst ", 4);       // creator application
  SetBE32(f + 32, 0x00010000);          // creator version
  std::memcpy(f + 36, "Wi2k", 4);       // creator host OS
  SetBE64(f + 40, bytes);               // original size
  SetBE64(f + 48, bytes);               // current size
  // CHS geometry as the format's algorithm gives it for small disks.
  std::uint64_t total = std::min<std::uint64_t>(bytes / 512, 65535ull * 16 * 255);
  std::uint32_t spt = 17, heads = (static_cast<std::uint32_t>(total / spt) + 1023) / 1024;
  if (heads < 4) heads = 4;
  if (total / spt >= heads * 1024ull || heads > 16) {
    spt = 31;
    heads = 16;
  }
  if (total / spt >= heads * 1024ull) {
    spt = 63;
    heads = 16;
  }
  SetBE16(f + 56, static_cast<std::uint16_t>(total / spt / heads));
  f[58] = static_cast<std::uint8_t>(heads);
  f[59] = static_cast<std::uint8_t>(spt);
  SetBE32(f + 60, 2);                   // disk type: fixed
  for (int i = 0; i < 16; ++i) f[68 + i] = static_cast<std::uint8_t>(0x51 + i);  // unique id
  std::uint32_t sum = 0;
  for (std::uint8_t byte : f) sum += byte;
  SetBE32(f + 64, ~sum);
  std::ofstream(disk, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(f), sizeof f);
}

// The preset signature file's records, those with their selected byte set,
// and those plus every other type that has an analyser.
inline std::vector<FileTypeRecord> PresetTypes(bool allAnalysed) {
  const auto all = ReadFileTypeRecords(std::filesystem::path(CORVAN_SOURCE_TESTS) / ".." / "resources" /
                                       "HeaderFile.cfg");
  std::vector<FileTypeRecord> chosen;
  for (const auto& r : all) {
    const bool analysed = r.typeId == 57 || r.typeId == 115 || r.typeId == 135 || r.typeId == 139 ||
                          r.typeId == 140 || r.typeId == 141 || r.typeId == 143;
    if (r.selected || (allAnalysed && analysed)) chosen.push_back(r);
  }
  return chosen;
}

// A Raw Recovery scan on a headless host of a mounted disk's source, as the
// program starts it after the source page's selection.
struct RawScan : test::VolumeScan {
  void Run(const SourceRecord& source, std::shared_ptr<SectorSource> disk, std::vector<FileTypeRecord> types,
           std::uint64_t mediaFirst, std::uint64_t mediaLast) {
    host.SelectedTypeList() = std::move(types);
    VolumeScan::Run(source, std::move(disk), kModeRaw, 0, mediaFirst, mediaLast);
  }
};

}  // namespace corvan::rawtest
