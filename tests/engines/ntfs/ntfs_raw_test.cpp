// Raw Recovery over NTFS volumes mkntfs makes here, 1 MiB into a disk file.
// Pictures made by ImageMagick, audio by sox, a web page and files of
// made-up types are written into clusters The Sleuth Kit's blkls calls free;
// each must be listed under its type folder with its name, size and bytes.
// Allocated data is never carved; a volume whose bitmap record is gone is
// searched sector by sector; Advance Recovery lists the same files under
// "Raw Data Folder(s)".

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/FileTypeRecord.h"
#include "core/RecoveryMode.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "sources/SourceRecords.h"
#include "support/FileSectorSource.h"
#include "support/HeadlessScan.h"
#include "support/Md5.h"

namespace corvan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Sig = std::array<std::uint8_t, 8>;

constexpr std::uint64_t kVolumeBytes = 24u << 20;
constexpr std::uint64_t kDiskOffset = 2048;  // sectors before the volume
// Signatures no real format begins with.
constexpr Sig kSigA = {0xC7, 'R', 'V', 'T', 'S', 'T', 0x01, 0xFE};
constexpr Sig kSigB = {0xC7, 'R', 'V', 'T', 'S', 'T', 0x02, 0xFD};
constexpr Sig kSigC = {0xC7, 'R', 'V', 'T', 'S', 'T', 0x03, 0xFC};

bool Sh(const std::string& cmd) {
  const bool ok = std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
  if (!ok) ADD_FAILURE() << cmd << " failed (tools come from scripts/setup-deps)";
  return ok;
}

Bytes ReadBytes(const std::filesystem::path& p) {
  const std::string s = test::ReadWholeFile(p);
  return Bytes(s.begin(), s.end());
}

