#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"
#include "platform/WorkerThread.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanWorker.h"
#include "sources/Volume.h"
#include "support/CorpusTruth.h"
#include "support/FatTestVolume.h"
#include "support/HeadlessScan.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

struct FakeEngine : ScanEngine {
  explicit FakeEngine(std::vector<std::string>* calls) : calls(calls) {}
  std::uint32_t FoundItemCount() const override { return found; }
  void FreeLists() override { calls->push_back("FreeLists"); }
  std::uint32_t found = 0;
  std::vector<std::string>* calls;
};

// Records what the worker asks; `available` says which engines exist.
struct FakeBackend : EngineBackend {
  std::unique_ptr<ScanEngine> Create(EngineHost& h, EngineKind kind) override {
    calls.push_back("Create " + std::string(EngineName(kind)));
    if (!available) return nullptr;
    host = &h;
    auto engine = std::make_unique<FakeEngine>(&calls);
    last = engine.get();
    return engine;
  }
  void Prepare(ScanEngine&, EngineKind, const Volume& volume) override {
    calls.push_back(volume.readThroughPath ? "Prepare path" : "Prepare");
  }
  void SetVolumeRange(ScanEngine&, EngineKind, const Volume&, std::uint64_t first, std::uint64_t last) override {
    calls.push_back("SetVolumeRange " + std::to_string(first) + "-" + std::to_string(last));
  }
  Outcome RunPass(ScanEngine&, EngineKind, ScanPass pass) override {
    calls.push_back("Run " + std::to_string(static_cast<int>(pass)));
    if (onPass) onPass(*host);
    return passBuilt ? Outcome::Ran : Outcome::NotBuilt;
  }
  bool available = true;
  bool passBuilt = true;
  FakeEngine* last = nullptr;
  EngineHost* host = nullptr;
  std::function<void(EngineHost&)> onPass;
  std::vector<std::string> calls;
};

struct YesPrompt : Prompt {
  int MessageBox(const std::string& text, unsigned, unsigned type) override {
    asked.push_back(text);
    return type == kMbOk ? kIdOk : kIdYes;
  }
  std::vector<std::string> asked;
};

class ScanWorkerTest : public ::testing::Test {
 protected:
  void Select(std::uint8_t kind, std::uint8_t fsKind, std::u16string path = u"") {
    auto record = std::make_unique<SourceRecord>();
    record->kind = kind;
    record->path = std::move(path);
    if (!SourceRecord::HasDiskPayload(kind)) {
      record->partition = std::make_unique<PartitionRecord>();
      record->partition->fileSystemKind = fsKind;
    } else {
      record->disk = std::make_unique<DiskRecord>();
    }
    app.m_sourceList.m_pSelectedSource = &app.m_sourceList.AppendSource(std::move(record));
  }
  ScanWorker Run(std::uint32_t mode, std::uint8_t advanceChoice = 0) {
    app.m_nRecoveryMode = mode;
    app.m_nAdvanceFsChoice = advanceChoice;
    ScanWorker worker(MakeScanJob(app, CurrentSelection(app)), backend);
    worker.Run();
    return worker;
  }

  test::TempDir dir;
  test::UserFolders folders{dir.path()};
  FakeBackend backend;  // outlives the app, whose engines call back into it
  CORVANApp app{dir / "settings.ini", dir.path()};
};

