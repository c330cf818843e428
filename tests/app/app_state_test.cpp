#include <gtest/gtest.h>

#include <cstring>

#include "app/CORVANApp.h"
#include "platform/FileHandle.h"
#include "core/FileTypeRecord.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

struct CountingEngine : ScanEngine {
  CountingEngine(std::uint32_t found, int* freed) : found(found), freed(freed) {}
  std::uint32_t FoundItemCount() const override { return found; }
  void FreeLists() override { ++*freed; }
  std::uint32_t found;
  int* freed;
};

class AppStateTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::UserFolders folders{dir.path()};
  int freed = 0;  // outlives the app, whose engines count into it
  CORVANApp app{dir / "settings.ini", dir / "install"};
};

TEST_F(AppStateTest, InitialValues) {
  app.InitState();
  EXPECT_EQ(app.NextSyntheticId(), -16);
  EXPECT_EQ(app.m_bHaveFoundVolumes, 1u);
  EXPECT_EQ(app.m_update.m_bUpdateCancel, 1u);
  EXPECT_EQ(app.m_bFirstDriveLoad, 1);
  EXPECT_EQ(app.m_bBusy, 0u);
  EXPECT_EQ(app.m_nRecoveryMode, 0u);
  EXPECT_EQ(app.m_bCheckUpdate, 0u);
  EXPECT_EQ(app.m_nScreenDpi, 0u);
}

TEST_F(AppStateTest, CheckUpdateComesFromTheProfile) {
  app.GetProfile().WriteInt("Update", "CheckUpdate", 1);
  app.InitState();
  EXPECT_EQ(app.m_bCheckUpdate, 1u);
}

TEST_F(AppStateTest, ResetScanStateConsultsTheSessionsEngine) {
  app.m_bBusy = 1;
  app.m_bAbort = 1;
  app.m_bMaskRunning = 1;
  app.m_pScanSession->Hold(EngineKind::None, std::make_unique<CountingEngine>(0, &freed));
  app.ResetScanState();
  EXPECT_EQ(app.m_bBusy, 0u);
  EXPECT_EQ(app.m_bAbort, 0u);
  EXPECT_EQ(app.m_bMaskRunning, 0u);
  EXPECT_EQ(app.m_bResultsPresent, 0u);

  app.m_pScanSession->Hold(EngineKind::None, std::make_unique<CountingEngine>(12, &freed));
  app.ResetScanState();
  EXPECT_EQ(app.m_bResultsPresent, 1u);
  // Never cleared here.
  app.m_pScanSession->Hold(EngineKind::None, std::make_unique<CountingEngine>(0, &freed));
  app.ResetScanState();
  EXPECT_EQ(app.m_bResultsPresent, 1u);
}

TEST_F(AppStateTest, FreeSourcesAndEnginesReleasesTheEngineAndTheLists) {
  app.m_pScanSession->Hold(EngineKind::None, std::make_unique<CountingEngine>(1, &freed));
  app.m_saveChoice.m_saveMasks = {u"*.doc"};
  app.m_fileTypeList.resize(3);
  app.m_selectedTypeList.resize(2);
  app.FreeSourcesAndEngines();
  EXPECT_EQ(freed, 1);
  EXPECT_FALSE(app.m_pScanSession->Engine());
  EXPECT_TRUE(app.m_saveChoice.m_saveMasks.empty());
  EXPECT_TRUE(app.m_fileTypeList.empty());
  EXPECT_TRUE(app.m_selectedTypeList.empty());
}

TEST_F(AppStateTest, UnattendedPromptTakesTheAnswerThatChangesNothing) {
  Prompt& p = app.GetPrompt();
  EXPECT_EQ(p.MessageBox("x", kPicInformation, kMbOk), kIdOk);
  EXPECT_EQ(p.MessageBox("x", kPicQuestion, kMbOkCancel), kIdCancel);
  EXPECT_EQ(p.MessageBox("x", kPicQuestion, kMbYesNo), kIdNo);
  EXPECT_EQ(p.MessageBox("x", kPicQuestion, kMbYesNoCancel), kIdCancel);
}