void WriteAt(const std::filesystem::path& p, std::uint64_t offset, const Bytes& bytes) {
  std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Padded(Bytes b, std::uint64_t size) {
  b.resize(static_cast<std::size_t>(size), 0);
  return b;
}

// A signature, then bytes that begin no type at any sector (03 0A ...).
Bytes MadeUp(const Sig& sig, std::size_t length) {
  Bytes b(length);
  for (std::size_t i = 0; i < length; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(sig.begin(), sig.end(), b.begin());
  return b;
}

FileTypeRecord MadeUpType(const std::u16string& extension, const Sig& sig, std::uint32_t maxSize, std::uint16_t id) {
  FileTypeRecord t;
  t.extension = extension;
  t.headerLength = 8;
  std::copy(sig.begin(), sig.end(), t.header.begin());
  t.maxSize = maxSize;
  t.typeId = id;
  return t;
}

FileTypeRecord PresetType(std::uint16_t id) {
  for (const FileTypeRecord& r :
       ReadFileTypeRecords(std::filesystem::path(CORVAN_SOURCE_TESTS) / ".." / "resources" / "HeaderFile.cfg"))
    if (r.typeId == id) return r;
  ADD_FAILURE() << "no preset type " << id;
  return {};
}

std::u16string Dec(std::uint64_t v) { return Utf8ToUtf16(std::to_string(v)); }

// A file put into free clusters, and how a search of free clusters lists it.
struct Placed {
  std::string what;
  std::u16string folder;
  std::u16string suffix;  // what its format adds to its name
  std::uint64_t cluster = 0;
  Bytes bytes;            // as written
  std::uint64_t size = 0;
  Bytes data;             // what reads back
};

// The scan dialog; Stop is pressed when the second bar reaches `stopAt`.
class Progress final : public ProgressSink {
 public:
  explicit Progress(EngineHost& host, std::int64_t stopAt = -1) : host_(host), stopAt_(stopAt) {}
  void SetRange(std::int64_t, std::int64_t) override {}
  void SetStep(std::int64_t) override {}
  void SetPos(std::int64_t) override {}
  void StepIt() override {}
  void SetSecondRange(std::int64_t, std::int64_t high) override { secondHigh = high; }
  void SetSecondPos(std::int64_t pos) override {
    if (pos == stopAt_) host_.AbortFlag() = 1;
  }
  void SetCounterText(const std::string& text) override { counterTexts.push_back(text); }
  void SetStatusText(const std::string&) override {}
  void SetSectorText(const std::string& text) override { sectorTexts.push_back(text); }
  void EnableStop(bool) override {}
  std::int64_t secondHigh = 0;
  std::vector<std::string> counterTexts, sectorTexts;

 private:
  EngineHost& host_;
  std::int64_t stopAt_;
};

// The volume with a live file and the placed files, in its disk file.
struct RawVolume {
  explicit RawVolume(unsigned clusterBytes) : cb(clusterBytes), spc(clusterBytes / 512) {}

  bool Build() {
    volume = dir / "volume.img";
    { std::ofstream(volume).close(); }
    std::filesystem::resize_file(volume, kVolumeBytes);
    if (!Sh("mkntfs -F -Q -q -c " + std::to_string(cb) + " " + volume.string())) return false;
    // A live file with a made-up signature at its start and another at its
    // third cluster.
    live = Padded(Bytes(kSigA.begin(), kSigA.end()), 5 * cb - 10);
    std::fill(live.begin() + 8, live.end(), 'Z');
    std::copy(kSigB.begin(), kSigB.end(), live.begin() + 2 * cb);
    test::WriteWholeFile(dir / "live.bin", std::string(live.begin(), live.end()));
    if (!Sh("ntfscp " + volume.string() + " " + (dir / "live.bin").string() + " live.bin")) return false;

    // Free clusters in runs, as blkls lists them ("cluster|f").
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;  // first, count
    std::string text;
    if (FILE* f = ::popen(("blkls -l " + volume.string() + " 2>/dev/null").c_str(), "r")) {
      for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
      ::pclose(f);
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() < 3 || line.substr(line.size() - 2) != "|f") continue;
      const std::uint64_t c = std::stoull(line);
      freeClusters.insert(c);
      if (!runs.empty() && runs.back().first + runs.back().second == c) ++runs.back().second;
      else runs.push_back({c, 1});
    }
    const Bytes image = ReadBytes(volume);
    for (std::uint64_t c = 0; (c + 1) * cb <= image.size(); ++c)
      if (std::equal(live.begin(), live.begin() + 16, image.begin() + static_cast<std::ptrdiff_t>(c * cb)))
        liveCluster = c;
    if (liveCluster == 0 || freeClusters.count(liveCluster)) return Fail("the live file is not in allocated clusters");

    const auto bmp = dir / "p.bmp", png = dir / "p.png", au = dir / "t.au";
    if (!Sh("convert -size 200x100 gradient:red-blue BMP3:" + bmp.string()) ||
        !Sh("convert -seed 7 -size 120x90 xc: +noise Random -strip -define png:exclude-chunks=date,time png:" +
            png.string()) ||
        !Sh("sox -n -r 8000 -c 1 " + au.string() + " synth 0.3 sine 440"))
      return false;
    std::string page = "<html>\r\n<head><title>A page</title></head>\r\n<body>\r\n";
    for (int i = 0; i < 40; ++i) page += "<p>Line " + std::to_string(i) + " of a page of a few sectors.</p>\r\n";
    page += "</body>\r\n</html>\r\n";

    // The longest free run takes most files. The run before it ends with
    // the first two clusters of a file whose last part lies in the longest
    // run's first cluster, right before a picture: carving follows free
    // clusters only.
    std::size_t big = 0;
    for (std::size_t i = 0; i < runs.size(); ++i)
      if (runs[i].second > runs[big].second) big = i;
    if (big == 0 || runs[big - 1].second < 2) return Fail("no free run before the longest one");
    const std::uint64_t splitAt = runs[big - 1].first + runs[big - 1].second - 2;
    splitTail = runs[big].first;
    const Bytes split = MadeUp(kSigB, 2 * cb + cb * 7 / 10);
    files.push_back({"split file", u"carvete", u"", splitAt, split, 3 * cb, Padded(split, 3 * cb)});
    std::uint64_t c = splitTail + 1;
    auto put = [&](Placed p) {
      p.cluster = c;
      c += (std::max(p.size, std::uint64_t{p.bytes.size()}) + cb - 1) / cb + 1;
      files.push_back(std::move(p));
    };
    auto whole = [](std::string what, std::u16string folder, std::u16string suffix, Bytes b) {
      return Placed{std::move(what), std::move(folder), std::move(suffix), 0, b, b.size(), b};
    };
    put(whole("bmp", u"bmp", u"(200x100)", ReadBytes(bmp)));
    // Two and a half clusters of a made-up type, a picture right after them.
    const Bytes before = MadeUp(kSigA, 2 * cb + cb / 2);
    put({"file before a picture", u"tstgen", u"", 0, before, 3 * cb, Padded(before, 3 * cb)});
    --c;
    put(whole("png", u"png", u"(120x90)", ReadBytes(png)));
    put(whole("au", u"au", u"", ReadBytes(au)));
    c = (c + PerRead() - 1) / PerRead() * PerRead();  // the page begins a read
    htmlCluster = c;
    put(whole("html", u"html", u"", Bytes(page.begin(), page.end())));
    // Nothing after this one: carved to its type's largest size.
    const Bytes last = MadeUp(kSigA, cb + cb / 2);
    const std::uint64_t lastSize = (MaxA() + cb - 1) / cb * cb;
    put({"file before free space", u"tstgen", u"", 0, last, lastSize, Padded(last, lastSize)});
    emptyAu = c++;  // an AU header whose offset and length are 0: no bytes to list
    afterFiles = c;
    for (std::uint64_t u : {splitAt, splitAt + 1, splitTail})
      if (!freeClusters.count(u)) return Fail("the split file is not in free clusters");
    for (std::uint64_t u = splitTail; u < c; ++u)
      if (!freeClusters.count(u)) return Fail("the files do not fit the longest free run");

    for (const Placed& f : files) {
      if (f.what == "split file") {
        WriteAt(volume, f.cluster * cb, Bytes(f.bytes.begin(), f.bytes.begin() + 2 * cb));
        WriteAt(volume, splitTail * cb, Bytes(f.bytes.begin() + 2 * cb, f.bytes.end()));
      } else {
        WriteAt(volume, f.cluster * cb, f.bytes);
      }
    }
    Bytes emptyHeader(24, 0);
    std::copy_n(".snd", 4, emptyHeader.begin());
    PutBE32(emptyHeader.data() + 12, 2);
    WriteAt(volume, emptyAu * cb, emptyHeader);
    // Filler that is no zero before the volume: a read placed wrongly shows.
    disk = dir / "disk.img";
    test::WriteWholeFile(disk, std::string(kDiskOffset * 512, '\xEE') + test::ReadWholeFile(volume));
    return true;
  }

  bool Fail(const std::string& why) {
    ADD_FAILURE() << why;
    return false;
  }
  std::uint64_t PerRead() const { return 2048 / spc; }
  std::uint64_t MaxA() const { return 5 * cb + 100; }
  // One made-up type carved to the next signature or 5 clusters and 100
  // bytes; one to 4 clusters, named longer than a raw item's type name.
  std::vector<FileTypeRecord> Types() const {
    return {PresetType(17), PresetType(19), PresetType(57), PresetType(141),
            MadeUpType(u"tstgen", kSigA, static_cast<std::uint32_t>(MaxA()), 250),
            MadeUpType(u"carvetest", kSigB, 4 * cb, 251)};
  }
  // A source of the partition tables; a cluster size of 0 is left to the
  // boot sector.
  SourceRecord Source(bool clusterSizeKnown, const std::u16string& fileSystem = u"NTFS") const {
    SourceRecord s;
    s.kind = kSourceVolume;
    s.partition = std::make_unique<PartitionRecord>();
    s.partition->startSector = kDiskOffset;
    s.partition->sectorCount = kVolumeBytes / 512;
    s.partition->endSector = kDiskOffset + kVolumeBytes / 512;
    s.partition->fileSystemKind = kFsNtfs;
    s.partition->fileSystemText = fileSystem;
    s.partition->ntfsSectorsPerCluster = clusterSizeKnown ? static_cast<std::uint16_t>(spc) : 0;
    return s;
  }
  std::shared_ptr<SectorSource> Disk() const { return std::make_shared<test::FileSectorSource>(disk); }
  void WriteVolume(std::uint64_t offset, const Bytes& b) { WriteAt(disk, kDiskOffset * 512 + offset, b); }
  Bytes VolumeBytes(std::uint64_t offset, std::uint64_t n) const {
    const Bytes d = ReadBytes(disk);
    const auto at = d.begin() + static_cast<std::ptrdiff_t>(kDiskOffset * 512 + offset);
    return Bytes(at, at + static_cast<std::ptrdiff_t>(n));
  }

  unsigned cb, spc;
  test::TempDir dir;
  std::filesystem::path volume, disk;
  Bytes live;
  std::set<std::uint64_t> freeClusters;
  std::vector<Placed> files;
  std::uint64_t liveCluster = 0, splitTail = 0, htmlCluster = 0, emptyAu = 0, afterFiles = 0;
};

// What a scan listed under folder `parent`: its folders, their files.
struct Listing {
  std::map<std::u16string, StoredItem> folders;
  std::map<std::u16string, std::map<std::u16string, StoredItem>> files;
  std::size_t fileCount = 0;
};

Listing ListUnder(const FoundItemStore& store, std::uint32_t parent) {
  Listing l;
  for (FoundItemHandle h : store.ChildrenOf(parent)) {
    const StoredItem folder = store.Item(h);
    if (!folder.record.IsFolder() || folder.record.itemId == parent) continue;
    l.folders.emplace(folder.name, folder);
    for (FoundItemHandle f : store.ChildrenOf(folder.record.itemId)) {
      l.files[folder.name].emplace(store.Item(f).name, store.Item(f));
      ++l.fileCount;
    }
  }
  return l;
}

// `f` listed as `name` in its type's folder at `start`, with `size` and `data`.
void ExpectListed(const test::VolumeScan& scan, const Listing& l, const Placed& f, const std::u16string& name,
                  std::uint64_t start, std::uint64_t size, const Bytes& data) {
  SCOPED_TRACE(f.what + " as " + Utf16ToUtf8(name));
  ASSERT_TRUE(l.files.count(f.folder));
  const auto it = l.files.at(f.folder).find(name);
  ASSERT_NE(it, l.files.at(f.folder).end());
  const FoundItemInfo& r = it->second.record;
  EXPECT_EQ(r.attribute, kItemFile);
  EXPECT_EQ(r.location, start);
  EXPECT_EQ(r.size, size);
  EXPECT_EQ(r.modifiedTime | r.creationTime, 0u);
  EXPECT_EQ(scan.Md5Of(r), test::Md5Hex(data));
}

// Files with a suffix are numbered by their place among the files carved
// (in the order of the volume); the others are named by their cluster.
std::u16string FreeSpaceName(const std::vector<Placed>& files, const Placed& f) {
  const auto n = std::count_if(files.begin(), files.end(), [&](const Placed& o) { return o.cluster <= f.cluster; });
  return (f.suffix.empty() ? Dec(f.cluster) : Dec(n) + u"_" + f.suffix) + u"." + f.folder;
}

class NtfsRaw : public ::testing::TestWithParam<unsigned> {};

TEST_P(NtfsRaw, FreeClustersGiveEveryFileWithItsNameSizeAndBytesAndNothingAllocated) {
  RawVolume v(GetParam());
  ASSERT_TRUE(v.Build());
  test::VolumeScan scan;
  Progress progress(scan.host);
  scan.host.SetScanProgressSink(&progress);
  scan.host.SelectedTypeList() = v.Types();
  // The 512-byte volume's record leaves the cluster size to its boot sector.
  scan.Run(v.Source(v.cb != 512), v.Disk(), kModeRaw);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;

  const Listing l = ListUnder(scan.store, kNtfsRootId);
  std::set<std::u16string> folders;
  for (const auto& [name, folder] : l.folders) folders.insert(name);
  EXPECT_EQ(folders, (std::set<std::u16string>{u"au", u"bmp", u"carvete", u"html", u"png", u"tstgen"}));
  for (const Placed& f : v.files) ExpectListed(scan, l, f, FreeSpaceName(v.files, f), f.cluster, f.size, f.data);
  // Neither the live file's signatures nor the empty AU stream are listed.
  EXPECT_EQ(l.fileCount, v.files.size());
  EXPECT_EQ(scan.host.RawFileCount().load(), v.files.size());
  std::set<std::uint32_t> ids;
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h) {
    EXPECT_GE(scan.store.Item(h).record.itemId, 6u);
    EXPECT_TRUE(ids.insert(scan.store.Item(h).record.itemId).second);
  }
  const std::uint64_t total = kVolumeBytes / v.cb;
  EXPECT_EQ(progress.secondHigh, static_cast<std::int64_t>(total / v.PerRead()));
  EXPECT_EQ(progress.sectorTexts.front(), "Reading cluster 0 of " + std::to_string(total));
  EXPECT_EQ(progress.counterTexts.front(), "0 Entries Found");
  EXPECT_EQ(progress.counterTexts.back(), std::to_string(1 + folders.size() + v.files.size()) + " Entries Found");

  // Stop pressed as the read holding the page comes up: that read and the
  // rest are not made.
  test::VolumeScan stopped;
  Progress stopping(stopped.host, static_cast<std::int64_t>(v.htmlCluster / v.PerRead()) + 1);
  stopped.host.SetScanProgressSink(&stopping);
  stopped.host.SelectedTypeList() = v.Types();
  stopped.Run(v.Source(true), v.Disk(), kModeRaw);
  const Listing s = ListUnder(stopped.store, kNtfsRootId);
  std::size_t before = 0;
  for (const Placed& f : v.files) {
    if (f.cluster >= v.htmlCluster) continue;
    ++before;
    ExpectListed(stopped, s, f, FreeSpaceName(v.files, f), f.cluster, f.size, f.data);
  }
  EXPECT_EQ(s.fileCount, before);
  EXPECT_EQ(stopping.sectorTexts.back(), "Reading cluster " + std::to_string(v.htmlCluster - v.PerRead()) + " of " +
                                             std::to_string(total));

  // A volume the tables do not call NTFS is left alone.
  test::VolumeScan other;
  other.host.SelectedTypeList() = v.Types();
  other.Run(v.Source(true, u"RAW"), v.Disk(), kModeRaw);
  EXPECT_EQ(other.store.Count(), 0u);
}