TEST_F(ScanWorkerTest, DispatchTable) {
  struct Row {
    std::uint8_t sourceKind, fsKind;
    std::uint32_t mode;
    std::uint8_t advance;
    bool quickVolumeSearch;
    EngineKind engine;
    ScanPass pass;
  };
  const Row rows[] = {
      // The whole disk always goes to the FAT engine; Raw there is the region pass.
      {0, 7, kModeRaw, 0, false, EngineKind::Fat, ScanPass::FatRawRegion},
      {0, 7, kModeQuick, 0, false, EngineKind::Fat, ScanPass::FatQuick},
      {1, 7, kModeQuick, 0, false, EngineKind::Ntfs, ScanPass::NtfsQuick},
      {1, 0x87, kModeDeleted, 0, false, EngineKind::Ntfs, ScanPass::NtfsDeleted},
      {1, 3, kModeQuick, 0, false, EngineKind::ExFat, ScanPass::ExFatQuick},
      {1, 2, kModeRaw, 0, false, EngineKind::Fat, ScanPass::FatRaw},
      // Deleted after a quick lost-volume search takes the quick walk with pass 1.
      {1, 2, kModeDeleted, 0, true, EngineKind::Fat, ScanPass::FatDeletedQuick},
      {1, 2, kModeDeleted, 0, false, EngineKind::Fat, ScanPass::FatDeletedDeep},
      {1, 3, kModeDeleted, 0, true, EngineKind::ExFat, ScanPass::ExFatDeletedQuick},
      {1, 3, kModeDeleted, 0, false, EngineKind::ExFat, ScanPass::ExFatLostFolders},
      // Advance follows the panel's choice, not the volume.
      {1, 7, kModeAdvance, 1, false, EngineKind::Fat, ScanPass::FatAdvance},
      {1, 2, kModeAdvance, 2, false, EngineKind::Ntfs, ScanPass::NtfsAdvance},
      {1, 3, kModeAdvance, 3, false, EngineKind::ExFat, ScanPass::ExFatAdvance},
      {1, 7, kModeAdvance, 3, false, EngineKind::None, ScanPass::None},
      {1, 7, kModeAdvance, 0, false, EngineKind::None, ScanPass::None},
      // Saved disk-like sources in Raw always get the FAT engine's region pass.
      {9, 7, kModeRaw, 0, false, EngineKind::Fat, ScanPass::FatRawRegion},
      // A mode without a pass builds the engine but runs nothing.
      {1, 7, kModeSavedDriveScan, 0, false, EngineKind::Ntfs, ScanPass::None},
  };
  for (const Row& r : rows) {
    const EngineKind e = ChooseEngine(r.sourceKind, r.fsKind, r.mode, r.advance);
    EXPECT_EQ(e, r.engine) << int(r.sourceKind) << "/" << int(r.fsKind) << "/" << r.mode;
    EXPECT_EQ(ChoosePass(r.mode, e, r.sourceKind, r.quickVolumeSearch), r.pass)
        << int(r.sourceKind) << "/" << int(r.fsKind) << "/" << r.mode;
  }
}

// Every pass a row chooses is one of its own, and a pass is never run on an
// engine another row built: that engine is refused before any cast.
TEST(EngineRegistryTest, PassesStayWithTheirEngine) {
  const std::uint32_t modes[] = {kModeRaw, kModeQuick, kModeDeleted, kModeAdvance};
  for (const EngineRow& row : EngineRows()) {
    for (std::uint32_t mode : modes)
      for (std::uint8_t sourceKind : {std::uint8_t{0}, std::uint8_t{1}})
        for (bool quick : {false, true}) {
          const ScanPass pass = row.choosePass(mode, sourceKind, quick);
          ASSERT_NE(pass, ScanPass::None) << row.name << " " << mode;
          EXPECT_TRUE(std::any_of(row.passes.begin(), row.passes.end(),
                                  [&](const EnginePassRow& p) { return p.pass == pass; }))
              << row.name << " chooses a pass of another engine in mode " << mode;
        }
  }
  std::vector<std::string> calls;
  FakeEngine stranger(&calls);
  EXPECT_EQ(RunEnginePass(stranger, EngineKind::Ntfs, ScanPass::ExFatQuick), PassOutcome::NotBuilt);
  EXPECT_EQ(RunEnginePass(stranger, EngineKind::Ntfs, ScanPass::NtfsQuick), PassOutcome::NotBuilt)
      << "an engine the NTFS row did not build";

  EXPECT_EQ(RunEnginePass(stranger, EngineKind::None, ScanPass::FatQuick), PassOutcome::NotBuilt);
  EXPECT_EQ(RunEnginePass(stranger, static_cast<EngineKind>(99), ScanPass::NtfsQuick), PassOutcome::NotBuilt);
  EXPECT_EQ(ChoosePass(kModeQuick, static_cast<EngineKind>(99), 1, false), ScanPass::None);
  ScanImageFileHeader header = ScanImageFileHeader::ForVolumeScan();
  const ScanImageFileHeader before = header;
  ScanEngineTables tables;
  EXPECT_FALSE(CaptureEngineScan(EngineKind::None, stranger, header, tables));
  EXPECT_FALSE(CaptureEngineScan(EngineKind::Fat, stranger, header, tables)) << "an engine the FAT row did not build";
  EXPECT_EQ(header.EncodeBlock(), before.EncodeBlock()) << "nothing written for an engine no row has";
  FoundItemStore store;
  HeadlessHost host(&store, nullptr);
  VolumeScanInfo scan;
  EXPECT_FALSE(RestoreEngineScan(static_cast<EngineKind>(99), stranger, host, scan, Volume{}).ok);
  EXPECT_FALSE(RestoreEngineScan(EngineKind::ExFat, stranger, host, scan, Volume{}).ok);
  EXPECT_EQ(EngineOfSavedScan(ScanInfoEngine::Ntfs), EngineKind::Ntfs);
  EXPECT_EQ(StampKindOf(EngineKind::Fat), StampKind::Fat);
  EXPECT_EQ(StampKindOf(EngineKind::ExFat), StampKind::ExFat);
  EXPECT_EQ(StampKindOf(EngineKind::Ntfs), StampKind::Ntfs);
  EXPECT_TRUE(calls.empty());
}

