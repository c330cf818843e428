// Advance over volumes written from the format's definition: every cluster
// of the heap is tested for looking like a directory, the one the boot
// sector names as the root is listed as the root, and what a folder's chain
// (or its run, for a folder kept as one run) leads to is read with that
// folder. Each entry set must be listed once, whatever the folder's clusters
// and whatever the root's label entry looks like.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"

namespace corvan {
namespace {

using namespace exfattest;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) { return PatternBytes(n, seed, 13); }

// Every file found, by name, with the paths it was found at.
std::map<std::string, std::vector<std::string>> FilesByName(const ExFatRig& rig) {
  std::map<std::string, std::vector<std::string>> out;
  for (std::size_t i = 0; i < rig.items.items.size(); ++i) {
    const auto& item = rig.items.items[i];
    if (item.record.IsFolder()) continue;
    const auto path = rig.items.PathOf(i, kFatRootId);
    out[Utf16ToUtf8(item.name)].push_back(path ? Utf16ToUtf8(*path) : "?");
  }
  return out;
}

std::string LostFolder(std::uint32_t cluster) { return "Lost folder(s)/Folder " + std::to_string(cluster); }

// The volume as written is sound, by fsck.exfat (when it is installed).
void ExpectFsckClean(ExFatImageBuilder& b) {
  std::string report;
  EXPECT_TRUE(FsckCleanOrAbsent(b.Bytes(), report)) << report;
}

// A folder whose parent is gone: the parent's cluster now holds a text.
void OverwriteWithText(ExFatImageBuilder& b, std::uint32_t cluster) {
  std::memset(b.Bytes().data() + b.ClusterOffset(cluster), 'x', b.ClusterBytes());
}

TEST(ExFatAdvance, AMultiClusterRootListsEachOfItsFilesOnce) {
  // 8 MiB, 4 KiB clusters. 300 sets of six entries and 100 of seven behind
  // the label, bitmap and up-case entries fill a root of 20 clusters, and
  // many sets run on from one cluster into the next.
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 8);
  std::map<std::string, std::vector<std::uint8_t>> written;
  for (int i = 0; i < 400; ++i) {
    std::string name = "file " + std::to_string(i) + " ";
    name.resize(i % 4 == 0 ? 65 : 50, '-');
    written[name] = Bytes(100 + i, static_cast<std::uint8_t>(i));
    b.AddFile(b.Root(), Utf8ToUtf16(name), written[name]);
  }
  ASSERT_EQ(b.ChainOf(b.Root()).size(), 20u);
  ExpectFsckClean(b);

  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.DeepScan(0), ExFatScanResult::Completed);
  const auto found = FilesByName(rig);
  EXPECT_EQ(found.size(), written.size());
  for (const auto& [name, data] : written) {
    const auto it = found.find(name);
    ASSERT_NE(it, found.end()) << name;
    ASSERT_EQ(it->second.size(), 1u) << name << " listed " << it->second.size() << " times";
    // The root the boot sector names is listed as the root.
    const std::string path = name;
    EXPECT_EQ(it->second[0], path);
    const long i = rig.Find(path);
    ASSERT_GE(i, 0);
    EXPECT_EQ(rig.items.items[i].record.size, data.size()) << name;
    EXPECT_EQ(rig.Data(rig.items.items[i].record), data) << name;
  }
  // No folder at all: no later cluster of the root became a lost folder.
  EXPECT_EQ(rig.items.items.size(), written.size());
}

TEST(ExFatAdvance, AnOrphanedFolderWhoseChainRunsBackwardsIsOneFolder) {
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 8);
  // Clusters 5-9 are freed again, so the folder made after them grows into
  // them: its chain runs from its first cluster back to lower ones.
  const auto pad = b.AddFile(b.Root(), u"pad.bin", std::vector<std::uint8_t>(5 * 4096, 'p'));
  const auto parent = b.AddFolder(b.Root(), u"Parent");
  const auto sub = b.AddFolder(parent.firstCluster, u"Sub");
  b.Delete(pad);
  std::vector<std::string> names;
  for (int i = 0; i < 100; ++i) {
    names.push_back("s" + std::to_string(i) + ".txt");
    b.AddFile(sub.firstCluster, Utf8ToUtf16(names.back()), {});
  }
  const std::vector<std::uint32_t> chain = b.ChainOf(sub.firstCluster);
  ASSERT_EQ(chain.size(), 3u);
  ASSERT_LT(chain[1], chain[0]);
  OverwriteWithText(b, parent.firstCluster);

  ExFatRig rig;
  ASSERT_EQ(rig.Mount(b.Bytes()).DeepScan(0), ExFatScanResult::Completed);
  auto found = FilesByName(rig);
  for (const std::string& name : names) {
    ASSERT_EQ(found[name].size(), 1u) << name;
    EXPECT_EQ(found[name][0], LostFolder(sub.firstCluster) + "/" + name);
  }
  for (const std::uint32_t later : {chain[1], chain[2]}) EXPECT_LT(rig.Find(LostFolder(later)), 0) << later;

  // A chain that loops back to its first cluster leads every one of its
  // clusters to another: the folder is still listed, once.
  b.Fat(chain[2], chain[0]);
  ASSERT_EQ(rig.Mount(b.Bytes()).DeepScan(0), ExFatScanResult::Completed);
  found = FilesByName(rig);
  for (const std::string& name : names) EXPECT_EQ(found[name].size(), 1u) << name;
}

