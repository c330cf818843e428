#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "console/DateFilters.h"
#include "console/FileTypeCategory.h"
#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"
#include "console/SaveSpaceCheck.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

// A DOS date word and time word packed as the FAT engine stores them.
constexpr std::uint16_t DosDate(int y, int m, int d) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
constexpr std::uint16_t DosTime(int h, int m, int s) { return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2)); }
std::uint64_t FatStamp(std::uint16_t date, std::uint16_t time) { return (std::uint64_t{date} << 32) | time; }
std::uint64_t ExFatStamp(std::uint16_t date, std::uint16_t time) {
  return std::uint64_t{(std::uint32_t{date} << 16) | time} << 32;
}

class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(ItemTexts, DatesOfTheThreeEnginesAndStampsWithoutADate) {
  // FAT: 2024-03-15 13:45:30.
  EXPECT_EQ(FormatItemTime(FatStamp(DosDate(2024, 3, 15), DosTime(13, 45, 30)), StampKind::Fat), "03-15-2024 13:45:30");
  // FILETIME 131722848000000000 = 2018-06-01 00:00:00 UTC (from the format's
  // definition: 100-ns intervals since 1601-01-01).
  EXPECT_EQ(FormatItemTime(131722848000000000ull, StampKind::Ntfs), "06-01-2018 00:00:00");
  EXPECT_EQ(FormatItemTime(116444736000000000ull, StampKind::Ntfs), "01-01-1970 00:00:00");
  {
    // exFAT stamps are local time and shown in UTC: two hours east of UTC,
    // 10:00 local is 08:00.
    TimeZone east("XYZ-2");
    EXPECT_EQ(FormatItemTime(ExFatStamp(DosDate(2021, 7, 4), DosTime(10, 0, 0)), StampKind::ExFat),
              "07-04-2021 08:00:00");
  }
  // The four bytes at 49 zero: no date.
  EXPECT_EQ(FormatItemTime(DosTime(12, 0, 0), StampKind::Fat), "--------");
  EXPECT_EQ(FormatItemTime(0x0000000012345678ull, StampKind::Ntfs), "--------");
  // Fields out of range are no date either (month 13, day 0, hour 25, 31 April).
  EXPECT_EQ(FormatItemTime(FatStamp(DosDate(2024, 13, 1), 0), StampKind::Fat), "--------");
  EXPECT_EQ(FormatItemTime(FatStamp(DosDate(2024, 5, 0), 0), StampKind::Fat), "--------");
  EXPECT_EQ(FormatItemTime(FatStamp(DosDate(2024, 5, 1), DosTime(25, 0, 0)), StampKind::Fat), "--------");
  EXPECT_EQ(FormatItemTime(FatStamp(DosDate(2024, 4, 31), 0), StampKind::Fat), "--------");
  EXPECT_EQ(FormatItemTime(0x8000000000000000ull, StampKind::Ntfs), "--------");
  EXPECT_EQ(FormatItemTime(ExFatStamp(0, 0x1234), StampKind::ExFat), "--------");
}

TEST(ItemTexts, DatesSortOnTheirValueAndStampsWithoutADateSortFirst) {
  const auto v = [](int y, int m, int d, int h) { return ItemTimeSortValue(FatStamp(DosDate(y, m, d), DosTime(h, 0, 0)), StampKind::Fat); };
  // The cell texts "12-31-2019" and "01-01-2020" sort the wrong way round as text.
  EXPECT_LT(v(2019, 12, 31, 23), v(2020, 1, 1, 0));
  EXPECT_LT(v(2020, 2, 28, 0), v(2020, 2, 29, 0));
  EXPECT_LT(ItemTimeSortValue(0, StampKind::Fat), v(1980, 1, 1, 0));
  EXPECT_LT(ItemTimeSortValue(116444736000000000ull, StampKind::Ntfs),
            ItemTimeSortValue(131722848000000000ull, StampKind::Ntfs));
}