// A session asks a row only of an engine that row built: an engine held
// under no kind, or under a kind whose row did not build it, offers no
// linking mode and takes none.
TEST(ScanSessionTest, HoldsOneEngineAndReleasesIt) {
  std::vector<std::string> calls;
  ScanSession session;
  session.Hold(EngineKind::Fat, nullptr);
  EXPECT_EQ(session.Kind(), EngineKind::None) << "no engine, no kind";
  session.Hold(EngineKind::None, std::make_unique<FakeEngine>(&calls));
  EXPECT_FALSE(session.LinkingMode());
  EXPECT_FALSE(session.SetLinkingMode(1));
  session.Hold(EngineKind::Fat, std::make_unique<FakeEngine>(&calls));
  EXPECT_FALSE(session.LinkingMode()) << "not an engine the FAT row built";
  EXPECT_FALSE(session.SetLinkingMode(1));
  session.Release();
  EXPECT_EQ(calls, std::vector<std::string>{"FreeLists"});
  EXPECT_EQ(session.Engine(), nullptr);
  session.Release();
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(ScanWorkerTest, RawOnTheWholeDiskScansTheMediaRange) {
  Select(kSourceDisk, 0);
  app.m_scanBounds.m_nMediaFirstSector = 0;
  app.m_scanBounds.m_nMediaLastSector = 368639;
  app.m_selectedTypeList.resize(1);
  const ScanWorker w = Run(kModeRaw);
  EXPECT_EQ(w.Engine(), EngineKind::Fat);
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"Create FAT", "SetVolumeRange 0-368639",
                                                     "Run " + std::to_string(int(ScanPass::FatRawRegion))}));
}

// The results window makes the job when the scan starts; what the pages
// choose after that (another volume, another region) is not what runs.
TEST_F(ScanWorkerTest, TheJobScansTheSelectionItWasHandedNotALaterOne) {
  Select(kSourceDisk, 0);
  app.m_scanBounds.m_nMediaFirstSector = 100;
  app.m_scanBounds.m_nMediaLastSector = 2000;
  app.m_selectedTypeList.resize(1);
  app.m_nRecoveryMode = kModeRaw;
  ScanJob job = MakeScanJob(app, CurrentSelection(app));
  Select(kSourceVolume, 7);
  app.m_scanBounds.m_nMediaFirstSector = 0;
  app.m_scanBounds.m_nMediaLastSector = 5;
  ScanWorker w(std::move(job), backend);
  w.Run();
  EXPECT_EQ(w.Engine(), EngineKind::Fat);
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"Create FAT", "SetVolumeRange 100-2000",
                                                     "Run " + std::to_string(int(ScanPass::FatRawRegion))}));
}

