// Raw Recovery end to end: files made by the usual tools (make-raw-samples)
// are written into the free space of FAT12, FAT16, FAT32, exFAT and NTFS
// volumes formatted by their mkfs tools inside MBR disks (a flat VMDK and a
// fixed VHD), and into sectors outside any partition; the program mounts the
// disks, lists their volumes and runs Raw Recovery on a volume or on the
// whole disk. Every sample must be listed at the cluster (or sector) where it
// was written, in the folder of its type, named as the carving rules name it,
// with the size the format's rules give and exactly those bytes.
//
// What the format rules give, beyond "the whole file": a RAR is carved
// without its end block (the manifest says so per file); NTFS measures
// documents the Office analysis names DOC, XLS or PPT again, up to the next
// file's first unit, and files them as "BAD". Pictures (TIFF pages, strips
// and tiles in either byte order, GIF87a and GIF89a with extensions), WAVE
// files and PDFs come out byte for byte, whatever follows them. Names
// carry the picture's own suffix (date, text, size in pixels) after the count
// of files carved so far, or else the position.

#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <map>
#include <set>

#include "app/CORVANApp.h"
#include "app/SourceSetup.h"
#include "platform/TextConv.h"
#include "sources/VirtualDiskImage.h"
#include "support/CarveTestDisk.h"
#include "support/RawSamples.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using rawtest::RawSample;
using rawtest::SampleLayout;

enum class Place { Fat12, Fat16, Fat32, ExFat, Ntfs, DiskRegion };

const char* PlaceName(Place p) {
  switch (p) {
    case Place::Fat12: return "Fat12";
    case Place::Fat16: return "Fat16";
    case Place::Fat32: return "Fat32";
    case Place::ExFat: return "ExFat";
    case Place::Ntfs: return "Ntfs";
    case Place::DiskRegion: return "UnpartitionedRegion";
  }
  return "?";
}

// Disk A (flat VMDK): FAT12, FAT16, FAT32 and exFAT primaries. Disk B (fixed
// VHD): samples in the sectors before its one NTFS partition.
constexpr std::uint32_t kFat12Start = 2048, kFat12Sectors = 24576;    // 12 MiB, 4 KiB clusters
constexpr std::uint32_t kFat16Start = 26624, kFat16Sectors = 65536;   // 32 MiB, 1 KiB clusters
constexpr std::uint32_t kFat32Start = 92160, kFat32Sectors = 81920;   // 40 MiB, 512-byte clusters
constexpr std::uint32_t kExFatStart = 174080, kExFatSectors = 65536;  // 32 MiB, 32 KiB clusters
constexpr std::uint64_t kDiskASectors = 239616;
constexpr std::uint32_t kRegionFirst = 64;                            // the region: sectors 64..8191
constexpr std::uint32_t kNtfsStart = 8192, kNtfsSectors = 65536;      // 32 MiB, 4 KiB clusters
constexpr std::uint64_t kDiskBSectors = kNtfsStart + kNtfsSectors;

struct PlacedVolume {
  fs::path image;
  std::uint32_t imageType = 0;
  std::uint64_t start = 0;  // the volume's first sector; the disk for the region
  bool wholeDisk = false;
  std::uint64_t regionEnd = 0;  // whole disk: the region's end sector
  SampleLayout layout;
};

struct Shared {
  std::unique_ptr<test::TempDir> dir;
  std::vector<RawSample> samples;
  std::string skip;
  std::string failure;
  std::map<Place, PlacedVolume> volumes;
};

Shared& Suite() {
  static Shared shared;
  return shared;
}

std::string Formats(const std::string& tool, const std::string& options, const fs::path& volume) {
  const std::string cmd = tool + " " + options + " " + rawtest::Quote(volume) + " >/dev/null 2>&1";
  return rawtest::RunShell(cmd) == 0 ? std::string() : "failed: " + cmd;
}

// Where `PlaceInFat` lays samples: from the first run of free clusters that
// holds them all.
constexpr std::int64_t kFirstFreeRun = 0;