TEST_P(NtfsRaw, AVolumeWhoseBitmapRecordIsGoneIsSearchedSectorBySector) {
  RawVolume v(GetParam());
  ASSERT_TRUE(v.Build());
  // The $Bitmap's record (6) in the $MFT cleared.
  const Bytes boot = v.VolumeBytes(0, 512);
  v.WriteVolume(GetLE64(boot.data() + 0x30) * v.cb + 6 * 1024, Bytes(1024, 0));
  test::VolumeScan scan;
  Progress progress(scan.host);
  scan.host.SetScanProgressSink(&progress);
  scan.host.SelectedTypeList() = v.Types();
  scan.Run(v.Source(true), v.Disk(), kModeRaw);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;

  const Listing l = ListUnder(scan.store, kNtfsRootId);
  std::vector<std::uint64_t> order;  // the files' sectors, in the order they came
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h)
    if (!scan.store.Item(h).record.IsFolder()) order.push_back(scan.store.Item(h).record.location);
  for (const Placed& f : v.files) {
    // Placed by the sector from the volume's start.
    const std::uint64_t sector = f.cluster * v.spc;
    const auto n = std::find(order.begin(), order.end(), sector) - order.begin() + 1;
    const std::u16string name = (f.suffix.empty() ? Dec(sector) : Dec(n) + u"_" + f.suffix) + u"." + f.folder;
    if (f.what == "split file") {
      // Consecutive sectors now, whatever they hold, up to its type's size.
      ExpectListed(scan, l, f, name, sector, 4 * v.cb, v.VolumeBytes(sector * 512, 4 * v.cb));
    } else if (f.what == "file before free space") {
      const std::uint64_t size = (v.MaxA() + 511) / 512 * 512;
      ExpectListed(scan, l, f, name, sector, size, Padded(f.bytes, size));
    } else {
      ExpectListed(scan, l, f, name, sector, f.size, f.data);
    }
  }
  EXPECT_EQ(std::count(order.begin(), order.end(), v.emptyAu * v.spc), 0);
  // Allocated data is searched too: the live file, up to its second signature.
  const std::uint64_t live = v.liveCluster * v.spc;
  const Placed liveFile{"live file", u"tstgen", u"", v.liveCluster, v.live, 0, {}};
  ExpectListed(scan, l, liveFile, Dec(live) + u".tstgen", live, 2 * v.cb,
               Bytes(v.live.begin(), v.live.begin() + 2 * v.cb));

  const std::string end = std::to_string(kDiskOffset + kVolumeBytes / 512);
  EXPECT_EQ(progress.sectorTexts.front(), "Reading sector " + std::to_string(kDiskOffset) + " of " + end);
  const std::string log = scan.host.LogText();
  EXPECT_NE(log.find("Searching physical drive for known file types"), std::string::npos) << log;
  EXPECT_NE(log.find("Process completed"), std::string::npos) << log;
}