TEST_F(ScanWorkerTest, AMismatchedAdvanceChoiceBuildsNothingAndEndsAtOnce) {
  Select(kSourceVolume, 7);
  app.m_bBusy = 1;
  const ScanWorker w = Run(kModeAdvance, 3);
  EXPECT_EQ(w.Engine(), EngineKind::None);
  EXPECT_TRUE(backend.calls.empty());
  EXPECT_EQ(app.m_bBusy, 0u);
  EXPECT_TRUE(w.Problem().empty());
}

TEST_F(ScanWorkerTest, ASecondScanFreesTheFirstEngineFirst) {
  Select(kSourceVolume, 7, u"/images/disk.vmdk");
  Run(kModeQuick);
  ASSERT_EQ(app.m_pScanSession->Kind(), EngineKind::Ntfs);
  backend.calls.clear();
  Select(kSourceVolume, 2);
  Run(kModeQuick);
  EXPECT_EQ(backend.calls.front(), "FreeLists");
  EXPECT_EQ(app.m_pScanSession->Kind(), EngineKind::Fat);
  EXPECT_NE(app.m_pScanSession->Engine(), nullptr);
}

TEST_F(ScanWorkerTest, AVolumeFoundInAnImageIsReadThroughTheVirtualDisk) {
  // Found by the lost-volume search, which reads the virtual disk: the path
  // names the image the volume is in, not a file of the volume's bytes.
  for (std::uint8_t kind : {kSourceImageLostVolume, kSourceImageDeepLostVolume}) {
    backend.calls.clear();
    Select(kind, 7, u"/images/disk.vmdk");
    Run(kModeQuick);
    const auto& calls = backend.calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "Prepare"), calls.end()) << int(kind);
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "Prepare path"), calls.end()) << int(kind);
  }
}

TEST_F(ScanWorkerTest, PreparesWithThePathFlagAndSetsResultsFromTheEngine) {
  Select(kSourceVolume, 7, u"/images/disk.vmdk");
  backend.onPass = [&](EngineHost&) { backend.last->found = 3; };
  Run(kModeQuick);
  EXPECT_EQ(backend.calls[1], "Prepare path");
  EXPECT_EQ(app.m_bResultsPresent, 1u);
  EXPECT_EQ(app.m_bBusy, 0u);
}

TEST_F(ScanWorkerTest, AnEngineOrPassNotBuiltEndsWithAClearMessage) {
  YesPrompt prompt;
  app.m_pPrompt = &prompt;
  Select(kSourceVolume, 3);
  backend.available = false;
  const ScanWorker w = Run(kModeQuick);
  EXPECT_EQ(w.Problem(), "The exFAT recovery engine is not available in this version.");
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_NE(app.LogViewText().find(w.Problem()), std::string::npos);

  backend.available = true;
  backend.passBuilt = false;
  Select(kSourceVolume, 7);
  app.m_selectedTypeList.resize(1);
  const ScanWorker w2 = Run(kModeRaw);
  EXPECT_EQ(w2.Problem(), "This recovery mode is not available for NTFS volumes in this version.");
  EXPECT_EQ(app.m_bBusy, 0u);
}

TEST_F(ScanWorkerTest, RawWithNoFileTypeSelectedSaysSoAndReadsNothing) {
  YesPrompt prompt;
  app.m_pPrompt = &prompt;
  Select(kSourceVolume, 2);
  app.m_selectedTypeList.clear();
  const ScanWorker w = Run(kModeRaw);
  EXPECT_NE(w.Problem().find("No file type is selected"), std::string::npos);
  EXPECT_EQ(prompt.asked.size(), 1u);
  EXPECT_TRUE(backend.calls.empty());
  EXPECT_EQ(app.m_bBusy, 0u);
}