// Lays `samples` back to back from cluster `first` (counted back from the
// end of the volume's clusters when negative; kFirstFreeRun: the first run
// of free clusters that holds them) of the FAT volume in `volume`, which
// becomes disk sector `start`, and copies the volume into `disk`.
std::string PlaceInFat(const fs::path& volume, int bits, std::uint32_t start, const std::vector<RawSample>& samples,
                       std::int64_t first, const fs::path& disk, PlacedVolume& v) {
  const rawtest::FatGeometry g = rawtest::ReadFatGeometry(volume);
  v = PlacedVolume{.image = {}, .imageType = kImageVmware, .start = start};
  v.layout.unitBytes = g.sectorsPerCluster * 512;
  v.layout.sector = [start, g](std::uint64_t c) { return start + g.DataStart() + (c - 2) * g.sectorsPerCluster; };
  const std::int64_t end = std::int64_t{g.Clusters()} + 2;
  const std::uint64_t units = v.layout.UnitsOf(samples);
  auto free = [&](std::int64_t c) { return rawtest::FatEntry(volume, g, bits, static_cast<std::uint32_t>(c)) == 0; };
  if (first == kFirstFreeRun) {
    for (std::int64_t c = 2, run = 0; c < end && first == kFirstFreeRun; ++c) {
      run = free(c) ? run + 1 : 0;
      if (run == static_cast<std::int64_t>(units)) first = c + 1 - run;
    }
    if (first == kFirstFreeRun) return "no free run of " + std::to_string(units) + " clusters";
  }
  if (first < 0) first += end;
  if (first < 2 || first + static_cast<std::int64_t>(units) > end) return volume.filename().string() + " is too small";
  for (std::int64_t c = first; c < first + static_cast<std::int64_t>(units); ++c)
    if (!free(c)) return "cluster " + std::to_string(c) + " of the volume is not free";
  v.layout.Place(samples, static_cast<std::uint64_t>(first), volume, start);
  test::CopyKeepingHoles(volume, disk, std::uint64_t{start} * 512);
  return {};
}

// Formats a FAT volume of `sectors` at disk sector `start` in `volume`, lays
// `samples` into it with `PlaceInFat` and copies the volume into `disk`.
std::string LayFat(const fs::path& volume, int bits, std::uint32_t start, std::uint32_t sectors, int clusterSectors,
                   const std::vector<RawSample>& samples, std::int64_t first, const fs::path& disk, PlacedVolume& v) {
  rawtest::MakeZeroFile(volume, std::uint64_t{sectors} * 512);
  if (auto e = Formats(rawtest::FindTool("mkfs.fat"),
                       "-F " + std::to_string(bits) + " -s " + std::to_string(clusterSectors) + " -h " +
                           std::to_string(start) + " -i 1234ABCD",
                       volume);
      !e.empty())
    return e;
  if (rawtest::ReadFatGeometry(volume).sectorsPerCluster != static_cast<std::uint32_t>(clusterSectors))
    return "mkfs.fat chose another cluster size";
  return PlaceInFat(volume, bits, start, samples, first, disk, v);
}
// The samples from cluster 8 (clusters 2..7 stay free and empty).
std::string BuildFat(Place place, int bits, std::uint32_t start, std::uint32_t sectors, int clusterSectors,
                     const fs::path& disk) {
  Shared& s = Suite();
  return LayFat(*s.dir / (std::string(PlaceName(place)) + ".img"), bits, start, sectors, clusterSectors, s.samples, 8,
                disk, s.volumes[place]);
}

std::string BuildExFat(std::uint32_t start, std::uint32_t sectors, const fs::path& disk) {
  Shared& s = Suite();
  const fs::path volume = *s.dir / "ExFat.img";
  rawtest::MakeZeroFile(volume, std::uint64_t{sectors} * 512);
  if (auto e = Formats(rawtest::FindTool("mkfs.exfat"), "-c 32K", volume); !e.empty()) return e;
  const rawtest::ExFatGeometry g = rawtest::ReadExFatGeometry(volume);
  if (g.sectorsPerCluster != 64 || g.bitmap.empty()) return "mkfs.exfat made an unexpected layout";
  PlacedVolume v{.image = {}, .imageType = kImageVmware, .start = start};
  v.layout.unitBytes = g.sectorsPerCluster * 512;
  v.layout.sector = [start, g](std::uint64_t c) { return start + g.heapOffset + (c - 2) * g.sectorsPerCluster; };
  // Past the bitmap, up-case table and root folder, and past cluster 4,
  // where the free-cluster pass begins.
  constexpr std::uint32_t kFirst = 16;
  const std::uint64_t units = v.layout.UnitsOf(s.samples);
  if (kFirst + units > g.clusterCount + 2) return "exFAT volume too small";
  for (std::uint64_t c = kFirst; c < kFirst + units; ++c)
    if (!g.Free(c)) return "exFAT cluster " + std::to_string(c) + " of the new volume is not free";
  v.layout.Place(s.samples, kFirst, volume, start);
  test::CopyKeepingHoles(volume, disk, std::uint64_t{start} * 512);
  s.volumes[Place::ExFat] = std::move(v);
  return {};
}

