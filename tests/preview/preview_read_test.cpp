// What the previews read of a found file: the whole file, the hex pane's
// windows and the text pane's first bytes, each exactly the file's bytes as
// the corpus truth and the sample files have them (never the zeros that fill
// its last cluster); the private copies the media and Office panes open; a
// read that a newer selection stops; and volumes with 32 MiB clusters.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <map>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"
#include "preview/ByteSource.h"
#include "preview/PreviewRead.h"
#include "preview/PreviewTempDir.h"
#include "preview/PreviewWorker.h"
#include "save/SaveTestSupport.h"
#include "support/PreviewSamples.h"

namespace corvan {
namespace {

constexpr std::uint64_t kWindow = 64 * 1024;

std::string Md5Of(const std::vector<std::uint8_t>& v) { return test::Md5Hex(v); }

// The engine a scan made: FAT, NTFS or exFAT.
ScanEngine* FirstEngine(CORVANApp& app) {
  return app.m_pScanSession->Engine();
}

std::map<std::string, FoundItemHandle> ByPath(const FoundItemStore& store) {
  std::map<std::string, FoundItemHandle> out;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) out.emplace(Utf16ToUtf8(store.PathOf(h)), h);
  return out;
}

// Reads `item` whole, in hex windows and as the text pane does; each must
// give `md5` over `size` bytes.
void ExpectReadsGive(ScanEngine& engine, const FoundItemInfo& item, std::uint64_t size, const std::string& md5,
                     const std::string& what) {
  PreviewWorker worker;
  const PreviewCancel cancel(worker, worker.NewSelection());
  // Asked for more than the file holds: exactly its bytes come back.
  const PreviewBytes whole = ReadPreviewBytes(engine, item, 0, size + 100000, cancel);
  EXPECT_EQ(whole.bytes.size(), size) << what;
  EXPECT_EQ(Md5Of(whole.bytes), md5) << what;
  // The hex pane's windows: every one of a small file, some of a large one
  // (among them the last).
  const std::uint64_t step = size > (4u << 20) ? kWindow * 97 : kWindow;
  for (std::uint64_t start = 0; start < size; start += step) {
    const std::uint64_t at = start + step >= size ? (size - 1) / kWindow * kWindow : start;
    const PreviewBytes w = ReadPreviewBytes(engine, item, at, at + kWindow, cancel);
    ASSERT_EQ(w.bytes.size(), std::min(kWindow, size - at)) << what << " at " << at;
    EXPECT_TRUE(std::equal(w.bytes.begin(), w.bytes.end(), whole.bytes.begin() + static_cast<std::ptrdiff_t>(at)))
        << what << " at " << at;
  }
  const PreviewBytes text = ReadPreviewBytes(engine, item, 0, 8192, cancel);
  EXPECT_EQ(text.bytes.size(), std::min<std::uint64_t>(size, 8192)) << what;
  EXPECT_TRUE(std::equal(text.bytes.begin(), text.bytes.end(), whole.bytes.begin())) << what;
  // The listings' random access: pieces at odd offsets, some across a
  // window's end, the last byte, and nothing past the end.
  ItemByteSource source(engine, item, cancel);
  EXPECT_EQ(source.Size(), size) << what;
  for (std::uint64_t at : {std::uint64_t{0}, size / 3, kWindow - 7, size / 2 + 1, 3 * kWindow - 300, size - 1}) {
    if (at >= size) continue;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(1000, size - at)));
    ASSERT_TRUE(source.Read(at, piece)) << what << " at " << at;
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), whole.bytes.begin() + static_cast<std::ptrdiff_t>(at)))
        << what << " at " << at;
  }
  std::uint8_t two[2] = {1, 1};
  EXPECT_FALSE(source.Read(size - 1, two)) << what;
  EXPECT_EQ(two[0] | two[1], 0) << what;
  EXPECT_FALSE(source.Read(~std::uint64_t{0} - 1, two)) << what;
}

struct CorpusVolume {
  const char* name;
  std::uint16_t index;  // volume of disks/mbr.vmdk
};
std::ostream& operator<<(std::ostream& os, const CorpusVolume& v) { return os << v.name; }

class PreviewReadCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(PreviewReadCorpus, LiveFilesReadAsTheTruthHasThem) {
  test::ScannedVolume volume;
  ASSERT_EQ(volume.Scan("disks/mbr.vmdk", GetParam().index, kModeQuick), "");
  ScanEngine* engine = FirstEngine(volume.app);
  ASSERT_NE(engine, nullptr);
  const auto paths = ByPath(volume.store);
  int files = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (std::string(GetParam().name) + ".truth.tsv"))) {
    if (row.type != "file" || row.state != "live") continue;
    const auto it = paths.find(row.path);
    ASSERT_NE(it, paths.end()) << row.path;
    ExpectReadsGive(*engine, volume.store.Item(it->second).record, row.size, row.md5, row.path);
    ++files;
  }
  EXPECT_GT(files, 10);
}