TEST_P(NtfsRaw, AdvanceListsTheHitsInFreeSpaceUnderRawDataFolders) {
  RawVolume v(GetParam());
  ASSERT_TRUE(v.Build());
  test::VolumeScan scan;
  scan.host.SelectedTypeList() = v.Types();
  scan.host.SetRawSetting(0);
  scan.Run(v.Source(true), v.Disk(), kModeAdvance, kAdvanceNtfs);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;

  std::optional<StoredItem> raw;
  bool liveListed = false;  // the volume's own tree is there too
  for (FoundItemHandle h = 0; h < scan.store.Count(); ++h) {
    const StoredItem item = scan.store.Item(h);
    if (item.name == u"Raw Data Folder(s)" && item.record.parentId == kNtfsRootId) raw = item;
    liveListed |= item.name == u"live.bin";
  }
  EXPECT_TRUE(liveListed);
  ASSERT_TRUE(raw.has_value());
  const std::uint32_t base = 0xFFFFFFF0u;
  EXPECT_EQ(raw->record.itemId, base);
  const Listing l = ListUnder(scan.store, base);
  EXPECT_EQ(l.folders.size(), 6u);
  // Named by cluster, suffix or not; the raw-file count is Raw Recovery's.
  for (const Placed& f : v.files) ExpectListed(scan, l, f, Dec(f.cluster) + u"." + f.folder, f.cluster, f.size, f.data);
  EXPECT_EQ(l.fileCount, v.files.size());
  EXPECT_EQ(scan.host.RawFileCount().load(), 0u);
  // Ids count down from the first made-up one, each given once; the next
  // made-up id is the first not given.
  std::set<std::uint32_t> ids{base};
  for (const auto& [name, folder] : l.folders) {
    ids.insert(folder.record.itemId);
    for (const auto& [n, file] : l.files.at(name)) ids.insert(file.record.itemId);
  }
  const std::uint32_t items = static_cast<std::uint32_t>(1 + l.folders.size() + l.fileCount);
  EXPECT_EQ(ids.size(), items);
  EXPECT_EQ(*ids.begin(), base - items + 1);
  EXPECT_EQ(static_cast<std::uint32_t>(scan.host.NextSyntheticId().load()), base - items);

  // "SetRaw" set: nothing is collected.
  test::VolumeScan off;
  off.host.SelectedTypeList() = v.Types();
  off.host.SetRawSetting(1);
  off.Run(v.Source(true), v.Disk(), kModeAdvance, kAdvanceNtfs);
  for (FoundItemHandle h = 0; h < off.store.Count(); ++h) EXPECT_NE(off.store.Item(h).name, u"Raw Data Folder(s)");
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, NtfsRaw, ::testing::Values(4096u, 512u),
                         [](const auto& info) { return std::to_string(info.param) + "ByteClusters"; });

