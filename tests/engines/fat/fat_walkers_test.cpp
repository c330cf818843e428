// The tree pass over small volumes built for one case each: whole folder
// chains, the FAT32 root, attributes, folders met twice, deferred deleted
// folders, deep nesting and Stop; and a folder whose clusters lie apart on
// volumes made by mkfs.fat and mtools, in every recovery mode.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "engines/fat/FatImageBuilder.h"
#include "support/FatTestVolume.h"

namespace corvan {
namespace {

using fattest::FatImage;
using fattest::Harness;
using fattest::ReadyEngine;
using fattest::SmallFat16;
using fattest::SmallFat32;
using fattest::PutDotEntries;
using fattest::PutNamedEntry;
using fattest::PutShortEntry;


// Quick Recovery over the image; the paths of what it listed, live and
// deleted apart.
struct Listing {
  std::multimap<std::string, StoredItem> items;
  std::size_t Live(const std::string& path) const {
    std::size_t n = 0;
    for (auto [it, end] = items.equal_range(path); it != end; ++it) n += !it->second.record.IsDeleted();
    return n;
  }
};

Listing QuickScan(Harness& h, FatImage& image, std::uint8_t kind,
                  FatScanResult expected = FatScanResult::Completed) {
  h.MountBytes(image.Bytes());
  auto engine = h.Engine(kind);
  EXPECT_EQ(engine->ScanVolume(0), expected);
  return {h.ItemsByPath()};
}

// A folder at `cluster` (one cluster, "." and ".." written).
void MakeFolder(FatImage& image, std::uint32_t cluster, std::uint32_t parent) {
  PutDotEntries(image.Cluster(cluster), cluster, parent);
  image.SetFat(cluster, image.EndOfChain());
}

void MakeFile(FatImage& image, std::uint8_t* entry, const char* name11, std::uint32_t cluster,
              std::uint8_t attr = 0x20) {
  PutShortEntry(entry, name11, attr, cluster, 100);
  image.SetFat(cluster, image.EndOfChain());
}

TEST(FatTreePass, EveryClusterOfAFolderIsWalked) {
  Harness h;
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "FOLDER     ", 0x10, 10, 0);
  image.Chain({10, 11, 12});
  PutDotEntries(image.Cluster(10), 10, 0);
  MakeFile(image, image.Cluster(10) + 64, "A       TXT", 20);
  // Cluster 11 holds nothing that lists (deleted entries of empty files
  // have no first cluster to read), and neither does the rest of cluster 10;
  // no entry marks the folder's end before cluster 12.
  for (int i = 3; i < 16; ++i) PutShortEntry(image.Cluster(10) + 32 * i, "\xE5MPTY   TXT", 0x20, 0, 0);
  for (int i = 0; i < 16; ++i) PutShortEntry(image.Cluster(11) + 32 * i, "\xE5MPTY   TXT", 0x20, 0, 0);
  MakeFile(image, image.Cluster(12), "C       TXT", 21);
  const Listing l = QuickScan(h, image, kFat16);
  EXPECT_EQ(l.Live("FOLDER/A.TXT"), 1u);
  EXPECT_EQ(l.Live("FOLDER/C.TXT"), 1u);
}

TEST(FatTreePass, Fat32RootIsWalkedPastAFirstClusterOfFolders) {
  Harness h;
  FatImage image = SmallFat32();
  image.Chain({2, 3});
  for (std::uint32_t i = 0; i < 16; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "DIR%02u      ", i);
    PutShortEntry(image.Cluster(2) + 32 * i, name, 0x10, 100 + i, 0);
    MakeFolder(image, 100 + i, 0);
  }
  MakeFile(image, image.Cluster(3), "ROOTFILETXT", 200);
  const Listing l = QuickScan(h, image, kFat32);
  EXPECT_EQ(l.Live("ROOTFILE.TXT"), 1u);
  EXPECT_EQ(l.Live("DIR15"), 1u);
}

