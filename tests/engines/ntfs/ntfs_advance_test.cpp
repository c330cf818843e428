// Advance Recovery. Over copies of the corpus NTFS volume damaged by the
// tests (boot sectors gone, $MFT record 0 and its mirror gone, or both):
// every live file with its size and data. Over volumes mkntfs makes here:
// the cluster-size vote. And how a stop ends the pass in each phase, the
// Stop button's disabled phases included.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engines/ntfs/ntfs_corpus_support.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "platform/ByteCodec.h"
#include "sources/SectorSource.h"
#include "support/FileSectorSource.h"

namespace corvan {
namespace {

using test::Bytes;

constexpr char kSearching[] = "Searching metadata...";
constexpr char kCritical[] = "Searching critical information...";
constexpr char kAborted[] = "Process aborted. User intervention";

// The mounted disk, with every read written down together with the phase
// of the pass it came in (the status text shown last).
class WatchedSource final : public SectorSource {
 public:
  explicit WatchedSource(std::shared_ptr<SectorSource> inner) : inner_(std::move(inner)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    reads.push_back({sector, bytes, phase ? *phase : std::string()});
    return inner_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }

  struct Read {
    std::uint64_t sector;
    std::size_t bytes;
    std::string phase;
  };
  std::vector<Read> reads;
  const std::string* phase = nullptr;
  std::size_t ReadsIn(const std::string& phase) const {
    return static_cast<std::size_t>(
        std::count_if(reads.begin(), reads.end(), [&](const Read& r) { return r.phase == phase; }));
  }

 private:
  std::shared_ptr<SectorSource> inner_;
};

// The scan dialog, with a user who presses Stop at a chosen moment: at the
// k-th step of the progress bar in a phase, or when Stop is disabled for
// the n-th time. A press while Stop is disabled is a request the pass must
// keep.
class StoppingProgress final : public ProgressSink {
 public:
  explicit StoppingProgress(CORVANApp& app) : app_(app) {}
  void StopAtStep(std::string phase, int k) {
    stepPhase_ = std::move(phase);
    stepK_ = k;
  }
  void StopWhenDisabled(int n) { disabledN_ = n; }

  void SetRange(std::int64_t, std::int64_t) override {}
  void SetStep(std::int64_t) override {}
  void SetPos(std::int64_t) override {}
  void StepIt() override {
    if (!stepPhase_.empty() && status == stepPhase_ && ++steps_ == stepK_) Press();
  }
  void SetSecondRange(std::int64_t, std::int64_t) override {}
  void SetSecondPos(std::int64_t) override {}
  void SetCounterText(const std::string&) override {}
  void SetStatusText(const std::string& text) override { status = text; }
  void SetSectorText(const std::string&) override {}
  void EnableStop(bool enabled) override {
    stopEnabled = enabled;
    if (!enabled && ++disabled_ == disabledN_) Press();
  }

  std::string status;
  bool stopEnabled = true;
  bool pressed = false;
  bool pressedWhileDisabled = false;
  const WatchedSource* disk = nullptr;
  std::size_t readsAtPress = 0;

 private:
  void Press() {
    pressed = true;
    pressedWhileDisabled = !stopEnabled;
    if (disk) readsAtPress = disk->reads.size();
    app_.m_bAbort = 1;
  }
  CORVANApp& app_;
  std::string stepPhase_;
  int stepK_ = 0, steps_ = 0;
  int disabledN_ = 0, disabled_ = 0;
};

// The results window, with a user who presses Stop after k items.
class StoppingItems final : public FoundItemSink {
 public:
  StoppingItems(CORVANApp& app, std::size_t k) : app_(app), k_(k) {}
  void OnInsertRootItem(std::uint32_t id) override { inner.OnInsertRootItem(id); }
  FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) override {
    const FoundItemHandle h = inner.OnAddFoundItem(record, name);
    if (inner.items.size() == k_) {
      if (disk) readsAtPress = disk->reads.size();
      app_.m_bAbort = 1;
    }
    return h;
  }
  void UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) override { inner.UpdateFoundItemSize(item, size); }
  void UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) override {
    inner.UpdateFoundItemName(item, name);
  }
  void UpdateStatusText(int view) override { inner.UpdateStatusText(view); }
  test::RecordingFoundItemSink inner;
  const WatchedSource* disk = nullptr;
  std::size_t readsAtPress = 0;

 private:
  CORVANApp& app_;
  std::size_t k_;
};