TEST(ExFatAdvance, TheRootOfAVolumeWithoutALabelIsFound) {
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 8);
  const auto docs = b.AddFolder(b.Root(), u"Docs");
  std::map<std::string, std::vector<std::uint8_t>> written;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "root " + std::to_string(i) + ".txt";
    written[name] = Bytes(3000 + i, static_cast<std::uint8_t>(i));
    b.AddFile(b.Root(), Utf8ToUtf16(name), written[name]);
  }
  written["inner.txt"] = Bytes(700, 9);
  b.AddFile(docs.firstCluster, u"inner.txt", written["inner.txt"]);
  b.ClearVolumeLabel();
  ExpectFsckClean(b);

  ExFatRig rig;
  ASSERT_EQ(rig.Mount(b.Bytes()).DeepScan(0), ExFatScanResult::Completed);
  // Its cluster passes for a directory: it is walked as the root.
  EXPECT_GE(rig.Find("Docs"), 0);
  EXPECT_LT(rig.Find("Lost folder(s)"), 0);
  for (const auto& [name, data] : written) {
    const long i = rig.Find((name == "inner.txt" ? "Docs/" : "") + name);
    ASSERT_GE(i, 0) << name;
    EXPECT_EQ(rig.Data(rig.items.items[i].record), data) << name;
  }
}

TEST(ExFatAdvance, AnOrphanedContiguousFolderKeepsTheSetsThatCrossItsClusters) {
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 8);
  const auto parent = b.AddFolder(b.Root(), u"Parent");
  // Two folders kept as one run, side by side; the first has room left in
  // its last cluster, so the second is not taken for its continuation.
  const auto big = b.AddFolder(parent.firstCluster, u"Big", true, 3);
  const auto next = b.AddFolder(parent.firstCluster, u"Next", true, 1);
  ASSERT_EQ(next.firstCluster, big.firstCluster + 3);
  std::map<std::string, std::vector<std::uint8_t>> written;
  int crossing = 0;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "b" + std::to_string(i) + ".txt";
    written[name] = Bytes(200 + i, static_cast<std::uint8_t>(i));
    const SetRef ref = b.AddFile(big.firstCluster, Utf8ToUtf16(name), written[name]);
    if ((ref.slot % 128) + ref.entries > 128) ++crossing;
  }
  ASSERT_EQ(crossing, 2) << "sets that run from one cluster of Big into the next";
  written["n.txt"] = Bytes(10, 1);
  b.AddFile(next.firstCluster, u"n.txt", written["n.txt"]);
  ExpectFsckClean(b);
  OverwriteWithText(b, parent.firstCluster);

  ExFatRig rig;
  ASSERT_EQ(rig.Mount(b.Bytes()).DeepScan(0), ExFatScanResult::Completed);
  const auto found = FilesByName(rig);
  for (const auto& [name, data] : written) {
    const auto it = found.find(name);
    ASSERT_NE(it, found.end()) << name;
    ASSERT_EQ(it->second.size(), 1u) << name;
    const std::uint32_t folder = name == "n.txt" ? next.firstCluster : big.firstCluster;
    EXPECT_EQ(it->second[0], LostFolder(folder) + "/" + name);
    const long i = rig.Find(it->second[0]);
    EXPECT_EQ(rig.Data(rig.items.items[i].record), data) << name;
  }
  for (std::uint32_t c = big.firstCluster + 1; c < next.firstCluster; ++c) EXPECT_LT(rig.Find(LostFolder(c)), 0) << c;
}

}  // namespace
}  // namespace corvan