std::string BuildNtfs(std::uint32_t start, std::uint32_t sectors, const fs::path& disk) {
  Shared& s = Suite();
  const fs::path volume = *s.dir / "Ntfs.img";
  rawtest::MakeZeroFile(volume, std::uint64_t{sectors} * 512);
  if (auto e = Formats(rawtest::FindTool("mkntfs"), "-F -Q -q -c 4096 -p " + std::to_string(start), volume); !e.empty())
    return e;
  const auto free = rawtest::NtfsFreeClusters(rawtest::FindTool("blkls"), volume, *s.dir / "blkls.txt");
  if (free.empty()) return "blkls could not list the NTFS volume's clusters";
  PlacedVolume v{.image = {}, .imageType = kImageVirtualPc, .start = start};
  v.layout.unitBytes = 4096;
  v.layout.sector = [start](std::uint64_t c) { return start + c * 8; };
  // The first run of free clusters that holds every sample, a few clusters in.
  const std::uint64_t units = v.layout.UnitsOf(s.samples);
  std::uint64_t first = 0;
  for (std::uint64_t c = 0, run = 0; c < free.size(); ++c) {
    run = free[c] ? run + 1 : 0;
    if (run == units + 8) {
      first = c + 1 - units;
      break;
    }
  }
  if (first == 0) return "no free run of " + std::to_string(units) + " clusters in the NTFS volume";
  v.layout.Place(s.samples, first, volume, start);
  test::CopyKeepingHoles(volume, disk, std::uint64_t{start} * 512);
  s.volumes[Place::Ntfs] = std::move(v);
  return {};
}

std::string BuildDisks() {
  Shared& s = Suite();
  const fs::path diskA = *s.dir / "diskA-flat.vmdk";
  rawtest::MakeZeroFile(diskA, kDiskASectors * 512);
  for (auto e : {BuildFat(Place::Fat12, 12, kFat12Start, kFat12Sectors, 8, diskA),
                 BuildFat(Place::Fat16, 16, kFat16Start, kFat16Sectors, 2, diskA),
                 BuildFat(Place::Fat32, 32, kFat32Start, kFat32Sectors, 1, diskA),
                 BuildExFat(kExFatStart, kExFatSectors, diskA)})
    if (!e.empty()) return e;
  rawtest::WriteMbr(diskA, {{0x01, kFat12Start, kFat12Sectors},
                         {0x06, kFat16Start, kFat16Sectors},
                         {0x0C, kFat32Start, kFat32Sectors},
                         {0x07, kExFatStart, kExFatSectors}});
  rawtest::WriteFlatVmdkDescriptor(*s.dir / "diskA.vmdk", "diskA-flat.vmdk", kDiskASectors);
  for (Place p : {Place::Fat12, Place::Fat16, Place::Fat32, Place::ExFat}) s.volumes[p].image = *s.dir / "diskA.vmdk";

  const fs::path diskB = *s.dir / "diskB.vhd";
  rawtest::MakeZeroFile(diskB, kDiskBSectors * 512);
  if (auto e = BuildNtfs(kNtfsStart, kNtfsSectors, diskB); !e.empty()) return e;
  PlacedVolume region{.image = diskB, .imageType = kImageVirtualPc, .start = 0, .wholeDisk = true,
                      .regionEnd = kNtfsStart};
  region.layout.unitBytes = 512;
  region.layout.sector = [](std::uint64_t sector) { return sector; };
  if (kRegionFirst + region.layout.UnitsOf(s.samples) > kNtfsStart) return "the region is too small";
  region.layout.Place(s.samples, kRegionFirst, diskB, 0);
  s.volumes[Place::DiskRegion] = std::move(region);
  rawtest::WriteMbr(diskB, {{0x07, kNtfsStart, kNtfsSectors}});
  rawtest::AppendFixedVhdFooter(diskB);
  s.volumes[Place::Ntfs].image = diskB;
  return {};
}

// The selection: the preset's own, or every type with an analyser too.
struct Selection {
  bool allAnalysed;
};

std::string SelectionName(const ::testing::TestParamInfo<Selection>& info) {
  return info.param.allAnalysed ? "AllAnalysedTypes" : "PresetSelection";
}