TEST(NtfsRawFolders, ATypeFolderHoldsTheFileThatMadeItAndTenThousandMore) {
  // 10002 files of one cluster each, of a type no larger than one cluster.
  RawVolume v(512);
  ASSERT_TRUE(v.Build());
  Bytes many(10002 * 512, 0);
  for (std::size_t i = 0; i < 10002; ++i) {
    ASSERT_TRUE(v.freeClusters.count(v.afterFiles + i)) << i;
    std::copy(kSigC.begin(), kSigC.end(), many.begin() + static_cast<std::ptrdiff_t>(i * 512));
    PutLE32(many.data() + i * 512 + 8, static_cast<std::uint32_t>(i));
  }
  v.WriteVolume(v.afterFiles * 512, many);
  test::VolumeScan scan;
  scan.host.SelectedTypeList() = {MadeUpType(u"many", kSigC, 512, 252)};
  scan.Run(v.Source(true), v.Disk(), kModeRaw);

  Listing l = ListUnder(scan.store, kNtfsRootId);
  ASSERT_EQ(l.folders.size(), 2u);
  EXPECT_EQ(l.files[u"many"].size(), 10001u);
  ASSERT_EQ(l.files[u"many1"].size(), 1u);
  const StoredItem& overflow = l.files[u"many1"].begin()->second;
  EXPECT_EQ(overflow.name, Dec(v.afterFiles + 10001) + u".many");
  EXPECT_EQ(overflow.record.size, 512u);
  EXPECT_EQ(scan.Md5Of(overflow.record), test::Md5Hex(std::span(many).subspan(10001 * 512)));
  EXPECT_EQ(l.files[u"many"].count(Dec(v.afterFiles + 10000) + u".many"), 1u);
}

}  // namespace
}  // namespace corvan