Bytes ReadFile(const std::filesystem::path& p) {
  const std::string s = test::ReadWholeFile(p);
  return Bytes(s.begin(), s.end());
}

enum class Damage { BootSectors, MftRecord0AndMirror, Both };

// The corpus volume with the damage asked for.
Bytes DamagedCorpusVolume(Damage damage) {
  Bytes v = ReadFile(test::CorpusDir() / "ntfs.img");
  if (v.size() < 1024 * 1024) return {};
  const std::uint64_t spc = v[0x0D];
  const std::uint64_t mft = GetLE64(v.data() + 0x30) * spc * 512;
  const std::uint64_t mirror = GetLE64(v.data() + 0x38) * spc * 512;
  if (damage != Damage::BootSectors) {
    std::memset(v.data() + mft, 0, 1024);
    std::memset(v.data() + mirror, 0, 4 * 1024);
  }
  if (damage != Damage::MftRecord0AndMirror) {
    std::memset(v.data(), 0, 512);
    std::memset(v.data() + v.size() - 512, 0, 512);
  }
  return v;
}

// One engine over a volume at sector 0 of a disk, reporting to
// the sinks given.
struct AdvanceRun {
  AdvanceRun(std::shared_ptr<SectorSource> disk, FoundItemSink* items = nullptr, ProgressSink* progress = nullptr,
             std::uint64_t sectorCount = 0)
      : app(dir / "settings.ini", dir.path()),
        owned(test::EngineOverDisk(app, std::move(disk), items, progress, sectorCount)),
        engine(*owned) {
    app.m_pPrompt = &prompt;
  }
  bool Logged(const std::string& text) const { return app.LogViewText().find(text) != std::string::npos; }

  test::TempDir dir;
  CORVANApp app;
  test::RecordingPrompt prompt;
  std::unique_ptr<NtfsEngine> owned;
  NtfsEngine& engine;
};

std::map<std::string, std::size_t> ByPath(const test::RecordingFoundItemSink& items) {
  std::map<std::string, std::size_t> out;
  for (std::size_t i = 0; i < items.items.size(); ++i)
    if (auto p = items.PathOf(i, NtfsEngine::kRootRecord)) out.emplace(Utf16ToUtf8(*p), i);
  return out;
}

std::string Md5Of(NtfsEngine& engine, const FoundItemInfo& item, WalkResult* result) {
  test::Md5 md5;
  *result = engine.ReadFoundItem(item, [&](const DataBlock& b) {
    md5.Update(b.bytes);
    return true;
  });
  return md5.HexDigest();
}

void PrintTo(Damage d, std::ostream* os) {
  *os << (d == Damage::BootSectors ? "BootSectors" : d == Damage::MftRecord0AndMirror ? "MftRecord0AndMirror" : "Both");
}

class NtfsAdvanceDamaged : public ::testing::TestWithParam<Damage> {};