TEST_P(PreviewReadCorpus, DeletedFilesReadWhereTheReferenceToolRecoversThem) {
  test::ScannedVolume volume;
  ASSERT_EQ(volume.Scan("disks/mbr.vmdk", GetParam().index, kModeDeleted), "");
  ScanEngine* engine = FirstEngine(volume.app);
  const auto paths = ByPath(volume.store);
  const auto rows = test::ReadReference(test::SaveDataDir() / (std::string(GetParam().name) + ".tsk-deleted.tsv"));
  ASSERT_FALSE(rows.empty());
  std::map<std::string, std::uint64_t> sizes;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (std::string(GetParam().name) + ".truth.tsv")))
    sizes[row.path] = row.size;
  int checked = 0;
  for (const auto& row : rows) {
    // FAT loses a deleted short name's first character; the path is found
    // by its folder and the rest of its name.
    FoundItemHandle handle = kNoFoundItem;
    for (const auto& [path, h] : paths) {
      if (path == row[0] || (path.size() == row[0].size() && path.substr(path.rfind('/') + 2) ==
                                                                  row[0].substr(row[0].rfind('/') + 2) &&
                             path.substr(0, path.rfind('/')) == row[0].substr(0, row[0].rfind('/')))) {
        handle = h;
        break;
      }
    }
    ASSERT_NE(handle, kNoFoundItem) << row[0];
    ExpectReadsGive(*engine, volume.store.Item(handle).record, sizes[row[0]], row[1], row[0]);
    ++checked;
  }
  EXPECT_EQ(static_cast<std::size_t>(checked), rows.size());
}