// ---- file types ----

FileTypeRecord Type(std::uint16_t id, std::uint8_t selected, const char16_t* ext) {
  FileTypeRecord r;
  r.typeId = id;
  r.selected = selected;
  r.extension = ext;
  r.softwareName = u"Tool";
  return r;
}

TEST(FileTypeRecord, FieldsLieAtTheirOffsets) {
  FileTypeRecord r;
  r.softwareName = u"Paint";
  r.extension = u"pcx";
  r.headerOffset = 0x01020304;
  r.headerLength = 3;
  r.header = {0x0A, 0x05, 0x01, 0, 0, 0, 0, 0};
  r.selected = 1;
  r.preset = 2;
  r.maxSize = 0x00100000;
  r.sizeUnit = 2;
  r.group = 1;
  r.typeId = 0x1234;
  std::array<std::uint8_t, kFileTypeRecordSize> b;
  b.fill(0xEE);
  r.Encode(b);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(b[i], 0) << i;  // list links
  EXPECT_EQ(b[8], 'P');
  EXPECT_EQ(b[9], 0);
  EXPECT_EQ(b[16], 't');
  EXPECT_EQ(b[18], 0);  // NUL after "Paint"
  EXPECT_EQ(b[527], 0);
  EXPECT_EQ(b[528], 'p');
  EXPECT_EQ(b[532], 'x');
  EXPECT_EQ(b[1048], 0x04);
  EXPECT_EQ(b[1051], 0x01);
  EXPECT_EQ(b[1052], 3);
  EXPECT_EQ(b[1053], 0x0A);
  EXPECT_EQ(b[1055], 0x01);
  EXPECT_EQ(b[1061], 1);
  EXPECT_EQ(b[1062], 2);
  EXPECT_EQ(b[1063], 0x00);
  EXPECT_EQ(b[1065], 0x10);
  EXPECT_EQ(b[1067], 2);
  EXPECT_EQ(b[1068], 1);
  EXPECT_EQ(b[1069], 0x34);
  EXPECT_EQ(b[1070], 0x12);
  EXPECT_EQ(FileTypeRecord::Decode(b), r);
}

TEST_F(AppStateTest, UserHeadersLoadWholeRecordsOnly) {
  std::filesystem::create_directories(dir / "install");
  std::vector<std::uint8_t> bytes(2 * kFileTypeRecordSize + 500);
  Type(200, 1, u"abc").Encode(std::span(bytes).first<kFileTypeRecordSize>());
  Type(201, 0, u"def").Encode(std::span(bytes).subspan(kFileTypeRecordSize).first<kFileTypeRecordSize>());
  ASSERT_TRUE(WriteFileAtomically(dir / "install" / "HeaderFile.cfg", bytes.data(), bytes.size()));
  app.LoadUserHeaders();
  ASSERT_EQ(app.m_fileTypeList.size(), 2u);
  EXPECT_EQ(app.m_fileTypeList[0].extension, u"abc");
  EXPECT_EQ(app.m_fileTypeList[0].selected, 1);
  EXPECT_EQ(app.m_fileTypeList[1].typeId, 201);
  // Not loaded again while the list holds types.
  app.LoadUserHeaders();
  EXPECT_EQ(app.m_fileTypeList.size(), 2u);
}