TEST_P(NtfsAdvanceDamaged, EveryLiveFileIsFoundWithItsSizeAndData) {
  Bytes volume = DamagedCorpusVolume(GetParam());
  ASSERT_FALSE(volume.empty());
  test::RecordingFoundItemSink items;
  NullProgressSink progress;
  AdvanceRun run(std::make_shared<MemorySectorSource>(std::move(volume)), &items, &progress);
  ASSERT_TRUE(run.engine.DeepScan());
  EXPECT_EQ(run.engine.SectorsPerCluster(), 8u);
  const auto paths = ByPath(items);
  int files = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv")) {
    if (row.state != "live") continue;
    const auto it = paths.find(row.path);
    ASSERT_NE(it, paths.end()) << row.path;
    const test::RecordedItem& item = items.items[it->second];
    EXPECT_FALSE(item.record.IsDeleted()) << row.path;
    if (row.type != "file") {
      EXPECT_TRUE(item.record.IsFolder()) << row.path;
      continue;
    }
    ++files;
    EXPECT_EQ(item.record.size, row.size) << row.path;
    WalkResult result;
    EXPECT_EQ(Md5Of(run.engine, item.record, &result), row.md5) << row.path;
    EXPECT_TRUE(result.Clean()) << row.path;
  }
  EXPECT_EQ(files, 16);
  // Ids from 10 up (made-up folders included); nothing twice; every item
  // placed under the root.
  std::set<std::uint32_t> ids;
  for (const auto& item : items.items) {
    EXPECT_GE(item.record.itemId, 10u);
    EXPECT_TRUE(ids.insert(item.record.itemId).second);
  }
  EXPECT_EQ(paths.size(), items.items.size());
  EXPECT_TRUE(run.prompt.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Corpus, NtfsAdvanceDamaged,
                         ::testing::Values(Damage::BootSectors, Damage::MftRecord0AndMirror, Damage::Both));

TEST(NtfsAdvance, QuickOnAVolumeWhoseMftIsGoneContinuesAsAdvance) {
  test::RecordingFoundItemSink items;
  NullProgressSink progress;
  AdvanceRun run(std::make_shared<MemorySectorSource>(DamagedCorpusVolume(Damage::MftRecord0AndMirror)), &items,
                 &progress);
  ASSERT_TRUE(run.engine.ScanVolume(false));
  EXPECT_TRUE(run.prompt.texts.empty());
  const auto paths = ByPath(items);
  EXPECT_TRUE(paths.count("Photos0/sym-★ 4/x_21.png"));
  EXPECT_TRUE(run.Logged(kSearching));
}

// mkntfs, from the ntfs-3g package (scripts/setup-deps installs it).
std::string Mkntfs() {
  for (const char* p : {"/usr/sbin/mkntfs", "/sbin/mkntfs", "/usr/bin/mkntfs"})
    if (::access(p, X_OK) == 0) return p;
  return {};
}

TEST(NtfsAdvance, TheVoteFindsTheClusterSizeMkntfsUsed) {
  const std::string mkntfs = Mkntfs();
  ASSERT_FALSE(mkntfs.empty()) << "mkntfs not found: run scripts/setup-deps";
  test::TempDir dir;
  for (const unsigned clusterBytes : {512u, 4096u, 65536u}) {
    const auto image = dir / ("c" + std::to_string(clusterBytes) + ".img");
    { std::ofstream(image).close(); }
    std::filesystem::resize_file(image, 64u << 20);  // sparse
    const std::string cmd = mkntfs + " -F -Q -q -c " + std::to_string(clusterBytes) + " " + image.string() +
                            " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    {
      // Both boot sectors gone: only the records can tell.
      std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
      const std::string zeros(512, '\0');
      f.seekp(0);
      f.write(zeros.data(), 512);
      f.seekp((64 << 20) - 512);
      f.write(zeros.data(), 512);
    }
    test::RecordingFoundItemSink items;
    test::RecordingProgressSink progress;
    AdvanceRun run(std::make_shared<test::FileSectorSource>(image), &items, &progress);
    EXPECT_EQ(run.engine.FindClusterSizeByScanning(), clusterBytes / 512) << clusterBytes;
    // Stop is disabled for the vote and enabled again after it.
    EXPECT_EQ(progress.stopStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(run.app.CriticalPhaseFlag().load(), 0u);

    ASSERT_TRUE(run.engine.DeepScan()) << clusterBytes;
    EXPECT_EQ(run.engine.SectorsPerCluster(), clusterBytes / 512);
    // The volume's own files are found, with the $MFT's size whole.
    const auto paths = ByPath(items);
    ASSERT_TRUE(paths.count("$MFT")) << clusterBytes;
    ASSERT_TRUE(paths.count("$Bitmap")) << clusterBytes;
    WalkResult result;
    Md5Of(run.engine, items.items[paths.at("$Bitmap")].record, &result);
    EXPECT_TRUE(result.Clean());
  }
}