INSTANTIATE_TEST_SUITE_P(MbrDisk, PreviewReadCorpus,
                         ::testing::Values(CorpusVolume{"ntfs", 1}, CorpusVolume{"fat32", 2}, CorpusVolume{"exfat", 3},
                                           CorpusVolume{"fat16", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

// The samples of every kind on FAT32, NTFS (small ones resident in their
// records) and exFAT (some in fragments), live and deleted.
TEST(PreviewReadSamples, EveryKindOnEveryVolumeLiveAndDeleted) {
  std::string why;
  const auto dir = test::PreviewSamplesDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  std::map<std::string, test::PreviewSample> samples;
  for (const auto& s : test::ReadPreviewSamples(dir)) samples[s.name] = s;
  const auto laid = test::ReadPreviewDisk(dir);
  for (std::uint16_t v : {1, 2, 3}) {
    for (std::uint32_t mode : {kModeQuick, kModeDeleted}) {
      if (v == 2 && mode == kModeDeleted) continue;  // nothing is deleted on the NTFS volume
      test::ScannedVolume volume;
      ASSERT_EQ(volume.Scan((dir / "preview.vmdk").string(), v, mode), "") << v;
      ScanEngine* engine = FirstEngine(volume.app);
      const auto paths = ByPath(volume.store);
      int checked = 0;
      for (const auto& f : laid) {
        if (f.volume != v || (f.state == "deleted") != (mode == kModeDeleted)) continue;
        // A deleted FAT short name has lost its first character.
        std::string path = f.path;
        if (!paths.count(path) && f.state == "deleted") {
          for (const auto& [p, h] : paths)
            if (p.size() == path.size() && p.substr(0, 5) == "gone/" && p.substr(6) == path.substr(6)) path = p;
        }
        const auto it = paths.find(path);
        ASSERT_NE(it, paths.end()) << f.fs << " " << f.path;
        const auto& s = samples.at(f.sample);
        ExpectReadsGive(*engine, volume.store.Item(it->second).record, s.size, s.md5, f.fs + " " + f.path);
        ++checked;
      }
      EXPECT_EQ(checked, static_cast<int>(samples.size())) << v << " " << mode;
    }
  }
}

TEST(PreviewCopy, ThePrivateCopyHoldsTheFirstBytesOnly) {
  test::ScannedVolume volume;
  ASSERT_EQ(volume.Scan("disks/mbr.vmdk", 1, kModeQuick), "");
  const auto paths = ByPath(volume.store);
  // The corpus' largest live NTFS file, above the 1 MiB an audio copy keeps.
  const test::TruthRow* largest = nullptr;
  const auto truth = test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv");
  for (const auto& row : truth)
    if (row.type == "file" && row.state == "live" && (!largest || row.size > largest->size)) largest = &row;
  ASSERT_TRUE(largest && largest->size > (1u << 20));
  const FoundItemInfo item = volume.store.Item(paths.at(largest->path)).record;
  ASSERT_EQ(volume.app.m_pScanSession->Kind(), EngineKind::Ntfs);
  ScanEngine& engine = *volume.app.m_pScanSession->Engine();

  auto temp = PreviewTempDir::Create();
  ASSERT_TRUE(temp);
  struct stat st {};
  ASSERT_EQ(::stat(temp->Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  PreviewWorker worker;
  const PreviewCancel cancel(worker, worker.NewSelection());
  const auto copy = temp->NewSubfolder() / "sample.txt";
  ASSERT_TRUE(CopyPreviewFile(engine, item, 1u << 20, copy, cancel));
  const std::string bytes = test::ReadWholeFile(copy);
  EXPECT_EQ(bytes.size(), 1u << 20);
  const PreviewBytes head = ReadPreviewBytes(engine, item, 0, 1u << 20, cancel);
  EXPECT_EQ(test::Md5Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}), Md5Of(head.bytes));
  ASSERT_EQ(::stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A name already there is never written through.
  EXPECT_FALSE(CopyPreviewFile(engine, item, 100, copy, cancel));
  EXPECT_EQ(test::ReadWholeFile(copy).size(), 1u << 20);
  // The folder goes with everything in it.
  const auto path = temp->Path();
  temp.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// Hands out ten blocks and runs `afterFirst` after the first.
struct SlowEngine : ScanEngine {
  std::uint32_t FoundItemCount() const override { return 1; }
  void FreeLists() override {}
  WalkResult ReadItemData(const FoundItemInfo&, const BlockSink& sink, std::uint64_t begin, std::uint64_t end) override {
    WalkResult r;
    static const std::uint8_t block[4096] = {};
    for (int i = 0; i < 10; ++i) {
      DataBlock b;
      b.offset = begin + i * sizeof block;
      b.bytes = block;
      ++blocks;
      if (!sink(b)) {
        r.stopped = true;
        break;
      }
      r.bytes += sizeof block;
      if (i == 0 && afterFirst) afterFirst();
    }
    return r;
  }
  std::function<void()> afterFirst;
  int blocks = 0;
};

TEST(PreviewWorker, ANewSelectionStopsTheOlderRead) {
  PreviewWorker worker;
  SlowEngine engine;
  FoundItemInfo item;
  item.size = 40960;
  const PreviewCancel first(worker, worker.NewSelection());
  engine.afterFirst = [&] { worker.NewSelection(); };
  const PreviewBytes read = ReadPreviewBytes(engine, item, 0, item.size, first);
  EXPECT_TRUE(read.cancelled);
  EXPECT_EQ(read.bytes.size(), 4096u);
  EXPECT_EQ(engine.blocks, 2);
  // A read of a selection already over reads nothing.
  engine.blocks = 0;
  EXPECT_TRUE(ReadPreviewBytes(engine, item, 0, item.size, first).cancelled);
  EXPECT_EQ(engine.blocks, 0);

  // Queued tasks of an older selection are dropped; the running one is told
  // to stop; the newer selection's run.
  std::atomic<int> ran{0};
  std::atomic<bool> started{false};
  const std::uint64_t a = worker.NewSelection();
  worker.Post(a, [&](const PreviewCancel& c) {
    started = true;
    while (!c.Cancelled()) std::this_thread::yield();
    ran += 1;
  });
  worker.Post(a, [&](const PreviewCancel&) { ran += 10; });
  for (int i = 0; i < 5000 && !started; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(started);
  const std::uint64_t b = worker.NewSelection();
  worker.Post(b, [&](const PreviewCancel&) { ran += 100; });
  worker.Post(a, [&](const PreviewCancel&) { ran += 1000; });  // too late: refused
  for (int i = 0; i < 5000 && worker.Busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(worker.Busy());
  EXPECT_EQ(ran.load(), 101);
}

// exFAT allows clusters of 32 MiB (65536 sectors, which a 16-bit count holds
// as 0): files there read like any other.
TEST(PreviewReadExFat, ThirtyTwoMebibyteClusters) {
  using namespace exfattest;
  ExFatImageBuilder b = ExFatImageBuilder::Format(6ull * 65536 + 512, 65536);
  ASSERT_EQ(b.ClusterBytes(), 32u << 20);
  const auto small = PatternBytes(100000, 3, 7);
  const auto large = PatternBytes((32u << 20) + 5000, 5, 13);  // into a second cluster
  b.AddFile(b.Root(), u"small.txt", small);
  b.AddFile(b.Root(), u"large.bin", large, Layout::Chained);
  ExFatRig rig;
  ASSERT_EQ(rig.Mount(b.Bytes()).ScanVolume(0), ExFatScanResult::Completed);
  for (const auto& [name, data] : {std::pair{"small.txt", &small}, std::pair{"large.bin", &large}}) {
    const long i = rig.Find(name);
    ASSERT_GE(i, 0) << name;
    ExpectReadsGive(*rig.engine, rig.items.items[static_cast<std::size_t>(i)].record, data->size(), Md5Of(*data), name);
  }
}

}  // namespace
}  // namespace corvan
