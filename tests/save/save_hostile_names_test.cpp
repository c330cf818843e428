// Names a disk may hold that must not steer a save: "..", "a/b", control
// characters and names longer than a Linux name may be, written into FAT
// long-name entries and NTFS file names of small volumes built here, scanned
// by the real engines and saved by the saving thread.

#include <gtest/gtest.h>

#include "engines/fat/FatImageBuilder.h"
#include "engines/ntfs/NtfsEngine.h"
#include "core/NameSanitiser.h"
#include "save/SaveTestSupport.h"
#include "support/NtfsImageBuilder.h"

namespace corvan {
namespace {

using test::CountOf;

struct Hostile {
  std::u16string name;
  std::string saved;  // what it is saved as
};

std::vector<Hostile> HostileNames() {
  const std::u16string wide(150, u'\u00E9');  // 300 bytes of UTF-8
  const std::u16string wider(120, u'\u20AC');  // 360 bytes
  return {{u"..", "__"},
          {u"a/b", "a_b"},
          {u"c\x01\x1F" u"d", "c__d"},
          {wide + u".txt", SanitiseName(std::u16string_view(wide + u".txt")).name},
          {wider, SanitiseName(std::u16string_view(wider)).name}};
}

std::set<std::string> Tree(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    names.insert(std::filesystem::relative(e.path(), root).string());
  return names;
}

// Every hostile name saved once in the destination and once in the folder
// `folder` (itself named ".."), with one log line per changed name.
void ExpectSavedInside(const test::SaveRun& run, const std::filesystem::path& out,
                       const std::vector<Hostile>& inRoot, const std::vector<Hostile>& inFolder,
                       const std::string& folder) {
  const std::filesystem::path dest = out / "dest";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), 1);  // only the destination
  std::set<std::string> expected{folder};
  for (const Hostile& h : inRoot) expected.insert(h.saved);
  for (const Hostile& h : inFolder) expected.insert(folder + "/" + h.saved);
  EXPECT_EQ(Tree(dest), expected);
  for (const auto* list : {&inRoot, &inFolder}) {
    for (const Hostile& h : *list) {
      const std::string rel = (list == &inRoot ? "" : folder + "/") + h.saved;
      EXPECT_LE(h.saved.size(), kMaxNameBytes);
      EXPECT_EQ(test::ReadWholeFile(dest / rel), "data of " + h.saved.substr(0, 8)) << h.saved;
      EXPECT_GE(CountOf(run.log, "Name \"" + LogSafeName(h.name) + "\" saved as \"" + h.saved + "\""), 1u) << h.saved;
    }
  }
  EXPECT_NE(run.log.find("Name \"..\" saved as \"__\""), std::string::npos);
  EXPECT_EQ(run.result.recovered, inRoot.size() + inFolder.size());
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
}

TEST(SaveHostileNames, FatLongNames) {
  using namespace fattest;
  FatImage image = SmallFat16();
  std::uint8_t* root = image.Root();
  std::size_t at = 0;
  std::uint32_t cluster = 2;
  const auto names = HostileNames();
  auto putFiles = [&](std::uint8_t* dir, std::size_t& offset) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string data = "data of " + names[i].saved.substr(0, 8);
      std::memcpy(image.Cluster(cluster), data.data(), data.size());
      image.Chain({cluster});
      char shortName[12];
      std::snprintf(shortName, sizeof shortName, "HOSTIL~%dTXT", static_cast<int>(i));
      offset += PutNamedEntry(dir + offset, names[i].name, shortName, 0x20, cluster++,
                              static_cast<std::uint32_t>(data.size()));
    }
  };
  putFiles(root, at);
  // A folder whose long name is ".." holding the same names, over four
  // clusters of 512 bytes (the long names need more than one).
  std::vector<std::uint32_t> folderClusters;
  for (int i = 0; i < 4; ++i) folderClusters.push_back(cluster++);
  const std::uint32_t folder = folderClusters[0];
  image.Chain(folderClusters);
  at += PutNamedEntry(root + at, u"..", "DOTDOT~1   ", 0x10, folder, 0);
  std::vector<std::uint8_t> entries(folderClusters.size() * image.ClusterBytes());
  PutDotEntries(entries.data(), folder, 0);
  std::size_t used = 64;
  putFiles(entries.data(), used);
  ASSERT_LE(used, entries.size());
  for (std::size_t i = 0; i < folderClusters.size(); ++i)
    std::memcpy(image.Cluster(folderClusters[i]), entries.data() + i * image.ClusterBytes(), image.ClusterBytes());

  Harness h;
  h.MountBytes(image.Bytes());
  auto engine = h.Engine(kFat16);
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  h.app.m_pScanSession->Hold(EngineKind::Fat, std::move(engine));
  const auto out = h.dir / "out";
  UnattendedSaveDecisions decisions;
  const auto run = test::SaveStore(h.app, h.store, out / "dest", decisions);
  // The folder ".." meets the file ".." saved as "__" before it.
  ExpectSavedInside(run, out, names, names, "Copy1___");
}