TEST(NtfsAdvance, TheVoteDecidesAtTheFirstPieceWithAVotePastTheFirstQuarter) {
  // 8 MiB of nothing but two file records far apart, voting differently.
  Bytes volume(8u << 20, 0);
  namespace img = test::ntfsimg;
  auto record = [](std::uint64_t allocated) {
    return test::FileRecord(30, 5, u"f", img::NonResident(0x80, img::Pairs({{100, 2}}), 0, 1, allocated, 1, 1, 0, 0, u"", 2));
  };
  const Bytes votes8 = record(2 * 4096), votes2 = record(2 * 1024);
  std::copy(votes8.begin(), votes8.end(), volume.begin() + 10000 * 512);
  std::copy(votes2.begin(), votes2.end(), volume.begin() + 14000 * 512);
  NullFoundItemSink items;
  NullProgressSink progress;
  auto watched = std::make_shared<WatchedSource>(std::make_shared<MemorySectorSource>(std::move(volume)));
  AdvanceRun run(watched, &items, &progress);
  EXPECT_EQ(run.engine.FindClusterSizeByScanning(), 8u);
  for (const auto& r : watched->reads) EXPECT_LT(r.sector, 14000u - 2048u);
}

TEST(NtfsAdvance, AVolumeWithoutNtfsEndsEmptyWithALogLine) {
  Bytes volume = test::Pattern(8u << 20, 4);
  test::RecordingFoundItemSink items;
  test::RecordingProgressSink progress;
  auto watched = std::make_shared<WatchedSource>(std::make_shared<MemorySectorSource>(std::move(volume)));
  AdvanceRun run(watched, &items, &progress);
  EXPECT_FALSE(run.engine.DeepScan());
  EXPECT_TRUE(items.items.empty());
  EXPECT_TRUE(items.roots.empty());
  EXPECT_TRUE(run.Logged("No NTFS file records were found on this volume."));
  // Besides the boot sector and its backups, the vote read the whole volume
  // in large blocks, and nothing past its end.
  std::uint64_t voted = 0;
  for (const auto& r : watched->reads) {
    if (r.bytes == 512) continue;
    EXPECT_LE(r.sector * 512 + r.bytes, 8u << 20);
    EXPECT_GE(r.bytes, 512u * 1024);
    voted += r.bytes;
  }
  EXPECT_GE(voted, (8u << 20) - 64 * 512);
  EXPECT_EQ(progress.stopStates.back(), true);
}

// ---- stopping

struct StopRun {
  explicit StopRun(Bytes volume) : StopRun(std::make_shared<MemorySectorSource>(std::move(volume))) {}
  explicit StopRun(std::shared_ptr<SectorSource> inner)
      : disk(std::make_shared<WatchedSource>(std::move(inner))), run(disk), progress(run.app) {
    disk->phase = &progress.status;
    progress.disk = disk.get();
    run.engine.SetSinks(&items, &progress);
  }
  // The reads made after Stop was pressed.
  std::vector<WatchedSource::Read> ReadsAfterPress() const {
    return {disk->reads.begin() + static_cast<std::ptrdiff_t>(progress.readsAtPress), disk->reads.end()};
  }
  std::shared_ptr<WatchedSource> disk;
  AdvanceRun run;
  StoppingProgress progress;
  test::RecordingFoundItemSink items;
};