TEST(ItemTexts, TypeSizeAndIdCells) {
  FoundItemInfo r;
  r.attribute = kItemFolder;
  EXPECT_EQ(ItemTypeText(r), "Folder");
  EXPECT_EQ(ItemSizeText(r), "0");
  r.flags = kItemDeleted;
  EXPECT_EQ(ItemTypeText(r), "Deleted Folder");
  r.attribute = kItemFile;
  r.flags = kItemDeleted | kItemCompressed;
  r.size = 5368709120ull;  // above 4 GB
  EXPECT_EQ(ItemTypeText(r), "Compressed Deleted File");
  EXPECT_EQ(ItemSizeText(r), "5368709120");
  EXPECT_EQ(TypeTextColour(ItemTypeText(r)), 0xFF0000u);
  r.flags = kItemCompressed | kItemEncrypted;
  EXPECT_EQ(ItemTypeText(r), "Encrypted File");
  EXPECT_EQ(TypeTextColour(ItemTypeText(r)), 0x0D9213u);
  r.flags = 0;
  EXPECT_EQ(ItemTypeText(r), "File");
  EXPECT_FALSE(TypeTextColour("File"));
  EXPECT_EQ(ItemIdText(42), "     42");
  EXPECT_EQ(ItemIdText(4294967295u), "4294967295");
}

TEST(ItemTexts, StatusLines) {
  EXPECT_EQ(FormatStatusLine(StatusPrefix::Total, 2048, 2, 1), "Total 2.00 KB in 2 file(s) in 1 folder(s)");
  EXPECT_EQ(FormatStatusLine(StatusPrefix::Total, 1572864, 12, 3), "Total 1.50 MB in 12 file(s) in 3 folder(s)");
  EXPECT_EQ(FormatStatusLine(StatusPrefix::Marked, 0, 0, 0), "Marked 0.00 bytes in 0 file(s) in 0 folder(s)");
}

TEST(FileTypeCategory, TheTableWithItsLaterEntriesWinning) {
  EXPECT_EQ(GetFileTypeCategory(u"jpg"), kCategoryGraphics);
  EXPECT_EQ(GetFileTypeCategory(u"JPG"), 0);  // the comparison is exact
  EXPECT_EQ(GetFileTypeCategory(u"docx"), kCategoryDocuments);
  EXPECT_EQ(GetFileTypeCategory(u"wav"), kCategoryAudio);
  EXPECT_EQ(GetFileTypeCategory(u"swf"), kCategoryVideo);
  EXPECT_EQ(GetFileTypeCategory(u"xml"), kCategoryText);
  EXPECT_EQ(GetFileTypeCategory(u"r00"), kCategoryArchive);
  EXPECT_EQ(GetFileTypeCategory(u"r29"), kCategoryArchive);
  EXPECT_EQ(GetFileTypeCategory(u"r30"), 0);
  EXPECT_EQ(GetFileTypeCategory(u"bat"), kCategoryApplication);
  EXPECT_EQ(GetFileTypeCategory(u"csv"), kCategoryDatabase);
  EXPECT_EQ(GetFileTypeCategory(u"js"), kCategoryInternet);
  EXPECT_EQ(GetFileTypeCategory(u"NoExt"), kCategoryMiscellaneous);
  EXPECT_EQ(GetFileTypeCategory(u"dat"), 0);
  EXPECT_EQ(ExtensionKey(u"Photo.JPEG"), u"jpeg");
  EXPECT_EQ(ExtensionKey(u"archive.tar.GZ"), u"gz");
  EXPECT_EQ(ExtensionKey(u"README"), u"NoExt");
  EXPECT_EQ(ExtensionKey(u"name."), u"");
  EXPECT_EQ(ExtensionKey(u"Ärger.ÄÖÜ"), u"äöü");
}