TEST_F(ScanWorkerTest, StopAfterSomeItemsKeepsThemAndNoCallComesAfterTheEnd) {
  YesPrompt prompt;
  app.m_pPrompt = &prompt;
  struct StoppingStore : FoundItemStore {
    FoundItemHandle OnAddFoundItem(const FoundItemInfo& r, std::u16string_view n) override {
      EXPECT_FALSE(closed) << "a found item reached a closed window";
      const auto h = FoundItemStore::OnAddFoundItem(r, n);
      if (++added == 3) RequestStop(*app);
      return h;
    }
    void UpdateStatusText(int) override { EXPECT_FALSE(closed); }
    CORVANApp* app = nullptr;
    int added = 0;
    bool closed = false;
  } store;
  store.app = &app;
  app.m_pConsole = &store;
  backend.onPass = [&](EngineHost& a) {
    a.ResultsSink()->OnInsertRootItem(5);
    for (std::uint32_t id = 100; id < 1000 && !a.StopRequested(); ++id) {
      FoundItemInfo r;
      r.itemId = id;
      r.parentId = 5;
      r.attribute = kItemFile;
      a.ResultsSink()->OnAddFoundItem(r, u"f");
      a.ResultsSink()->UpdateStatusText(0);
    }
  };
  Select(kSourceVolume, 7);
  app.m_nRecoveryMode = kModeQuick;
  ScanWorker worker(MakeScanJob(app, CurrentSelection(app)), backend);
  WorkerThread thread;
  thread.Start([&] { worker.Run(); });
  thread.Join();  // the dialog closes only after the worker has ended
  store.closed = true;
  EXPECT_EQ(store.added, 3);
  EXPECT_EQ(store.Count(), 4u);  // the root and three items
  EXPECT_EQ(app.m_bAbort, 0u);   // cleared at the end
  EXPECT_EQ(app.m_bBusy, 0u);
  app.m_pConsole = nullptr;
}

TEST_F(ScanWorkerTest, CancelIsRefusedInTheCriticalPhaseAndIsAStopWhileRunning) {
  YesPrompt prompt;
  app.m_pPrompt = &prompt;
  app.CriticalPhaseFlag() = 1;
  EXPECT_EQ(RequestCancel(app, true), CancelAnswer::Refused);
  EXPECT_EQ(prompt.asked.back(), "Can't exit while searching critical information.\nPlease wait...");
  EXPECT_EQ(app.m_bAbort, 0u);
  app.CriticalPhaseFlag() = 0;
  EXPECT_EQ(RequestCancel(app, true), CancelAnswer::Stopping);
  EXPECT_EQ(app.m_bAbort, 1u);
  EXPECT_EQ(RequestCancel(app, false), CancelAnswer::CloseNow);
  // Declining the question leaves the scan running.
  app.m_bAbort = 0;
  app.m_pPrompt = nullptr;  // unattended: answers No
  EXPECT_EQ(RequestCancel(app, true), CancelAnswer::KeepRunning);
  EXPECT_EQ(app.m_bAbort, 0u);
}


constexpr char kInvalidVolume[] = "Not a valid volume, or critical data structure of volume badly corrupt.";

TEST(ScanWorkerRefusal, AVolumeNoEngineCanReadEndsTheScanWithTheEnginesMessage) {
  // A blank volume holds none of the file systems: every engine refuses it
  // in every mode, and the worker says the scan failed, as callers that
  // have no window (scan-report) need to know.
  const auto blank = std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>(std::size_t{8} << 20));
  const struct {
    std::uint8_t fs;
    std::uint8_t advanceChoice;  // the options panel's engine for Advance Recovery
  } kinds[] = {{kFsFat32, 1}, {kFsNtfs, 2}, {kFsExFat, 3}};
  for (const auto& kind : kinds) {
    for (const std::uint32_t mode : {kModeQuick, kModeDeleted, kModeAdvance}) {
      SCOPED_TRACE(std::to_string(kind.fs) + " mode " + std::to_string(mode));
      const SourceRecord source = fattest::VolumeSource(0, 16384, kind.fs);
      test::VolumeScan scan;
      scan.Run(source, blank, mode, kind.advanceChoice);
      EXPECT_EQ(scan.problem, kInvalidVolume);
    }
  }
}