TEST(NtfsAdvanceStop, AStopDuringTheSearchEndsItBeforeItsNextReadAndShowsWhatWasFound) {
  StopRun s(std::make_shared<test::FileSectorSource>(test::CorpusDir() / "ntfs.img"));
  s.progress.StopAtStep(kSearching, 3);
  s.run.engine.DeepScan();
  ASSERT_TRUE(s.progress.pressed);
  EXPECT_FALSE(s.progress.pressedWhileDisabled);
  // Each step comes just before its piece is read: that piece is the last
  // piece the search reads.
  EXPECT_EQ(s.disk->ReadsIn(kSearching), 3u);
  std::size_t searchReadsAfter = 0;
  for (const auto& r : s.ReadsAfterPress()) searchReadsAfter += r.phase == kSearching;
  EXPECT_EQ(searchReadsAfter, 1u);
  std::uint64_t mftSectors = 0;
  for (const DataExtent& e : s.run.engine.MftRuns()) mftSectors += e.length * s.run.engine.SectorsPerCluster();
  ASSERT_LE(mftSectors, 2048u);  // the $MFT is one piece
  EXPECT_EQ(s.run.engine.AdvanceCounter(), mftSectors + 2 * 2048);
  // The records found before the stop are shown as a tree.
  EXPECT_FALSE(s.run.engine.FoundRecords().empty());
  EXPECT_FALSE(s.items.items.empty());
  EXPECT_TRUE(s.run.Logged(kAborted));
}

TEST(NtfsAdvanceStop, AStopWhileTheVoteRunsIsKeptAndEndsThePassWhenStopIsEnabledAgain) {
  StopRun s(DamagedCorpusVolume(Damage::BootSectors));
  s.progress.StopAtStep(kCritical, 2);
  EXPECT_FALSE(s.run.engine.DeepScan());
  ASSERT_TRUE(s.progress.pressedWhileDisabled);
  // The vote ran to its end and decided; after it nothing was read.
  EXPECT_EQ(s.run.engine.SectorsPerCluster(), 8u);
  const auto after = s.ReadsAfterPress();
  EXPECT_FALSE(after.empty());
  for (const auto& r : after) EXPECT_EQ(r.phase, kCritical) << r.sector;
  EXPECT_EQ(s.disk->ReadsIn(kSearching), 0u);
  EXPECT_TRUE(s.items.items.empty());
  EXPECT_TRUE(s.run.Logged(kAborted));
  EXPECT_EQ(s.run.app.m_bAbort.load(), 1u);
  EXPECT_EQ(s.run.app.CriticalPhaseFlag().load(), 0u);
  EXPECT_EQ(s.progress.stopEnabled, true);
}

TEST(NtfsAdvanceStop, AStopWhileTheBitmapLoadsIsKeptAndEndsThePassWhenStopIsEnabledAgain) {
  StopRun s(std::make_shared<test::FileSectorSource>(test::CorpusDir() / "ntfs.img"));
  s.progress.StopWhenDisabled(1);  // the bitmap load: the boot sector is sound, so there is no vote
  EXPECT_FALSE(s.run.engine.DeepScan());
  ASSERT_TRUE(s.progress.pressedWhileDisabled);
  EXPECT_TRUE(s.run.engine.FreeExtentsValid());
  EXPECT_FALSE(s.run.engine.FreeExtents().empty());
  for (const auto& r : s.ReadsAfterPress()) EXPECT_EQ(r.phase, kCritical) << r.sector;
  EXPECT_EQ(s.disk->ReadsIn(kSearching), 0u);
  EXPECT_TRUE(s.items.items.empty());
  EXPECT_EQ(s.run.app.m_bAbort.load(), 1u);
}

TEST(NtfsAdvanceStop, AStopWhileTheTreeIsBuiltEndsItAtTheNextItem) {
  auto disk = std::make_shared<WatchedSource>(std::make_shared<test::FileSectorSource>(test::CorpusDir() / "ntfs.img"));
  NullProgressSink progress;
  AdvanceRun run(disk);
  StoppingItems items(run.app, 5);
  items.disk = disk.get();
  run.engine.SetSinks(&items, &progress);
  ASSERT_TRUE(run.engine.DeepScan());
  EXPECT_EQ(items.inner.items.size(), 5u);
  EXPECT_EQ(disk->reads.size(), items.readsAtPress);
  EXPECT_TRUE(run.Logged("Process completed"));  // the searches
  EXPECT_TRUE(run.Logged(kAborted));             // the tree
  EXPECT_EQ(run.app.m_bAbort.load(), 1u);
}

}  // namespace
}  // namespace corvan