TEST_F(AppStateTest, UserHeadersKeepARecordWhoseSignatureRunsPastTheFirstSector) {
  // The installed signature file with its Office records' offsets changed in
  // place (the offset at byte 1048, the length at 1052): DOCX's 4-byte
  // signature moved to 511 runs past the sector, XLSX's moved to 508 ends
  // with it. Both are loaded with every other record, and the list written
  // back is the file as it was, byte for byte.
  std::string bytes = test::ReadWholeFile(std::filesystem::path(CORVAN_SOURCE_TESTS) / ".." / "resources" /
                                          "HeaderFile.cfg");
  const std::size_t records = bytes.size() / kFileTypeRecordSize;
  ASSERT_GT(records, 2u);
  int moved = 0;
  for (std::size_t i = 0; i < records; ++i) {
    char* r = bytes.data() + i * kFileTypeRecordSize;
    const unsigned id = static_cast<std::uint8_t>(r[1069]) | static_cast<std::uint8_t>(r[1070]) << 8;
    if (id != 128 && id != 132) continue;
    ASSERT_EQ(r[1052], 4) << "the preset signature of type " << id;
    r[1048] = static_cast<char>(id == 128 ? 511 & 0xFF : 508 & 0xFF);
    r[1049] = static_cast<char>((id == 128 ? 511 : 508) >> 8);
    ++moved;
  }
  ASSERT_EQ(moved, 2);
  std::filesystem::create_directories(dir / "install");
  ASSERT_TRUE(WriteFileAtomically(dir / "install" / "HeaderFile.cfg", bytes.data(), bytes.size()));
  app.LoadUserHeaders();
  ASSERT_EQ(app.m_fileTypeList.size(), records);
  bool docx = false, xlsx = false;
  for (const FileTypeRecord& r : app.m_fileTypeList) {
    if (r.typeId == 128) docx = r.headerOffset == 511 && !SignatureInFirstSector(r);
    if (r.typeId == 132) xlsx = r.headerOffset == 508 && SignatureInFirstSector(r);
  }
  EXPECT_TRUE(docx);
  EXPECT_TRUE(xlsx);
  ASSERT_TRUE(app.SaveUserHeaders());
  EXPECT_TRUE(test::ReadWholeFile(app.HeaderFileToWrite()) == bytes);
}

TEST_F(AppStateTest, EditedSignatureFileWinsAndEmptyOneLoadsNothing) {
  std::filesystem::create_directories(dir / "install");
  ASSERT_TRUE(WriteFileTypeRecords(dir / "install" / "HeaderFile.cfg", {Type(1, 0, u"a")}));
  ASSERT_TRUE(WriteFileTypeRecords(app.HeaderFileToWrite(), {}));
  app.LoadUserHeaders();
  EXPECT_TRUE(app.m_fileTypeList.empty());
}

TEST_F(AppStateTest, SelectionFallsBackToTheDefaultTypesOnlyWhenSetRawIsZero) {
  const std::vector<FileTypeRecord> all{Type(14, 0, u"jpg"), Type(20, 0, u"xyz"), Type(165, 0, u"avi"),
                                        Type(52, 0, u"zip")};
  app.m_fileTypeList = all;
  app.BuildSelectedTypeList();  // nothing selected, SetRaw defaults to 1
  EXPECT_TRUE(app.m_selectedTypeList.empty());
  EXPECT_EQ(app.m_nSetRaw, 1u);

  app.GetProfile().WriteInt("Raw", "SetRaw", 0);
  app.m_fileTypeList = all;
  app.BuildSelectedTypeList();
  ASSERT_EQ(app.m_selectedTypeList.size(), 3u);
  EXPECT_EQ(app.m_selectedTypeList[0].typeId, 14);
  EXPECT_EQ(app.m_selectedTypeList[1].typeId, 165);
  EXPECT_EQ(app.m_selectedTypeList[2].typeId, 52);
  EXPECT_TRUE(app.m_fileTypeList.empty());  // freed, to be built again
}

TEST_F(AppStateTest, SelectedTypesAreCopiedInListOrder) {
  app.m_fileTypeList = {Type(30, 1, u"a"), Type(31, 0, u"b"), Type(32, 1, u"c")};
  app.BuildSelectedTypeList();
  ASSERT_EQ(app.m_selectedTypeList.size(), 2u);
  EXPECT_EQ(app.m_selectedTypeList[0].extension, u"a");
  EXPECT_EQ(app.m_selectedTypeList[1].extension, u"c");
  EXPECT_EQ(app.m_fileTypeList.size(), 3u);
}

}  // namespace
}  // namespace corvan