// The files a scan listed whose path and size the corpus truth `truthName`
// gives, and how many files it listed in all.
struct TruthFiles {
  int inTruth = 0, listed = 0;
};
TruthFiles ListedTruthFiles(const test::VolumeScan& scan, const std::string& truthName) {
  std::map<std::string, std::uint64_t> sizes;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (truthName + ".truth.tsv")))
    if (row.type == "file") sizes.emplace(row.path, row.size);
  TruthFiles files;
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h) {
    const StoredItem item = scan.store.Item(h);
    if (item.record.IsFolder()) continue;
    ++files.listed;
    const auto it = sizes.find(Utf16ToUtf8(scan.store.PathOf(h)));
    if (it != sizes.end() && it->second == item.record.size) ++files.inTruth;
  }
  return files;
}

TEST(ScanWorkerRefusal, ACorpusVolumeWhoseTablesCannotBeReadIsRefusedAndOneCutInHalfIsNot) {
  // The corpus volumes as plain volume files (scan-report's --raw-volume):
  // whole boot sectors whose FAT, cluster heap or $MFT lie past the image's
  // end or hold garbage or zeros leave nothing of the volume to read, in
  // any mode. Cut in half, the volume still holds its first files, and an
  // exFAT volume without its FAT still has its root folder to go by.
  const struct {
    const char* name;
    std::uint8_t fs;
    std::uint8_t advanceChoice;
  } volumes[] = {{"exfat", kFsExFat, 3}, {"ntfs", kFsNtfs, 2}};
  for (const auto& volume : volumes) {
    const std::string whole = test::ReadWholeFile(test::CorpusDir() / (std::string(volume.name) + ".img"));
    ASSERT_GT(whole.size(), std::size_t{4} << 20) << volume.name << ": the corpus is not unpacked";
    std::string garbage = whole.substr(0, 512);
    std::mt19937 random(7);
    while (garbage.size() < whole.size()) garbage += static_cast<char>(random());
    std::string zeros = whole.substr(0, 512);
    zeros.resize(whole.size(), '\0');
    struct Case {
      const char* what;
      std::string bytes;
      bool refused;
    };
    std::vector<Case> cases = {{"cut after the boot sector", whole.substr(0, 512), true},
                               {"boot sector and garbage", garbage, true},
                               {"boot sector and zeros", zeros, true},
                               {"cut in half", whole.substr(0, whole.size() / 2), false}};
    if (volume.fs == kFsExFat) {
      // Its FAT begins at 1 MiB, the heap at 2 MiB. (The NTFS volume's $MFT
      // begins at 16 KiB: cuts at 64 KiB and 1 MiB still hold records.)
      // The FAT's offset and length and the heap's offset, in sectors, are
      // boot sector bytes 80, 84 and 88.
      const auto* boot = reinterpret_cast<const std::uint8_t*>(whole.data());
      cases.push_back({"cut at 64 KiB", whole.substr(0, 64 << 10), true});
      cases.push_back({"cut at 1 MiB", whole.substr(0, 1 << 20), true});
      cases.push_back({"cut between its whole FAT and its heap", whole.substr(0, 3 << 19), true});
      // The whole FAT, and not one sector of the heap, not even the root's.
      cases.push_back({"cut where its heap begins", whole.substr(0, GetLE32(boot + 88) * 512), true});
      std::string noFat = whole;
      std::fill_n(noFat.begin() + GetLE32(boot + 80) * 512, GetLE32(boot + 84) * 512, '\0');
      cases.push_back({"FAT zeroed", noFat, false});
    }
    for (const std::uint32_t mode : {kModeQuick, kModeDeleted, kModeAdvance}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(volume.name) + ", " + c.what + ", mode " + std::to_string(mode));
        const SourceRecord source = fattest::VolumeSource(0, c.bytes.size() / 512, volume.fs);
        test::VolumeScan scan;
        scan.Run(source,
                 std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end())),
                 mode, volume.advanceChoice);
        const TruthFiles files = ListedTruthFiles(scan, volume.name);
        if (c.refused) {
          EXPECT_EQ(scan.problem, kInvalidVolume);
          EXPECT_EQ(files.listed, 0);
        } else {
          EXPECT_EQ(scan.problem, "");
          EXPECT_GT(files.inTruth, 0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace corvan