TEST(FatTreePass, HiddenFoldersAndFilesWithoutArchiveBitKeepTheirPlace) {
  Harness h;
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "HIDDEN     ", 0x12, 10, 0);
  MakeFolder(image, 10, 0);
  MakeFile(image, image.Cluster(10) + 64, "READONLYTXT", 20, 0x01);
  // An entry with no attribute at all: its cluster decides.
  PutShortEntry(image.Cluster(10) + 96, "PLAINDIR   ", 0x00, 11, 0);
  MakeFolder(image, 11, 10);
  MakeFile(image, image.Cluster(11) + 64, "INNER   TXT", 21);
  MakeFile(image, image.Cluster(10) + 128, "PLAIN   DAT", 22, 0x00);
  const Listing l = QuickScan(h, image, kFat16);
  ASSERT_EQ(l.Live("HIDDEN"), 1u);
  EXPECT_EQ(l.items.find("HIDDEN")->second.record.attribute, kItemFolder);
  ASSERT_EQ(l.Live("HIDDEN/READONLY.TXT"), 1u);
  EXPECT_EQ(l.items.find("HIDDEN/READONLY.TXT")->second.record.attribute, kItemFile);
  EXPECT_EQ(l.Live("HIDDEN/PLAINDIR/INNER.TXT"), 1u);
  ASSERT_EQ(l.Live("HIDDEN/PLAIN.DAT"), 1u);
  EXPECT_EQ(l.items.find("HIDDEN/PLAIN.DAT")->second.record.attribute, kItemFile);
}

TEST(FatTreePass, FolderReachedTwiceIsWalkedOnce) {
  Harness h;
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "A          ", 0x10, 10, 0);
  PutShortEntry(image.Root() + 32, "C          ", 0x10, 12, 0);
  MakeFolder(image, 10, 0);
  MakeFolder(image, 12, 0);
  PutShortEntry(image.Cluster(10) + 64, "B          ", 0x10, 11, 0);
  PutShortEntry(image.Cluster(12) + 64, "B2         ", 0x10, 11, 0);  // cross-linked
  MakeFolder(image, 11, 10);
  MakeFile(image, image.Cluster(11) + 64, "FILE    TXT", 20);
  PutShortEntry(image.Cluster(11) + 96, "UP         ", 0x10, 10, 0);  // back to an ancestor
  const Listing l = QuickScan(h, image, kFat16);
  EXPECT_EQ(l.Live("A/B/FILE.TXT"), 1u);
  EXPECT_EQ(l.items.count("C/B2"), 0u);
  EXPECT_EQ(l.items.count("A/B/UP"), 0u);
}

TEST(FatTreePass, DeletedFolderIsListedAfterTheLiveTreeUnlessLiveAgain) {
  Harness h;
  FatImage image = SmallFat16();
  std::size_t at = PutNamedEntry(image.Root(), u"Old stuff", "OLDSTU~1   ", 0x10, 10, 0);
  for (std::size_t i = 0; i < at; i += 32) image.Root()[i] = 0xE5;
  PutShortEntry(image.Root() + at, "NEW        ", 0x10, 10, 0);  // the same cluster, live
  at += 32;
  at += PutNamedEntry(image.Root() + at, u"Gone", "GONE       ", 0x10, 30, 0);
  image.Root()[at - 64] = 0xE5;
  image.Root()[at - 32] = 0xE5;
  MakeFolder(image, 10, 0);
  MakeFile(image, image.Cluster(10) + 64, "KEPT    TXT", 20);
  PutDotEntries(image.Cluster(30), 30, 0);  // freed: FAT entry 0
  PutShortEntry(image.Cluster(30) + 64, "LOST    TXT", 0x20, 31, 100);
  const Listing l = QuickScan(h, image, kFat16);
  EXPECT_EQ(l.Live("NEW/KEPT.TXT"), 1u);
  EXPECT_EQ(l.items.count("Old stuff"), 0u);
  ASSERT_EQ(l.items.count("Gone"), 1u);
  EXPECT_TRUE(l.items.find("Gone")->second.record.IsDeleted());
  ASSERT_EQ(l.items.count("Gone/LOST.TXT"), 1u);
  EXPECT_TRUE(l.items.find("Gone/LOST.TXT")->second.record.IsDeleted());
  // The deleted folder came after every live item.
  const auto& gone = l.items.find("Gone")->second.record;
  EXPECT_GT(gone.itemId, l.items.find("NEW/KEPT.TXT")->second.record.itemId);
}