class RawRecovery : public ::testing::TestWithParam<Selection> {
 public:
  static void SetUpTestSuite() {
    Shared& s = Suite();
    if (s.dir) return;
    s.dir = std::make_unique<test::TempDir>();
    for (const char* tool : {"mkfs.fat", "mkfs.exfat", "mkntfs", "blkls"}) {
      if (rawtest::FindTool(tool).empty()) {
        s.skip = std::string(tool) + " is not installed (scripts/setup-deps installs it)";
        return;
      }
    }
    const fs::path samples = *s.dir / "samples";
    const fs::path log = *s.dir / "make-raw-samples.log";
    const int rc = rawtest::RunShell(rawtest::Quote(fs::path(CORVAN_SOURCE_TESTS) / "tools" / "make-raw-samples") + " " +
                                    rawtest::Quote(samples) + " > " + rawtest::Quote(log) + " 2>&1");
    if (rc == 77) {
      s.skip = test::ReadWholeFile(log);
      return;
    }
    if (rc != 0) {
      s.failure = "make-raw-samples failed: " + test::ReadWholeFile(log);
      return;
    }
    s.samples = rawtest::ReadRawSamples(samples);
    if (s.samples.empty()) {
      s.failure = "make-raw-samples wrote no samples";
      return;
    }
    s.failure = BuildDisks();
  }
  static void TearDownTestSuite() {
    Shared& s = Suite();
    s.volumes.clear();
    s.samples.clear();
    s.dir.reset();
  }
};

// The type ids whose signature and analysis find a sample: its own, and for
// documents any Office type with the same signature (the analysis names the
// hit by what it finds, whichever of them matched).
bool FoundUnder(const RawSample& s, const std::set<std::uint16_t>& selected) {
  std::set<std::uint16_t> finders = {s.typeId};
  if (s.bytes.rfind("\xD0\xCF\x11\xE0", 0) == 0) finders.insert({113, 114, 115});
  if (s.typeId == 128 || s.typeId == 132 || s.typeId == 135) finders.insert({128, 132, 135});
  for (auto id : finders)
    if (selected.count(id)) return true;
  return false;
}

// Whether a selected type's signature begins the sample's data.
bool BeginsSelectedType(const RawSample& s, const std::vector<FileTypeRecord>& types) {
  return std::any_of(types.begin(), types.end(), [&](const FileTypeRecord& t) {
    return t.headerOffset + t.headerLength <= s.bytes.size() &&
           std::memcmp(s.bytes.data() + t.headerOffset, t.header.data(), t.headerLength) == 0;
  });
}

// What a file carved up to the next signature holds when it begins at
// placed sample `i`: the units up to the next sample a selected type's
// signature begins, as the layout wrote them (each sample, zeros after it).
std::string BytesToNextSignature(const SampleLayout& layout, std::size_t i, const std::vector<FileTypeRecord>& types) {
  std::string bytes;
  for (std::size_t j = i; j < layout.placed.size(); ++j) {
    const RawSample& s = *layout.placed[j].sample;
    if (j > i && BeginsSelectedType(s, types)) break;
    std::string unit = s.bytes;
    unit.resize(layout.UnitsOf(s) * layout.unitBytes, '\0');
    bytes += unit;
  }
  return bytes;
}

std::string Listing(const FoundItemStore& store) {
  std::string text;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) {
    const StoredItem item = store.Item(h);
    text += "  " + Utf16ToUtf8(store.PathOf(h)) + (item.record.IsFolder() ? "/" : "") + "  at " +
            std::to_string(item.record.location) + ", " + std::to_string(item.record.size) + " bytes\n";
  }
  return text;
}

