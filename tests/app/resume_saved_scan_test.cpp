// The program saves a scan, and a program started afresh resumes it as a
// scan in mode 511: the same items in the results window, the same bytes
// read from them, the engine, the source list and the selection restored,
// and nothing of the volume scanned again. The found volumes are saved
// beside a scan as a drive scan and indexed.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "console/FoundItemStore.h"
#include "console/SavedScanItems.h"
#include "core/RecoveryMode.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanInfoJobs.h"
#include "scan/ScanWorker.h"
#include "sources/VirtualDiskImage.h"
#include "support/Md5.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

struct Program {
  explicit Program(const fs::path& dir) : folders(dir), app(dir / "settings.ini", dir / "install") {
    app.m_pPrompt = &prompt;
    app.m_pConsole = &store;
  }
  void Run(std::uint32_t mode) {
    app.m_nRecoveryMode = mode;
    const auto engines = MakeProgramEngines();
    ScanWorker worker(MakeScanJob(app, CurrentSelection(app)), *engines);
    worker.Run();
  }
  std::string Md5Of(const FoundItemInfo& r) {
    test::Md5 md5;
    ScanEngine* engine = app.m_pScanSession->Engine();
    engine->ReadItemData(r, [&](const DataBlock& b) {
      md5.Update(b.bytes);
      return true;
    });
    return md5.HexDigest();
  }

  test::UserFolders folders;
  CORVANApp app;
  FoundItemStore store;
  test::RecordingPrompt prompt;
};

TEST(ResumeSavedScan, AProgramStartedAfreshShowsTheSavedScanAndReadsTheSameBytes) {
  test::TempDir dir;
  const fs::path saved = dir.path() / "fat16 scan.img";
  Program first(dir.path() / "first");
  ASSERT_TRUE(MountAndListSources(first.app, kImageVmware, test::CorpusDir() / "disks" / "mbr.vmdk").mounted);
  ASSERT_TRUE(SelectSource(first.app, 4));  // the FAT16 volume
  first.Run(kModeDeleted);
  ASSERT_GT(first.store.Count(), 10u);

  ASSERT_TRUE(SaveScanInformation(first.app, saved, SavedScanItemsOf(first.store)));
  EXPECT_TRUE(first.prompt.texts.empty());
  EXPECT_EQ(first.app.m_bFromScanInfo.load(), 1u);
  EXPECT_EQ(first.app.GetProfile().GetString(kProductSection, "ScanPath"), saved.string());
  ASSERT_EQ(ReadScanIndex().size(), 1u);
  EXPECT_EQ(FilePathOfScanRecord(ReadScanIndex()[0].path), saved);
  EXPECT_NE(first.app.LogPendingText().find("Saving scan information of volume to a file"), std::string::npos);

  Program again(dir.path() / "again");
  again.app.m_scanInfoFile = saved;
  again.Run(kModeScanNow);
  EXPECT_TRUE(again.prompt.texts.empty()) << again.prompt.texts.front();
  ASSERT_EQ(again.app.m_pScanSession->Kind(), EngineKind::Fat);
  EXPECT_EQ(again.app.m_bFromScanInfo.load(), 1u);
  EXPECT_EQ(again.app.m_bBusy.load(), 0u);
  ASSERT_TRUE(again.app.m_sourceList.m_pSelectedSource);
  EXPECT_EQ(again.app.m_sourceList.m_pSelectedSource->index, 4);
  EXPECT_EQ(again.app.m_sourceList.m_sources.size(), first.app.m_sourceList.m_sources.size());
  ASSERT_EQ(again.store.Count(), first.store.Count());
  for (FoundItemHandle h = 1; h < again.store.Count(); ++h) {
    const StoredItem was = first.store.Item(h), is = again.store.Item(h);
    EXPECT_EQ(again.store.PathOf(h), first.store.PathOf(h));
    EXPECT_EQ(is.record.itemId, was.record.itemId);
    EXPECT_EQ(is.record.parentId, was.record.parentId);
    EXPECT_EQ(is.record.size, was.record.size);
    EXPECT_EQ(is.record.modifiedTime, was.record.modifiedTime);
    EXPECT_EQ(is.record.flags, was.record.flags);
    if (!is.record.IsFolder()) EXPECT_EQ(again.Md5Of(is.record), first.Md5Of(was.record));
  }
}