TEST(FatTreePass, DeepNestingIsListedButNotOpenedPastTheLimit) {
  Harness h;
  FatImage image = SmallFat16();
  constexpr std::uint32_t kLevels = 700;
  PutShortEntry(image.Root(), "D0         ", 0x10, 10, 0);
  for (std::uint32_t i = 0; i < kLevels; ++i) {
    MakeFolder(image, 10 + i, i == 0 ? 0 : 9 + i);
    char name[12];
    std::snprintf(name, sizeof name, "D%-10u", i + 1);
    if (i + 1 < kLevels) PutShortEntry(image.Cluster(10 + i) + 64, name, 0x10, 11 + i, 0);
  }
  const Listing l = QuickScan(h, image, kFat16);
  EXPECT_EQ(l.items.size(), 513u);
}

// The live regular files that `fls -r -p -l` finds in the image, by path,
// with their sizes.
std::map<std::string, std::uint64_t> FlsLiveFiles(FatImage& image, const std::filesystem::path& file,
                                                  const char* type) {
  test::WriteWholeFile(file, std::string(image.Bytes().begin(), image.Bytes().end()));
  std::string error;
  std::map<std::string, std::uint64_t> files;
  for (const test::FlsEntry& e : test::ListWithFls(file, type, error))
    if (!e.folder && !e.deleted) files[e.path] = e.size;
  EXPECT_EQ(error, "");
  return files;
}

// The live files of a listing, by path, with their sizes.
std::map<std::string, std::uint64_t> LiveFiles(const Listing& l) {
  std::map<std::string, std::uint64_t> files;
  for (const auto& [path, item] : l.items)
    if (!item.record.IsFolder() && !item.record.IsDeleted()) files[path] = item.record.size;
  return files;
}

TEST(FatTreePass, EmptyFilesAreListedWhereverTheTreeReachesThem) {
  for (const std::uint8_t kind : {kFat16, kFat32}) {
    SCOPED_TRACE(kind == kFat16 ? "FAT16" : "FAT32");
    Harness h;
    FatImage image = kind == kFat16 ? SmallFat16() : SmallFat32();
    std::uint8_t* root = kind == kFat16 ? image.Root() : image.Cluster(2);
    std::size_t at = 0;
    PutShortEntry(root + at, "EMPTY   TXT", 0x20, 0, 0);
    at += 32;
    at += PutNamedEntry(root + at, u"An empty file.txt", "ANEMPT~1TXT", 0x20, 0, 0);
    PutShortEntry(root + at, "DIR        ", 0x10, 10, 0);
    at += 32;
    MakeFile(image, root + at, "DATA    BIN", 20);
    MakeFolder(image, 10, 0);
    PutShortEntry(image.Cluster(10) + 64, "E1      TXT", 0x20, 0, 0);
    PutShortEntry(image.Cluster(10) + 96, "NOARCH     ", 0x00, 0, 0);  // no attribute bit at all
    PutShortEntry(image.Cluster(10) + 128, "SUB        ", 0x10, 11, 0);
    MakeFolder(image, 11, 10);
    // The folder's one cluster: "." and "..", 13 empty files, one with data.
    for (int i = 0; i < 13; ++i) {
      char name[12];
      std::snprintf(name, sizeof name, "E%02d     TXT", i);
      PutShortEntry(image.Cluster(11) + 64 + 32 * i, name, 0x20, 0, 0);
    }
    MakeFile(image, image.Cluster(11) + 64 + 32 * 13, "LAST    TXT", 21);
    // Not files: a deleted entry of an empty file, and a folder that its
    // cluster 0 would put on the root.
    PutShortEntry(image.Cluster(10) + 160, "\xE5GONE   TXT", 0x20, 0, 0);
    const auto truth = FlsLiveFiles(image, h.dir / "image.img", kind == kFat16 ? "fat16" : "fat32");
    PutShortEntry(image.Cluster(10) + 192, "LOOP       ", 0x10, 0, 0);

    const Listing l = QuickScan(h, image, kind);
    ASSERT_EQ(truth.size(), 19u);
    EXPECT_EQ(truth.at("DIR/SUB/E12.TXT"), 0u);
    EXPECT_EQ(truth.at("DIR/SUB/LAST.TXT"), 100u);
    EXPECT_EQ(LiveFiles(l), truth);
    EXPECT_EQ(l.items.count("DIR/XGONE.TXT"), 0u);
    EXPECT_EQ(l.items.count("DIR/LOOP"), 0u);
    ASSERT_EQ(l.Live("DIR/NOARCH"), 1u);
    EXPECT_EQ(l.items.find("DIR/NOARCH")->second.record.attribute, kItemFile);
    EXPECT_EQ(l.items.find("An empty file.txt")->second.record.location, 0u);
  }
}

