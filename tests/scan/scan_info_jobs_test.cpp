// Saving a scan and resuming from it: the resumed results window holds the
// same items as the scan's, read from the same image; a saved scan whose
// image is gone, or a damaged scan file, is refused with one message that
// says why, and nothing is posted; a scan whose image path the file cannot
// hold is not saved at all.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "console/FoundItemStore.h"
#include "console/SavedScanItems.h"
#include "core/HeadlessHost.h"
#include "engines/fat/FatEngine.h"
#include "platform/TextConv.h"
#include "scan/ScanInfoIndex.h"
#include "scan/ScanInfoJobs.h"
#include "sources/FatBootSector.h"
#include "sources/FileSectorSource.h"
#include "support/FatTestVolume.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

class SavedScanJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.path() / "fat16.img";
    fs::copy_file(test::CorpusDir() / "fat16.img", image_);
    h_.MountFile(image_);
    engine_ = h_.Engine(kFat16);
    ASSERT_EQ(engine_->ScanVolume(0), FatScanResult::Completed);
    sources_.push_back(std::make_unique<SourceRecord>(fattest::VolumeSource(0, h_.sectors, kFat16)));

    saved_ = dir_.path() / "scan.img";
    ASSERT_TRUE(SaveVolumeScan(saved_, Request(image_)));
  }

  ScanSaveRequest Request(const fs::path& image) {
    ScanSaveRequest request;
    request.engineKind = EngineKind::Fat;
    request.engine = engine_.get();
    request.sources = &sources_;
    request.selected = sources_.front().get();
    request.items = SavedScanItemsOf(h_.store);
    request.image = image;
    request.options.indexFile = dir_.path() / "index";
    return request;
  }

  ScanLoadResult Load() {
    host_.SetPrompt(&prompt_);
    ScanLoadRequest request{.host = host_,
                            .mount = [](const fs::path& image, std::uint8_t) -> std::shared_ptr<SectorSource> {
                              auto file = std::make_shared<test::FileSectorSource>(image);
                              return file->IsOpen() ? file : nullptr;
                            }};
    return LoadVolumeScan(saved_, request);
  }

  test::TempDir dir_;
  fattest::Harness h_;
  std::unique_ptr<FatEngine> engine_;
  std::vector<std::unique_ptr<SourceRecord>> sources_;
  fs::path image_, saved_;
  FoundItemStore store_;
  HeadlessHost host_{&store_, nullptr};
  test::RecordingPrompt prompt_;
};

TEST_F(SavedScanJobs, TheResumedWindowHoldsTheScansItemsAndTheirData) {
  ScanLoadResult loaded = Load();
  ASSERT_TRUE(loaded.ok) << loaded.message;
  EXPECT_TRUE(prompt_.texts.empty());
  EXPECT_EQ(host_.FromScanInfoFlag().load(), 1u);
  ASSERT_EQ(store_.Count(), h_.store.Count());
  for (FoundItemHandle i = 1; i < store_.Count(); ++i) {
    const StoredItem was = h_.store.Item(i), is = store_.Item(i);
    EXPECT_EQ(store_.PathOf(i), h_.store.PathOf(i));
    EXPECT_EQ(is.record.itemId, was.record.itemId);
    EXPECT_EQ(is.record.parentId, was.record.parentId);
    EXPECT_EQ(is.record.size, was.record.size);
    EXPECT_EQ(is.record.modifiedTime, was.record.modifiedTime);
    EXPECT_EQ(is.record.flags, was.record.flags);
    if (!is.record.IsFolder()) {
      EXPECT_EQ(fattest::ItemMd5(static_cast<FatEngine&>(*loaded.engine), is.record),
                fattest::ItemMd5(*engine_, was.record))
          << Utf16ToUtf8(store_.PathOf(i));
    }
  }
  // The engine counts the items it was handed as its own.
  EXPECT_EQ(loaded.engine->FoundItemCount(), store_.Count());
  ASSERT_TRUE(loaded.selected);
  EXPECT_EQ(loaded.sources.size(), 1u);
}

TEST_F(SavedScanJobs, AScanWhoseImageIsGoneIsRefusedWithOneMessage) {
  fs::remove(image_);
  const ScanLoadResult loaded = Load();
  EXPECT_FALSE(loaded.ok);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find(image_.string()), std::string::npos) << prompt_.texts[0];
  EXPECT_NE(host_.LogText().find(prompt_.texts[0]), std::string::npos);
  EXPECT_EQ(store_.Count(), 0u);
  EXPECT_EQ(host_.FromScanInfoFlag().load(), 0u);
}

TEST_F(SavedScanJobs, ADamagedOrMissingScanFileIsRefusedWithOneMessage) {
  fs::resize_file(saved_, fs::file_size(saved_) - 700);
  ScanLoadResult loaded = Load();
  EXPECT_FALSE(loaded.ok);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("not a usable scan information file"), std::string::npos) << prompt_.texts[0];
  EXPECT_EQ(store_.Count(), 0u);

  fs::remove(saved_);
  loaded = Load();
  EXPECT_FALSE(loaded.ok);
  ASSERT_EQ(prompt_.texts.size(), 2u);
  EXPECT_EQ(prompt_.texts[1], "Unable to open scan information file to resume recovery");
}

// The image field holds 260 UTF-16 units with the terminating NUL: a path of
// 259 units is saved and read back; one of 260, or one that is not UTF-8, is
// refused before any file is written or indexed.
TEST_F(SavedScanJobs, AnImagePathTheFileCannotHoldIsRefused) {
  const std::size_t indexed = ReadScanIndex(dir_.path() / "index").size();
  const fs::path fits = "/" + std::string(258, 'i');
  const fs::path atLimit = dir_.path() / "fits.img";
  ASSERT_TRUE(SaveVolumeScan(atLimit, Request(fits)));
  VolumeScanInfo back;
  ASSERT_TRUE(ReadVolumeScanFile(atLimit, back));
  EXPECT_EQ(back.header.imagePath, Utf8ToUtf16(fits.string()));
  EXPECT_EQ(ReadScanIndex(dir_.path() / "index").size(), indexed + 1);

  for (const fs::path& image : {fs::path("/" + std::string(259, 'i')), fs::path("/images/disk\xFF.vmdk")}) {
    const fs::path target = dir_.path() / "refused.img";
    const ScanInfoWriteResult saved = SaveVolumeScan(target, Request(image));
    EXPECT_FALSE(saved) << image;
    EXPECT_EQ(saved.error, ScanInfoError::PathNotStorable) << image;
    EXPECT_FALSE(fs::exists(target)) << image;
    EXPECT_EQ(ReadScanIndex(dir_.path() / "index").size(), indexed + 1) << image;
  }
  // Nothing half-written is left beside the target.
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

}  // namespace
}  // namespace corvan