TEST(ResumeSavedScan, WithNoScanNothingIsSaved) {
  test::TempDir dir;
  Program program(dir.path());
  EXPECT_FALSE(SaveScanInformation(program.app, dir.path() / "scan.img", ItemSourceOf({})));
  EXPECT_FALSE(fs::exists(dir.path() / "scan.img"));
  EXPECT_TRUE(program.prompt.texts.empty());
  EXPECT_EQ(program.app.m_bBusy.load(), 0u);
  EXPECT_NE(program.app.LogPendingText().find("Process completed"), std::string::npos);
}

TEST(ResumeSavedScan, AMissingScanFileEndsTheResumeWithOneMessage) {
  test::TempDir dir;
  Program program(dir.path());
  program.app.m_scanInfoFile = dir.path() / "gone.img";
  program.Run(kModeScanNow);
  ASSERT_EQ(program.prompt.texts.size(), 1u);
  EXPECT_EQ(program.prompt.texts[0], "Unable to open scan information file to resume recovery");
  EXPECT_EQ(program.app.m_bScanInfoLoadOk.load(), 0u);
  EXPECT_EQ(program.app.m_bBusy.load(), 0u);
  EXPECT_EQ(program.store.Count(), 0u);
}

}  // namespace
}  // namespace corvan

namespace corvan {
namespace {

TEST(SaveDriveScanInfo, TheFoundVolumesAreSavedBesideTheScanAndIndexed) {
  test::TempDir dir;
  Program program(dir.path());
  auto lost = std::make_unique<SourceRecord>();
  lost->kind = kSourceLostVolume;
  lost->index = 2;
  lost->partition = std::make_unique<PartitionRecord>();
  lost->partition->startSector = 2048;
  lost->partition->sectorCount = 65536;
  program.app.m_sourceList.AppendSource(std::move(lost));
  auto volume = std::make_unique<SourceRecord>();
  volume->kind = kSourceVolume;
  volume->index = 1;
  volume->partition = std::make_unique<PartitionRecord>();
  program.app.m_sourceList.AppendSource(std::move(volume));

  ASSERT_TRUE(program.app.SaveDriveScanInfo(dir.path() / "disk scan.img"));
  const fs::path saved = dir.path() / "disk scan Drives.img";
  DriveScanInfo drives;
  ASSERT_TRUE(ReadDriveScanFile(saved, drives));
  ASSERT_EQ(drives.volumes.size(), 1u);  // the found volume only
  EXPECT_EQ(drives.volumes[0].partition->startSector, 2048u);
  EXPECT_EQ(drives.trailer.kind, kScanKindDrives);
  const std::vector<ScanImageRecord> index = ReadScanIndex();
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(FilePathOfScanRecord(index[0].path), saved);
  EXPECT_EQ(program.app.GetProfile().GetString(kProductSection, "ScanPath"), saved.string());
  EXPECT_TRUE(program.app.DriveScanSaved());
  EXPECT_TRUE(program.prompt.texts.empty());

  // A folder that does not exist: told, nothing written, the index as it was.
  EXPECT_FALSE(program.app.SaveDriveScanInfo(dir.path() / "no such folder" / "scan.img"));
  ASSERT_EQ(program.prompt.texts.size(), 1u);
  EXPECT_EQ(program.prompt.texts[0].rfind("Can't open file ", 0), 0u);
  EXPECT_EQ(ReadScanIndex().size(), 1u);
}

}  // namespace
}  // namespace corvan