TEST(SaveHostileNames, NtfsFileNames) {
  namespace img = test::ntfsimg;
  constexpr std::uint64_t kTime = 133000000000000000ull;
  const auto key = [&](std::uint32_t parent, const std::u16string& name, std::uint32_t flags) {
    return img::FileName(img::Ref(parent), name, 1, flags, 0, 0, kTime, kTime);
  };
  img::NtfsImage image(1, 600, 4, 96);
  const auto names = HostileNames();
  std::uint32_t record = 40;
  auto putFiles = [&](std::uint32_t parent, const std::vector<Hostile>& list) {
    std::vector<img::Bytes> entries;
    for (const Hostile& h : list) {
      const std::string data = "data of " + h.saved.substr(0, 8);
      img::RecordBuilder r;
      r.number = record;
      r.Add(img::Resident(0x10, img::StdInfo(kTime, kTime, 0x20), u"", 0))
          .Add(img::Resident(0x30, key(parent, h.name, 0x20), u"", 1))
          .Add(img::Resident(0x80, img::Bytes(data.begin(), data.end()), u"", 2));
      image.PutRecord(record, r.Build());
      entries.push_back(img::IndexEntry(img::Ref(record), key(parent, h.name, 0x20)));
      ++record;
    }
    return entries;
  };
  // The root: most hostile names and a folder "..", which holds the longest
  // (an index root inside one record holds only so many names).
  const std::vector<Hostile> shortNames{names[0], names[1], names[2], names[4]};
  const std::vector<Hostile> longNames{names[3]};
  const std::uint32_t folder = 60;
  const auto inFolder = putFiles(folder, longNames);
  img::RecordBuilder f;
  f.number = folder;
  f.flags = img::kInUse | img::kDirectory;
  f.Add(img::Resident(0x10, img::StdInfo(kTime, kTime, 0x10), u"", 0))
      .Add(img::Resident(0x30, key(5, u"..", 0x10000000), u"", 1))
      .Add(img::Resident(0x90, img::IndexRoot(inFolder, 4096, false), u"$I30", 2));
  image.PutRecord(folder, f.Build());
  auto inRoot = putFiles(5, shortNames);
  inRoot.push_back(img::IndexEntry(img::Ref(folder), key(5, u"..", 0x10000000)));
  img::RecordBuilder r;
  r.number = 5;
  r.flags = img::kInUse | img::kDirectory;
  r.Add(img::Resident(0x10, img::StdInfo(kTime, kTime, 0x16), u"", 0))
      .Add(img::Resident(0x30, key(5, u".", 0x10000000), u"", 1))
      .Add(img::Resident(0x90, img::IndexRoot(inRoot, 4096, false), u"$I30", 2));
  image.PutRecord(5, r.Build());

  test::TempDir dir;
  test::UserFolders folders{dir.path()};
  test::RecordingPrompt prompt;
  CORVANApp app(dir / "settings.ini", dir / "install");
  app.m_pPrompt = &prompt;
  auto source = std::make_shared<MemorySectorSource>(image.Finish());
  FoundItemStore store;
  test::RecordingProgressSink progress;
  auto engine = std::make_unique<NtfsEngine>(app);
  engine->SetSinks(&store, &progress);
  NtfsVolumeBinding binding;
  binding.sectorCount = source->SectorCount();
  binding.endSector = binding.sectorCount;
  binding.disk = source;
  engine->Prepare(binding);
  ASSERT_TRUE(engine->ScanVolume(false));
  app.m_pScanSession->Hold(EngineKind::Ntfs, std::move(engine));
  UnattendedSaveDecisions decisions;
  const auto run = test::SaveStore(app, store, dir / "out" / "dest", decisions);
  app.FreeSourcesAndEngines();
  // The folder ".." meets the file ".." saved as "__" before it.
  ExpectSavedInside(run, dir / "out", shortNames, longNames, "Copy1___");
}

}  // namespace
}  // namespace corvan