// One place: mount its disk, select the volume (or the disk), run Raw
// Recovery with `types` and check every sample.
int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Mounts the disk `v` lies on as the program does, selects its volume (or
// the disk) and runs Raw Recovery with `types`.
void ScanPlaced(const PlacedVolume& v, const std::vector<FileTypeRecord>& types, rawtest::RawScan& scan) {
  test::TempDir home;
  test::UserFolders folders(home.path());
  CORVANApp app(home / "settings.ini", home.path());
  const MountOutcome mounted = MountAndListSources(app, v.imageType, v.image);
  ASSERT_TRUE(mounted.mounted) << v.image;
  const SourceRecord* source = nullptr;
  for (const auto& r : app.m_sourceList.m_sources) {
    if (v.wholeDisk ? r->kind == kSourceDisk : (r->partition && r->partition->startSector == v.start)) source = r.get();
  }
  ASSERT_NE(source, nullptr) << "the source list has no volume at " << v.start;
  ASSERT_NE(SelectSource(app, source->index), nullptr);
  scan.Run(*source, app.m_pDisk, types, app.m_scanBounds.m_nMediaFirstSector, app.m_scanBounds.m_nMediaLastSector);
  EXPECT_EQ(scan.problem, "");
}

void CheckPlace(Place place, const std::vector<FileTypeRecord>& types) {
  const int failuresBefore = FailureCount();
  Shared& s = Suite();
  const PlacedVolume& v = s.volumes.at(place);
  std::set<std::uint16_t> selected;
  for (const auto& t : types) selected.insert(t.typeId);
  rawtest::RawScan scan;
  ScanPlaced(v, types, scan);
  if (FailureCount() != failuresBefore) return;

  // Carved files by where they begin.
  std::multimap<std::uint64_t, FoundItemHandle> byPlace;
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h) {
    const FoundItemInfo r = scan.store.Record(h);
    if (!r.IsFolder()) byPlace.emplace(r.location, h);
  }
  const std::string listing = Listing(scan.store);
  const bool ntfs = place == Place::Ntfs;

  std::uint64_t carvedSoFar = 0;
  std::set<std::uint64_t> expectedPlaces;
  for (std::size_t i = 0; i < v.layout.placed.size(); ++i) {
    const SampleLayout::Placed& placed = v.layout.placed[i];
    const RawSample& sample = *placed.sample;
    SCOPED_TRACE(sample.name + " at " + std::to_string(placed.unit));
    const auto [from, to] = byPlace.equal_range(placed.unit);
    if (!FoundUnder(sample, selected)) {
      EXPECT_EQ(from, to) << "a file of a type not searched for is listed";
      continue;
    }
    expectedPlaces.insert(placed.unit);
    ++carvedSoFar;
    if (from == to) {
      ADD_FAILURE() << "not listed";
      continue;
    }
    EXPECT_EQ(std::distance(from, to), 1) << "listed twice";
    const FoundItemHandle h = from->second;
    const StoredItem item = scan.store.Item(h);

    // NTFS files documents the Office analysis named as "BAD", sized like a
    // type without analyser: up to the next unit a searched type begins.
    const bool bad = ntfs && sample.OfficeNamed();
    const std::string type = bad ? "BAD" : sample.hit;
    std::uint64_t size = sample.carved.value_or(0);
    std::string md5 = sample.carvedMd5;
    if (bad || sample.Generic()) {
      const std::string bytes = BytesToNextSignature(v.layout, i, types);
      size = bytes.size();
      md5 = test::Md5Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    const std::string name = sample.suffix.empty() ? std::to_string(placed.unit) + "." + type
                                                   : std::to_string(carvedSoFar) + "_" + sample.suffix + "." + type;

    EXPECT_EQ(Utf16ToUtf8(item.name), name);
    const auto folder = scan.store.FindFolder(item.record.parentId);
    EXPECT_TRUE(folder.has_value()) << "no folder";
    if (folder) EXPECT_EQ(Utf16ToUtf8(scan.store.NameOf(*folder)), type);
    EXPECT_EQ(item.record.size, size) << sample.note;
    EXPECT_EQ(scan.Md5Of(item.record), md5) << sample.note;
  }
  // Nothing else was carved where the samples lie (the region: nothing
  // before the partition).
  for (const auto& [at, h] : byPlace) {
    const bool inRegion = !v.wholeDisk || (at >= kRegionFirst && at < v.regionEnd);
    if (inRegion && !expectedPlaces.count(at))
      ADD_FAILURE() << Utf16ToUtf8(scan.store.PathOf(h)) << " at " << at << " is not a sample";
  }
  if (FailureCount() != failuresBefore) std::cerr << PlaceName(place) << " carved:\n" << listing;
}

TEST_P(RawRecovery, ListsEverySampleWithItsNameSizeAndData) {
  Shared& s = Suite();
  if (!s.skip.empty()) GTEST_SKIP() << s.skip;
  ASSERT_TRUE(s.failure.empty()) << s.failure;
  const auto types = rawtest::PresetTypes(GetParam().allAnalysed);
  ASSERT_FALSE(types.empty()) << "the preset signature file was not read";
  for (Place place : {Place::Fat12, Place::Fat16, Place::Fat32, Place::ExFat, Place::Ntfs, Place::DiskRegion}) {
    SCOPED_TRACE(PlaceName(place));
    CheckPlace(place, types);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, RawRecovery, ::testing::Values(Selection{false}, Selection{true}), SelectionName);

RawSample Sample(std::string name, std::uint16_t typeId, std::string bytes) {
  RawSample s;
  s.name = std::move(name);
  s.typeId = typeId;
  s.size = bytes.size();
  s.md5 = test::Md5Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s.bytes = std::move(bytes);
  return s;
}

// The files a scan listed, by the unit they begin at.
std::map<std::uint64_t, FoundItemInfo> FilesByPlace(const rawtest::RawScan& scan) {
  std::map<std::uint64_t, FoundItemInfo> files;
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h)
    if (const FoundItemInfo r = scan.store.Record(h); !r.IsFolder()) files.emplace(r.location, r);
  return files;
}

// Headers whose sizes claim about 4 GiB, laid in the free clusters of two
// 40 MiB FAT32 volumes (512-byte clusters) of one flat VMDK. Such a header
// is wrong, and its file is measured to the next signature (the volume's
// end for the last); the pass says so in its log. In the second volume,
// headers whose sizes fit the volume but overlap would list it many times
// over: once the pass has listed twice the volume, each such size ends where
// the next header begins, and the stream and the file after them are
// listed all the same.
TEST(RawRecoveryBounds, SizesPastTheVolumesEndAreMeasuredAndThePassTotalHidesNoFile) {
  if (rawtest::FindTool("mkfs.fat").empty()) GTEST_SKIP() << "mkfs.fat is not installed (scripts/setup-deps installs it)";
  constexpr std::uint32_t kFirstStart = 2048, kSecondStart = kFirstStart + kFat32Sectors;
  constexpr std::uint64_t kDiskSectors = kSecondStart + kFat32Sectors;
  constexpr std::uint64_t kVolumeBytes = std::uint64_t{kFat32Sectors} * 512;
  // The first volume: one of each, 2048 clusters before its end.
  const std::vector<RawSample> claiming = {Sample("rar", 48, test::RarHeader(0xFFFFFFFFu)),
                                           Sample("avi", 165, test::AviHeader(0xFFFFFFF0u)),
                                           Sample("au", 57, test::AuHeader(24, 0xFFFFFFE0u))};
  // The second: 300 AU files of 30 MiB each as their headers say (each
  // ends inside the volume), an AU stream (its length unknown) with eight
  // empty clusters after it, and a whole 1024-byte AU file.
  constexpr std::uint32_t kClaimed = 30u << 20;
  std::vector<RawSample> overlapping(300, Sample("au", 57, test::AuHeader(24, kClaimed - 24)));
  overlapping.push_back(Sample("stream", 57, test::AuHeader(24, 0xFFFFFFFFu)));
  overlapping.push_back(Sample("gap", 0, std::string(8 * 512, '\0')));
  overlapping.push_back(Sample("whole", 57, test::AuHeader(24, 1000) + std::string(1000, '\x11')));

  test::TempDir dir;
  const fs::path disk = dir / "bounds-flat.vmdk";
  rawtest::MakeZeroFile(disk, kDiskSectors * 512);
  PlacedVolume first, second;
  ASSERT_EQ(LayFat(dir / "first.img", 32, kFirstStart, kFat32Sectors, 1, claiming, -2048, disk, first), "");
  ASSERT_EQ(LayFat(dir / "second.img", 32, kSecondStart, kFat32Sectors, 1, overlapping, 8, disk, second), "");
  rawtest::WriteMbr(disk, {{0x0C, kFirstStart, kFat32Sectors}, {0x0C, kSecondStart, kFat32Sectors}});
  rawtest::WriteFlatVmdkDescriptor(dir / "bounds.vmdk", "bounds-flat.vmdk", kDiskSectors);
  first.image = second.image = dir / "bounds.vmdk";
  const auto types = rawtest::PresetTypes(true);

  {
    SCOPED_TRACE("one of each");
    rawtest::RawScan scan;
    ScanPlaced(first, types, scan);
    const auto files = FilesByPlace(scan);
    ASSERT_EQ(files.size(), claiming.size()) << Listing(scan.store);
    // Each header lies in one cluster, the next one right after it.
    for (std::size_t i = 0; i < first.layout.placed.size(); ++i) {
      const SampleLayout::Placed& p = first.layout.placed[i];
      SCOPED_TRACE(p.sample->name);
      ASSERT_TRUE(files.count(p.unit)) << Listing(scan.store);
      const FoundItemInfo& r = files.at(p.unit);
      const std::uint64_t expected =
          i + 1 < claiming.size() ? 512 : (kFirstStart + kFat32Sectors - p.diskSector) * 512;
      EXPECT_EQ(r.size, expected);
      EXPECT_EQ(scan.BytesReadOf(r), expected);
    }
    EXPECT_NE(scan.host.LogText().find("3 file(s) whose header size ran past the volume's end"), std::string::npos)
        << scan.host.LogText();
  }
  {
    SCOPED_TRACE("headers that would list the volume 225 times over");
    rawtest::RawScan scan;
    ScanPlaced(second, types, scan);
    const auto files = FilesByPlace(scan);
    ASSERT_EQ(files.size(), 302u) << Listing(scan.store);
    std::uint64_t listed = 0;
    int whole = 0;
    for (const SampleLayout::Placed& p : second.layout.placed) {
      if (p.sample->typeId == 0) continue;
      SCOPED_TRACE(p.sample->name + " at " + std::to_string(p.unit));
      ASSERT_TRUE(files.count(p.unit));
      const FoundItemInfo& r = files.at(p.unit);
      listed += r.size;
      // Two fit in twice the volume; each later one ends at the next header,
      // one cluster on.
      if (p.sample->name == "au") EXPECT_EQ(r.size, whole++ < 2 ? kClaimed : 512u);
      // Measured to the next signature: the eight empty clusters after it
      // too, which what is left of the bound still holds.
      if (p.sample->name == "stream") EXPECT_EQ(r.size, 9 * 512u);
      if (p.sample->name == "whole") {
        EXPECT_EQ(r.size, 1024u);
        EXPECT_EQ(scan.Md5Of(r), p.sample->md5);
      }
    }
    EXPECT_LE(listed, 2 * kVolumeBytes + 300 * 512 + 1024);
    EXPECT_NE(scan.host.LogText().find("298 size(s) shortened after the pass had listed twice the volume's bytes"),
              std::string::npos)
        << scan.host.LogText();
  }
}

// A bitmap as the format defines it: 14-byte file header, 40-byte info
// header, rows of 24-bit pixels padded to four bytes, its sizes in both
// headers. The pixels hold no signature.
std::string BitmapFile(std::uint32_t width, std::uint32_t height, std::uint8_t seed) {
  const std::uint32_t row = (width * 3 + 3) & ~3u, image = row * height;
  std::string b(54 + image, '\0');
  test::PutLe(b, 0, 'B' | 'M' << 8, 2);
  test::PutLe(b, 2, b.size(), 4);
  test::PutLe(b, 10, 54, 4);
  test::PutLe(b, 14, 40, 4);
  test::PutLe(b, 18, width, 4);
  test::PutLe(b, 22, height, 4);
  test::PutLe(b, 26, 1, 2);
  test::PutLe(b, 28, 24, 2);
  test::PutLe(b, 34, image, 4);
  for (std::size_t k = 54; k < b.size(); ++k) b[k] = static_cast<char>(0x80 + (k * 7 + seed) % 13);
  return b;
}

// The corpus FAT32 volume with a WAVE header whose RIFF length (1 GiB less
// 8 bytes, below the type's largest size) runs far past the volume, at the
// start of its free space, and 49 bitmaps after it: the header does not
// make the walk skip them.
TEST(RawRecoveryBounds, AWaveHeaderPastTheVolumesEndHidesNoBitmapAfterIt) {
  const fs::path corpus = test::CorpusDir() / "fat32.img";
  if (!fs::exists(corpus)) GTEST_SKIP() << "the corpus is not unpacked (ctest -R corpus_unpack)";
  std::string wave = "RIFF....WAVEfmt ";
  test::PutLe(wave, 4, 0x3FFFFFF0u, 4);
  wave += std::string("\x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\xe0\xff\xff\x3f", 28);
  std::vector<RawSample> samples = {Sample("wave", 73, wave)};
  for (std::uint32_t i = 0; i < 49; ++i)
    samples.push_back(Sample("bmp" + std::to_string(i), 17, BitmapFile(20 + i, 10 + i % 7, static_cast<std::uint8_t>(i))));

  test::TempDir dir;
  const fs::path volume = dir / "fat32.img";
  fs::copy_file(corpus, volume);
  const std::uint64_t sectors = fs::file_size(volume) / 512;
  constexpr std::uint32_t kStart = 2048;
  const fs::path disk = dir / "wave-flat.vmdk";
  rawtest::MakeZeroFile(disk, (kStart + sectors) * 512);
  PlacedVolume v;
  ASSERT_EQ(PlaceInFat(volume, 32, kStart, samples, kFirstFreeRun, disk, v), "");
  rawtest::WriteMbr(disk, {{0x0C, kStart, static_cast<std::uint32_t>(sectors)}});
  rawtest::WriteFlatVmdkDescriptor(dir / "wave.vmdk", "wave-flat.vmdk", kStart + sectors);
  v.image = dir / "wave.vmdk";
  const auto types = rawtest::PresetTypes(false);
  for (std::uint16_t id : {17, 73})
    ASSERT_TRUE(std::any_of(types.begin(), types.end(), [&](const FileTypeRecord& t) { return t.typeId == id; }));

  rawtest::RawScan scan;
  ScanPlaced(v, types, scan);
  const auto files = FilesByPlace(scan);
  std::size_t bitmaps = 0;
  for (const SampleLayout::Placed& p : v.layout.placed) {
    SCOPED_TRACE(p.sample->name + " at cluster " + std::to_string(p.unit));
    const auto found = files.find(p.unit);
    ASSERT_NE(found, files.end()) << Listing(scan.store);
    if (p.sample->typeId == 73) {
      EXPECT_EQ(found->second.size, 512u);  // measured up to the first bitmap
      continue;
    }
    EXPECT_EQ(found->second.size, p.sample->size);
    EXPECT_EQ(scan.Md5Of(found->second), p.sample->md5);
    ++bitmaps;
  }
  EXPECT_EQ(bitmaps, 49u);
  EXPECT_NE(scan.host.LogText().find("whose header size ran past the volume's end"), std::string::npos);
}

// A 64 MiB FAT32 volume made by mkfs.fat holding three ZIPs that Python's
// zipfile wrote to a pipe (sizes deferred to data descriptors), then ten
// JPEGs, all deleted: each comes back byte for byte, and each ZIP opens.
TEST(RawRecoveryStreams, StreamedZipsAndTheJpegsAfterThemComeBackByteForByte) {
  for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "python3", "convert"})
    if (rawtest::FindTool(tool).empty()) GTEST_SKIP() << tool << " is not installed (scripts/setup-deps installs it)";
  test::TempDir dir;
  const fs::path volume = dir / "streams.img";
  constexpr std::uint32_t kStart = 2048, kSectors = 131072;
  rawtest::MakeZeroFile(volume, std::uint64_t{kSectors} * 512);
  ASSERT_EQ(Formats(rawtest::FindTool("mkfs.fat"), "-F 32 -h 2048 -i 1234ABCD", volume), "");
  const std::string write =
      "import random, sys, zipfile\n"
      "r = random.Random(int(sys.argv[1]))\n"
      "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    for i in range(5):\n"
      "        z.writestr('notes/%d.txt' % i, ''.join('line %d of %d\\n' % (k, i) for k in range(800)))\n"
      "        z.writestr('data/%d.bin' % i, bytes(r.getrandbits(8) for _ in range(38000)))\n";
  test::WriteWholeFile(dir / "write.py", write);
  std::vector<std::string> names;
  for (int i = 1; i <= 3; ++i) names.push_back("s" + std::to_string(i) + ".zip");
  for (int i = 0; i < 10; ++i) names.push_back("p" + std::to_string(i) + ".jpg");
  std::string make = "cd " + rawtest::Quote(dir.path()) + " && ";
  for (int i = 1; i <= 3; ++i)
    make += "python3 write.py " + std::to_string(i) + " | cat > s" + std::to_string(i) + ".zip && ";
  for (int i = 0; i < 10; ++i)
    make += "convert -seed " + std::to_string(i + 1) + " -size " + std::to_string(200 + 20 * i) +
            "x150 plasma: -quality 85 p" + std::to_string(i) + ".jpg && ";
  make += "mcopy -i streams.img";
  for (const auto& n : names) make += " " + n;
  make += " :: && mdel -i streams.img";
  for (const auto& n : names) make += " ::" + n;
  ASSERT_EQ(rawtest::RunShell(make + " >/dev/null 2>&1"), 0) << make;

  std::map<std::string, std::string> originals;  // MD5 -> name
  for (const auto& n : names) {
    const std::string bytes = test::ReadWholeFile(dir / n);
    if (n.ends_with(".zip")) {
      ASSERT_GT(bytes.size(), 150000u);
      ASSERT_EQ(bytes[6] & 8, 8) << n << " does not defer its sizes";
    }
    originals[test::Md5Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))] = n;
  }
  const fs::path disk = dir / "streams-flat.vmdk";
  rawtest::MakeZeroFile(disk, (kStart + kSectors) * 512);
  test::CopyKeepingHoles(volume, disk, std::uint64_t{kStart} * 512);
  rawtest::WriteMbr(disk, {{0x0C, kStart, kSectors}});
  rawtest::WriteFlatVmdkDescriptor(dir / "streams.vmdk", "streams-flat.vmdk", kStart + kSectors);
  PlacedVolume v{.image = dir / "streams.vmdk", .imageType = kImageVmware, .start = kStart};
  const auto types = rawtest::PresetTypes(false);
  for (std::uint16_t id : {14, 52})
    ASSERT_TRUE(std::any_of(types.begin(), types.end(), [&](const FileTypeRecord& t) { return t.typeId == id; }));

  rawtest::RawScan scan;
  ScanPlaced(v, types, scan);
  std::set<std::string> found;
  for (const auto& [at, r] : FilesByPlace(scan)) {
    const std::string bytes = scan.BytesOf(r);
    const std::string md5 = test::Md5Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    const auto original = originals.find(md5);
    if (original == originals.end()) continue;
    found.insert(original->second);
    if (!original->second.ends_with(".zip")) continue;
    // What was recovered opens and tests clean.
    const fs::path copy = dir / ("recovered-" + original->second);
    test::WriteWholeFile(copy, bytes);
    EXPECT_EQ(rawtest::RunShell("python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " +
                                rawtest::Quote(copy)),
              0)
        << original->second;
  }
  for (const auto& n : names) EXPECT_TRUE(found.count(n)) << n << " was not recovered byte for byte\n" << Listing(scan.store);
}

}  // namespace
}  // namespace corvan