TEST(FatTreePass, EmptyFilesAreNotTakenFromFoldersNoParentLeadsTo) {
  // A live folder whose parent entry is gone is found only by the folder
  // search: its entries are judged as any candidate's, and an entry of
  // cluster 0 there is no file.
  Harness h;
  FatImage image = SmallFat16();
  MakeFolder(image, 10, 0);
  PutShortEntry(image.Cluster(10) + 64, "E1      TXT", 0x20, 0, 0);
  MakeFile(image, image.Cluster(10) + 96, "KEPT    TXT", 20);
  const Listing l = QuickScan(h, image, kFat16);
  ASSERT_EQ(l.items.size(), 2u);  // the folder and its one file with data
  for (const auto& [path, item] : l.items) EXPECT_NE(path.substr(path.size() - 6), "E1.TXT") << path;

  // The deleted-file pass lists no live file, empty or not.
  Harness d;
  FatImage live = SmallFat16();
  PutShortEntry(live.Root(), "EMPTY   TXT", 0x20, 0, 0);
  PutShortEntry(live.Root() + 32, "\xE5ONE    TXT", 0x20, 30, 100);
  d.MountBytes(live.Bytes());
  auto engine = d.Engine(kFat16);
  EXPECT_EQ(engine->ScanVolume(1), FatScanResult::Completed);
  const auto items = d.ItemsByPath();
  EXPECT_EQ(items.count("EMPTY.TXT"), 0u);
  EXPECT_EQ(items.count("XONE.TXT"), 1u);
}