TEST(DateFilters, CutOffsCountedBackFromToday) {
  const DayDate march15{15, 3, 2026};
  EXPECT_TRUE(IsWithinLastDays(365, 15, 3, 2025, march15));
  EXPECT_FALSE(IsWithinLastDays(365, 14, 3, 2025, march15));
  const DayDate jan15{15, 1, 2026};
  EXPECT_TRUE(IsWithinLastDays(60, 15, 11, 2025, jan15));
  EXPECT_FALSE(IsWithinLastDays(60, 14, 11, 2025, jan15));
  EXPECT_TRUE(IsWithinLastDays(60, 31, 12, 2026, jan15));
  EXPECT_FALSE(IsWithinLastDays(60, 1, 1, 2027, jan15));
  const DayDate march10{10, 3, 2026};
  EXPECT_TRUE(IsWithinLastMonths(3, 10, 12, 2025, march10));
  EXPECT_FALSE(IsWithinLastMonths(3, 9, 12, 2025, march10));
  EXPECT_TRUE(IsWithinLastMonths(3, 1, 1, 2026, march10));
  // Seven days back across a month end (30-day months).
  EXPECT_TRUE(IsWithinLastDays(7, 28, 2, 2026, DayDate{3, 3, 2026}));
  EXPECT_FALSE(IsWithinLastDays(7, 25, 2, 2026, DayDate{3, 3, 2026}));
}

TEST(SaveSpaceCheck, RequiredBytesAndTheMessage) {
  FoundItemStore store;
  store.OnInsertRootItem(5);
  FoundItemInfo r;
  r.attribute = kItemFile;
  r.parentId = 5;
  r.flags = kItemDeleted;
  r.itemId = 10;
  r.size = 1 << 20;
  store.OnAddFoundItem(r, u"a");
  r.itemId = 11;
  r.size = 3 << 20;
  store.OnAddFoundItem(r, u"b");
  r.itemId = 12;
  r.flags = 0;
  r.size = 5 << 20;
  const auto live = store.OnAddFoundItem(r, u"c");

  EXPECT_EQ(RequiredSaveBytes(store, kViewClassic, true, 2, 9 << 20), 4u << 20);
  EXPECT_EQ(RequiredSaveBytes(store, kViewClassic, true, 1, 9 << 20), 9u << 20);
  EXPECT_EQ(RequiredSaveBytes(store, kViewClassic, true, 0, 9 << 20), 5u << 20);
  // Deleted sizes above the engine's total do not wrap around.
  EXPECT_EQ(RequiredSaveBytes(store, kViewClassic, true, 0, 1 << 20), 0u);
  store.ClickListCheck(kViewClassic, store.Root(), live);
  EXPECT_EQ(RequiredSaveBytes(store, kViewClassic, false, 0, 0), 5u << 20);

  const auto text = CheckSaveSpace(4u << 20, 3u << 20, false);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "Insufficient drive space at destination location.\n\nRequired space:\t       4 MB\n"
            "Available space:\t       3 MB");
  EXPECT_FALSE(CheckSaveSpace(4u << 20, 3u << 20, true));  // FTP: not checked here
  EXPECT_FALSE(CheckSaveSpace(3u << 20, 3u << 20, false));
  EXPECT_TRUE(AvailableBytesAt("/tmp/a/folder/that/does/not/exist/yet"));
}

TEST(SaveSpaceCheck, ADestinationThatCannotBeWrittenIsToldAsSuchAndLeftAsItWas) {
  test::TempDir dir;
  // A folder that does not exist yet is fine where its parent can be written.
  EXPECT_FALSE(CheckDestinationWritable(dir / "new" / "deeper"));
  EXPECT_FALSE(std::filesystem::exists(dir / "new")) << "the check makes nothing";
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the check leaves nothing";
  // A pseudo file system takes no files, whoever asks (root included).
  const auto proc = CheckDestinationWritable("/proc/recovered");
  ASSERT_TRUE(proc);
  EXPECT_EQ(proc->rfind("The destination cannot be written:\n/proc/recovered", 0), 0u) << *proc;
  // A file where the folder would go.
  test::WriteWholeFile(dir / "file", "x");
  const auto file = CheckDestinationWritable(dir / "file" / "out");
  ASSERT_TRUE(file);
  EXPECT_NE(file->find("is not a folder"), std::string::npos) << *file;
  // A read-only folder stops anyone but root.
  std::filesystem::create_directory(dir / "ro");
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::geteuid() != 0) EXPECT_TRUE(CheckDestinationWritable(dir / "ro"));
}

}  // namespace
}  // namespace corvan