TEST(FatScanModes, StopEndsTheScanWithoutAMessage) {
  Harness h;
  h.MountFile(test::CorpusDir() / "fat16.img");
  auto engine = h.Engine(kFat16);
  h.app.m_bAbort = 1;
  EXPECT_EQ(engine->ScanVolume(0), FatScanResult::Aborted);
  EXPECT_TRUE(h.prompt.shown.empty());
  EXPECT_NE(h.app.LogPendingText().find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(h.store.Count(), 0u);
}

// ---- a folder whose clusters lie apart, made as a user makes it ----

struct ToolVolume {
  const char* type;  // fls's name for it
  int bits;
  std::uint64_t bytes;
  std::uint8_t kind;
};
void PrintTo(const ToolVolume& v, std::ostream* os) { *os << v.type; }

// One sector per cluster (16 entries). mtools fills folder d's first cluster
// with its dot entries and seven files of one long-name part each; big.bin
// takes the clusters behind theirs, so README_48.txt opens a cluster of d
// further on; then the file whose entries end d's first cluster is deleted.
// Empty when the volume was made, else what went wrong.
std::string MakeSplitFolderVolume(const std::filesystem::path& image, const ToolVolume& v) {
  std::map<std::string, std::string> tool;
  for (const char* name : {"mkfs.fat", "mmd", "mcopy", "mdel"}) {
    tool[name] = test::FindTool(name);
    if (tool[name].empty()) return std::string(name) + " is not installed (scripts/setup-deps installs it)";
  }
  const std::filesystem::path dir = image.parent_path();
  std::ofstream(image, std::ios::binary).close();
  std::filesystem::resize_file(image, v.bytes);
  std::vector<std::string> commands = {tool["mkfs.fat"] + " -F " + std::to_string(v.bits) + " -s 1 " + test::Quote(image),
                                       tool["mmd"] + " -i " + test::Quote(image) + " ::/d"};
  const auto copy = [&](const std::string& source, std::size_t size, char fill, const std::string& target) {
    test::WriteWholeFile(dir / source, std::string(size, fill));
    commands.push_back(tool["mcopy"] + " -i " + test::Quote(image) + " " + test::Quote(dir / source) + " '::/" +
                       target + "'");
  };
  for (int i = 1; i <= 7; ++i) copy("f" + std::to_string(i), 700, char('0' + i), "d/fil_no_0" + std::to_string(i) + ".txt");
  copy("big.bin", 3000, 'B', "big.bin");
  copy("last.txt", 6, 'L', "d/README_48.txt");
  commands.push_back(tool["mdel"] + " -i " + test::Quote(image) + " '::/d/fil_no_07.txt'");
  for (const std::string& c : commands) {
    if (test::RunShell("MTOOLS_SKIP_CHECK=1 " + c + " >/dev/null 2>&1") != 0) return "failed: " + c;
  }
  return {};
}

// Path and deleted state of every item of a scan, or of every fls entry.
using States = std::multiset<std::pair<std::string, bool>>;

States ScanStates(const std::filesystem::path& image, std::uint8_t kind,
                  const std::function<FatScanResult(FatEngine&)>& scan) {
  Harness h;
  h.MountFile(image);
  auto engine = h.Engine(kind);
  EXPECT_EQ(scan(*engine), FatScanResult::Completed);
  States states;
  for (const auto& [path, item] : h.ItemsByPath()) states.insert({path, item.record.IsDeleted()});
  return states;
}

class SplitFolder : public ::testing::TestWithParam<ToolVolume> {};

TEST_P(SplitFolder, EveryModeKeepsTheStatesFlsShows) {
  const ToolVolume v = GetParam();
  test::TempDir dir;
  const std::filesystem::path image = dir / "volume.img";
  if (const std::string problem = MakeSplitFolderVolume(image, v); !problem.empty()) FAIL() << problem;
  std::string error;
  const std::vector<test::FlsEntry> fls = test::ListWithFls(image, v.type, error);
  ASSERT_EQ(error, "");
  States truth, deletedFiles;
  for (const test::FlsEntry& e : fls) {
    truth.insert({e.path, e.deleted});
    if (e.deleted && !e.folder) deletedFiles.insert({e.path, true});
  }
  ASSERT_EQ(truth.count({"d/README_48.txt", false}), 1u);
  ASSERT_EQ(deletedFiles, States({{"d/fil_no_07.txt", true}}));

  {
    // The volume is laid out as meant: d's two clusters are apart, the first
    // ends in the deleted file's short entry and the second begins with
    // README_48.txt's long-name part.
    Harness h;
    h.MountFile(image);
    auto engine = h.Engine(v.kind);
    ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
    const auto items = h.ItemsByPath();
    ASSERT_EQ(items.count("d"), 1u);
    const std::vector<std::uint32_t> chain = engine->FollowFatChain(items.find("d")->second.record.Location32());
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_GT(chain[1], chain[0] + 1);
    std::uint8_t first[kSectorSize], second[kSectorSize];
    ASSERT_TRUE(engine->ReadClusters(chain[0], 0, first, 1));
    ASSERT_TRUE(engine->ReadClusters(chain[1], 0, second, 1));
    EXPECT_EQ(first[kSectorSize - 32], 0xE5);
    EXPECT_EQ(second[11], 0x0F);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second) + 32, 11), "README~1TXT");
  }

  // Quick and Advance Recovery list what fls lists, each live or deleted as
  // fls says.
  EXPECT_EQ(ScanStates(image, v.kind, [](FatEngine& e) { return e.ScanVolume(0); }), truth) << "Quick";
  EXPECT_EQ(ScanStates(image, v.kind, [](FatEngine& e) { return e.DeepScan(0); }), truth) << "Advance";
  // Deleted Recovery (either pass) lists the deleted file, and the live
  // folder on its way, nothing live as deleted.
  for (const auto& [pass, scan] : std::vector<std::pair<const char*, std::function<FatScanResult(FatEngine&)>>>{
           {"volume", [](FatEngine& e) { return e.ScanVolume(1); }},
           {"tree", [](FatEngine& e) { return e.DeepScan(1); }}}) {
    const States listed = ScanStates(image, v.kind, scan);
    States files;
    for (const auto& item : listed) {
      EXPECT_EQ(truth.count(item), 1u) << pass << ": " << item.first << (item.second ? " deleted" : " live");
      if (item.first != "d") files.insert(item);
    }
    EXPECT_EQ(files, deletedFiles) << pass;
  }
}

// FAT12 and FAT16 keep their root apart, so the folder lies under it.
INSTANTIATE_TEST_SUITE_P(Kinds, SplitFolder,
                         ::testing::Values(ToolVolume{"fat12", 12, 2u << 20, kFat12},
                                           ToolVolume{"fat16", 16, 8u << 20, kFat16},
                                           ToolVolume{"fat32", 32, 64u << 20, kFat32}),
                         [](const auto& info) { return std::string(info.param.type); });

}  // namespace
}  // namespace corvan
