// The file mask: pattern lists as the mask box splits them, the extension
// test, the size and date tests with their edge cases, the filtered tree it
// builds in the store (folders copied once, matches in the root under the
// root, a chain that loops cut), check states in the filtered view, and the
// mask thread's life.

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "console/CThreadForMask.h"
#include "console/FileMask.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "support/HeadlessScan.h"
#include "app/CORVANApp.h"
#include "app/SourceSetup.h"
#include "core/RecoveryMode.h"

namespace corvan {
namespace {

constexpr DayDate kToday{15, 3, 2026};

// DOS stamps as a FAT record keeps them: time word low, date word high.
std::uint64_t FatStamp(int year, int month, int day) {
  const auto date = static_cast<std::uint64_t>(((year - 1980) << 9) | (month << 5) | day);
  return date << 32 | (12u << 11);
}
// An exFAT record: the 32-bit DOS date-time (date high) in the high half.
std::uint64_t ExFatStamp(int year, int month, int day) { return FatStamp(year, month, day) << 16; }
// A FILETIME at noon UTC: 100-ns units since 1601-01-01.
std::uint64_t FileTimeOf(int year, int month, int day) {
  const std::int64_t daysFrom1601 = DateToSeconds(year, month, day) / 86400 + 109205;  // 1601-01-01 .. 1899-12-30
  return static_cast<std::uint64_t>(daysFrom1601 * 86400 + 43200) * 10000000ull;
}

FoundItemInfo File(std::uint64_t size, std::uint8_t flags = 0) {
  FoundItemInfo r;
  r.attribute = kItemFile;
  r.size = size;
  r.flags = flags;
  return r;
}

TEST(MaskPatterns, SplitAtSemicolonsAndCommasKeepingBlanks) {
  using P = std::vector<std::u16string>;
  EXPECT_EQ(SplitMaskPatterns(u"*.jpg,*.gif"), (P{u"*.jpg", u"*.gif"}));
  EXPECT_EQ(SplitMaskPatterns(u"*.jpg;*.gif"), (P{u"*.jpg", u"*.gif"}));
  // A blank after a separator starts the next pattern, which then matches nothing.
  EXPECT_EQ(SplitMaskPatterns(u"*.jpg; *.gif"), (P{u"*.jpg", u" *.gif"}));
  EXPECT_EQ(SplitMaskPatterns(u"*.a;;*.b"), (P{u"*.a", u"", u"*.b"}));
  EXPECT_EQ(SplitMaskPatterns(u"*.a;"), (P{u"*.a"}));
  EXPECT_TRUE(SplitMaskPatterns(u"*").empty());
  // Long texts are bounded: 1023 characters split, 255 per pattern.
  const std::u16string longPattern = u"*." + std::u16string(400, u'x');
  const P bounded = SplitMaskPatterns(longPattern + u";*.txt");
  ASSERT_EQ(bounded.size(), 2u);
  EXPECT_EQ(bounded[0].size(), kMaskPatternLimit);
  EXPECT_EQ(SplitMaskPatterns(std::u16string(2000, u';')).size(), kMaskTextLimit);
}

TEST(MaskPatterns, TheExtensionIsComparedWholeAndWithoutCase) {
  const auto split = [](std::u16string_view t) { return SplitMaskPatterns(t); };
  EXPECT_TRUE(MatchesMaskList(u"photo.jpg", split(u"*.jpg;*.gif"), false));
  EXPECT_TRUE(MatchesMaskList(u"anim.gif", split(u"*.jpg,*.gif"), false));
  EXPECT_TRUE(MatchesMaskList(u"photo.jpg", split(u"*.JPG"), false));
  EXPECT_FALSE(MatchesMaskList(u"photo.jpg", split(u"*.JPG"), true));
  // A longer first pattern still matches whole, not as a prefix.
  EXPECT_TRUE(MatchesMaskList(u"a.jpeg", split(u"*.jpeg;*.jp"), false));
  EXPECT_FALSE(MatchesMaskList(u"a.jpg", split(u"*.jpeg;*.jp"), false));
  EXPECT_TRUE(MatchesMaskList(u"a.jp", split(u"*.jpeg;*.jp"), false));
  // An asterisk after "*." is an ordinary character; the last '.' counts.
  EXPECT_FALSE(MatchesMaskList(u"a.jpg", split(u"*.j*"), false));
  EXPECT_TRUE(MatchesMaskList(u"file.with.dots.txt", split(u"*.txt"), false));
  EXPECT_FALSE(MatchesMaskList(u"README", split(u"*.txt"), false));
  EXPECT_FALSE(MatchesMaskList(u"a.gif", split(u"*.jpg; *.gif"), false));
  EXPECT_TRUE(MatchesMaskList(u"anything", {}, false));
}

TEST(MaskDates, DateToSecondsCountsFromTheOleEpoch) {
  EXPECT_EQ(DateToSeconds(1899, 12, 30), 0);
  EXPECT_EQ(DateToSeconds(1900, 1, 1), 2 * 86400);
  // 1 January 2000 is OLE automation date 36526.
  EXPECT_EQ(DateToSeconds(2000, 1, 1), 36526LL * 86400);
  EXPECT_LT(DateToSeconds(1899, 12, 29), 0);
}

TEST(MaskCriteriaTest, NamesStateAndSizeBounds) {
  MaskCriteria c;
  c.m_maskPatterns = SplitMaskPatterns(u"*.*");
  const FoundItemInfo live = File(100), gone = File(100, kItemDeleted);
  // "*.*" passes every name, a file without extension included; other masks
  // never pass one.
  EXPECT_TRUE(PassesFileMask(live, u"README", c, StampKind::Ntfs, kToday));
  c.m_maskPatterns = SplitMaskPatterns(u"*.txt;*.doc");
  EXPECT_FALSE(PassesFileMask(live, u"README", c, StampKind::Ntfs, kToday));
  EXPECT_TRUE(PassesFileMask(live, u"a.TXT", c, StampKind::Ntfs, kToday));

  c.m_bMaskExisting = false;  // deleted only
  EXPECT_FALSE(PassesFileMask(live, u"a.txt", c, StampKind::Ntfs, kToday));
  EXPECT_TRUE(PassesFileMask(gone, u"a.txt", c, StampKind::Ntfs, kToday));
  c.m_bMaskExisting = true;
  c.m_bMaskDeleted = false;  // existing only
  EXPECT_TRUE(PassesFileMask(live, u"a.txt", c, StampKind::Ntfs, kToday));
  EXPECT_FALSE(PassesFileMask(gone, u"a.txt", c, StampKind::Ntfs, kToday));
  c.m_bMaskDeleted = true;

  // Both bounds inclusive.
  c.m_bMaskSizeMin = c.m_bMaskSizeMax = true;
  c.m_nMaskSizeMin = 10 * 1024;
  c.m_nMaskSizeMax = 20 * 1024;
  for (std::uint64_t size : {10 * 1024ull, 15000ull, 20 * 1024ull})
    EXPECT_TRUE(PassesFileMask(File(size), u"a.txt", c, StampKind::Ntfs, kToday)) << size;
  for (std::uint64_t size : {10 * 1024ull - 1, 20 * 1024ull + 1, 0ull})
    EXPECT_FALSE(PassesFileMask(File(size), u"a.txt", c, StampKind::Ntfs, kToday)) << size;
}

TEST(MaskCriteriaTest, DateRangeInclusiveInEitherOrderWithYearZeroForToday) {
  MaskCriteria c;
  c.m_bMaskByModified = true;
  c.m_bMaskBetween = true;
  c.m_dtMaskFrom = {10, 3, 2026};
  c.m_dtMaskTo = {1, 3, 2026};  // reversed
  const struct {
    StampKind kind;
    std::uint64_t (*stamp)(int, int, int);
  } kinds[] = {{StampKind::Fat, FatStamp}, {StampKind::ExFat, ExFatStamp}, {StampKind::Ntfs, FileTimeOf}};
  for (const auto& k : kinds) {
    FoundItemInfo r = File(1);
    for (int day : {1, 5, 10}) {
      r.modifiedTime = k.stamp(2026, 3, day);
      EXPECT_TRUE(PassesFileMask(r, u"a.txt", c, k.kind, kToday)) << day;
    }
    for (auto [month, day] : {std::pair{2, 28}, std::pair{3, 11}}) {
      r.modifiedTime = k.stamp(2026, month, day);
      EXPECT_FALSE(PassesFileMask(r, u"a.txt", c, k.kind, kToday)) << month << "/" << day;
    }
    // The created time is not what this mask reads.
    r.modifiedTime = k.stamp(2026, 4, 1);
    r.creationTime = k.stamp(2026, 3, 5);
    EXPECT_FALSE(PassesFileMask(r, u"a.txt", c, k.kind, kToday));
  }
  // A bound of year 0 is today (15 March): 10 .. 15 March.
  c.m_dtMaskTo = {};
  FoundItemInfo r = File(1);
  r.modifiedTime = FatStamp(2026, 3, 15);
  EXPECT_TRUE(PassesFileMask(r, u"a.txt", c, StampKind::Fat, kToday));
  r.modifiedTime = FatStamp(2026, 3, 16);
  EXPECT_FALSE(PassesFileMask(r, u"a.txt", c, StampKind::Fat, kToday));
}

TEST(MaskCriteriaTest, LastDaysAndMonthsAndDatesThatCannotBeRead) {
  MaskCriteria c;
  c.m_bMaskByCreated = true;
  c.m_bMaskInLastDays = true;
  c.m_nMaskDays = 365;
  FoundItemInfo r = File(1);
  // 365 days before 15 March 2026 is 15 March 2025.
  r.creationTime = FileTimeOf(2025, 3, 15);
  EXPECT_TRUE(PassesFileMask(r, u"a", c, StampKind::Ntfs, kToday));
  r.creationTime = FileTimeOf(2025, 3, 14);
  EXPECT_FALSE(PassesFileMask(r, u"a", c, StampKind::Ntfs, kToday));
  // N of 0 is no test at all.
  c.m_nMaskDays = 0;
  EXPECT_TRUE(PassesFileMask(r, u"a", c, StampKind::Ntfs, kToday));

  c.m_bMaskInLastDays = false;
  c.m_bMaskInLastMonths = true;
  c.m_nMaskMonths = 3;  // from 15 December 2025 on
  r.creationTime = FileTimeOf(2025, 12, 15);
  EXPECT_TRUE(PassesFileMask(r, u"a", c, StampKind::Ntfs, kToday));
  r.creationTime = FileTimeOf(2025, 12, 14);
  EXPECT_FALSE(PassesFileMask(r, u"a", c, StampKind::Ntfs, kToday));

  // A stamp that holds no date (zero, a DOS month 13) fails a date test
  // rather than passing it, and passes when no date is tested.
  for (std::uint64_t bad : {0ull, (((2026ull - 1980) << 9) | (13 << 5) | 1) << 32}) {
    r.creationTime = bad;
    EXPECT_FALSE(PassesFileMask(r, u"a", c, StampKind::Fat, kToday));
    MaskCriteria noDate;
    EXPECT_TRUE(PassesFileMask(r, u"a", noDate, StampKind::Fat, kToday));
  }
  EXPECT_EQ(MaskProgressText({10, 2, 12, 0}), "Total 12 Entries processed in 10 file(s) in 2 folder(s)");
}

// root(5)
//  +- A(10) +- B(11) +- C(12): deep.txt, deep2.txt, skip.doc
//  +- D(20): d.txt (deleted), d.doc
//  +- top.txt
class FilteredViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.OnInsertRootItem(5);
    a = Folder(10, 5, u"A");
    b = Folder(11, 10, u"B");
    c = Folder(12, 11, u"C");
    deep = Add(100, 12, u"deep.txt", 1000);
    deep2 = Add(101, 12, u"deep2.txt", 2000);
    skip = Add(102, 12, u"skip.doc", 4000);
    d = Folder(20, 5, u"D");
    dtxt = Add(103, 20, u"d.txt", 10, kItemDeleted);
    ddoc = Add(104, 20, u"d.doc", 20);
    top = Add(105, 5, u"top.txt", 300);
  }
  FoundItemHandle Folder(std::uint32_t id, std::uint32_t parent, std::u16string_view name) {
    FoundItemInfo r;
    r.itemId = id;
    r.parentId = parent;
    r.attribute = kItemFolder;
    return store.OnAddFoundItem(r, name);
  }
  FoundItemHandle Add(std::uint32_t id, std::uint32_t parent, std::u16string_view name, std::uint64_t size,
                      std::uint8_t flags = 0) {
    FoundItemInfo r = File(size, flags);
    r.itemId = id;
    r.parentId = parent;
    return store.OnAddFoundItem(r, name);
  }
  MaskResults Mask(std::u16string_view text) {
    MaskCriteria criteria;
    criteria.m_maskPatterns = SplitMaskPatterns(text);
    std::atomic<std::uint32_t> abort{0};
    return ApplyFileMask(store, criteria, StampKind::Ntfs, kToday, abort);
  }
  // The filtered tree as "parent/child" names.
  std::set<std::u16string> Tree() const {
    std::set<std::u16string> out;
    for (const TreeEntry& e : store.TreeEntries(kViewFiltered, 0))
      out.insert((e.parent == kNoFoundItem ? u"" : store.NameOf(e.parent) + u"/") + e.name);
    return out;
  }
  bool Passed(FoundItemHandle h) const { return ViewByte(store.Record(h)) & kPassedMask; }

  FoundItemStore store;
  FoundItemHandle a{}, b{}, c{}, deep{}, deep2{}, skip{}, d{}, dtxt{}, ddoc{}, top{};
};

TEST_F(FilteredViewTest, MatchesAppearUnderCopiesOfTheirFoldersEachFolderOnce) {
  EXPECT_FALSE(store.FilterBuilt());
  const MaskResults r = Mask(u"*.txt");
  // Three folders for deep.txt, none more for deep2.txt, D for d.txt, and
  // top.txt directly under the root.
  EXPECT_EQ(Tree(), (std::set<std::u16string>{u"Root", u"Root/A", u"A/B", u"B/C", u"Root/D"}));
  EXPECT_EQ(r.m_nMaskFiles, 4u);
  EXPECT_EQ(r.m_nMaskFolders, 5u);  // the root, A, B, C, D
  EXPECT_EQ(r.m_nMaskItems, 9u);
  EXPECT_EQ(r.m_nMaskBytes, 1000u + 2000 + 10 + 300);
  EXPECT_EQ(store.ListOf(kViewFiltered, store.Root()), (std::vector<FoundItemHandle>{a, d, top}));
  EXPECT_EQ(store.ListOf(kViewFiltered, c), (std::vector<FoundItemHandle>{deep, deep2}));
  EXPECT_EQ(store.ListOf(kViewFiltered, d), (std::vector<FoundItemHandle>{dtxt}));
  // The classic view is untouched.
  EXPECT_EQ(store.ListOf(kViewClassic, c).size(), 3u);

  // A second mask starts over.
  const MaskResults again = Mask(u"*.doc");
  EXPECT_EQ(Tree(), (std::set<std::u16string>{u"Root", u"Root/A", u"A/B", u"B/C", u"Root/D"}));
  EXPECT_FALSE(Passed(deep));
  EXPECT_FALSE(Passed(top));
  EXPECT_TRUE(Passed(skip));
  EXPECT_EQ(again.m_nMaskFiles, 2u);
  EXPECT_EQ(Mask(u"*.png").m_nMaskItems, 1u);
  EXPECT_EQ(Tree(), (std::set<std::u16string>{u"Root"}));
  EXPECT_TRUE(store.FilterBuilt());
}

TEST_F(FilteredViewTest, FoldersThatNameEachOtherAsParentEndTheWalk) {
  // X and Y name each other as parent: they never join the classic tree.
  const FoundItemHandle x = Folder(30, 31, u"X");
  const FoundItemHandle y = Folder(31, 30, u"Y");
  const FoundItemHandle inX = Add(110, 30, u"inx.txt", 5);
  Mask(u"*.txt");
  EXPECT_TRUE(Passed(inX));
  EXPECT_TRUE(Passed(x));
  EXPECT_FALSE(Passed(y));
  EXPECT_TRUE(Tree().count(u"Root/X"));
  // After the pass they are lost folders, and the mask shows the way there.
  store.FinishPass();
  Mask(u"*.txt");
  EXPECT_TRUE(Passed(inX));
  EXPECT_EQ(store.ListOf(kViewFiltered, x), (std::vector<FoundItemHandle>{inX}));
  EXPECT_EQ(store.HolderOf(kViewFiltered, inX), x);
}

TEST_F(FilteredViewTest, AStopEndsTheWalkEarlyKeepingWhatWasBuilt) {
  for (std::uint32_t i = 0; i < 40000; ++i) Add(1000 + i, 12, u"many" + Utf8ToUtf16(std::to_string(i)) + u".txt", 1);
  MaskCriteria criteria;
  criteria.m_maskPatterns = {u"*.txt"};
  std::atomic<std::uint32_t> abort{0};
  int stretches = 0;
  const MaskResults r = ApplyFileMask(store, criteria, StampKind::Ntfs, kToday, abort, [&](const MaskResults&) {
    if (++stretches == 1) abort = 1;
  });
  EXPECT_EQ(stretches, 1);
  EXPECT_GT(r.m_nMaskFiles, 0u);
  EXPECT_LT(r.m_nMaskFiles, 40000u);
  EXPECT_TRUE(Tree().count(u"B/C"));
}

// Check states in the filtered view follow the check-state rules over the
// items that passed: hidden items keep their state and are not counted.
TEST_F(FilteredViewTest, CheckStatesAndCountsSeeOnlyWhatPassed) {
  store.ClickTreeCheck(kViewClassic, c);  // the classic view's own marks
  Mask(u"*.txt");
  EXPECT_EQ(store.Selection(kViewFiltered), SelectionCounts{});
  EXPECT_EQ(store.CheckState(kViewFiltered, deep), kUnchecked);
  EXPECT_EQ(store.CheckState(kViewFiltered, skip), 0);  // not in the view

  // C checked: its two matches checked, skip.doc stays out; C's ancestors
  // hold only checked items, so they are checked too, up to the root,
  // which still holds D and top.txt unchecked: mixed.
  store.ClickTreeCheck(kViewFiltered, c);
  EXPECT_EQ(store.CheckState(kViewFiltered, deep), kChecked);
  EXPECT_EQ(store.CheckState(kViewFiltered, deep2), kChecked);
  EXPECT_EQ(store.CheckState(kViewFiltered, skip), 0);
  EXPECT_EQ(store.CheckState(kViewFiltered, b), kChecked);
  EXPECT_EQ(store.CheckState(kViewFiltered, a), kChecked);
  EXPECT_EQ(store.CheckState(kViewFiltered, store.Root()), kMixed);
  const SelectionCounts afterC{4, 2, 3000};  // the root (mixed), A, B, C; two files
  EXPECT_EQ(store.Selection(kViewFiltered), afterC);
  EXPECT_EQ(store.CountCheckedFiles(kViewFiltered), afterC);
  EXPECT_EQ(store.CountRecoverableFiles(kViewFiltered), 2u);
  // Unchecking one file in the list makes its folder and all above mixed.
  store.ClickListCheck(kViewFiltered, c, deep2);
  for (FoundItemHandle h : {c, b, a, store.Root()}) EXPECT_EQ(store.CheckState(kViewFiltered, h), kMixed);
  EXPECT_EQ(store.CountCheckedFiles(kViewFiltered), (SelectionCounts{4, 1, 1000}));

  // The root checks every item of the view and nothing hidden.
  store.ClickTreeCheck(kViewFiltered, store.Root());  // mixed -> unchecked
  EXPECT_EQ(store.Selection(kViewFiltered), SelectionCounts{});
  store.ClickTreeCheck(kViewFiltered, store.Root());
  const SelectionCounts all{5, 4, 3310};
  EXPECT_EQ(store.Selection(kViewFiltered), all);
  EXPECT_EQ(store.CountCheckedFiles(kViewFiltered), all);
  EXPECT_EQ(store.CheckState(kViewFiltered, skip), 0);
  EXPECT_EQ(store.CheckState(kViewFiltered, ddoc), 0);
  EXPECT_EQ(store.CountDeletedFiles(kViewFiltered), 1u);
  // The classic marks were not touched by any of it.
  EXPECT_EQ(store.CheckState(kViewClassic, skip), kChecked);
  EXPECT_EQ(store.CheckState(kViewClassic, top), kUnchecked);
  // A new mask zeroes the view's marks.
  Mask(u"*.txt");
  EXPECT_EQ(store.Selection(kViewFiltered), SelectionCounts{});
  EXPECT_EQ(store.CheckState(kViewFiltered, deep), kUnchecked);
}

// Holds the worker in OnMaskStarted until released.
class HeldSink : public MaskSink {
 public:
  void OnMaskStarted() override {
    std::unique_lock lock(m);
    started = true;
    cv.notify_all();
    cv.wait(lock, [this] { return released; });
  }
  void OnMaskProgress(const std::string& text) override { last = text; }
  void OnMaskEnded(const MaskResults& r) override { ended = r.m_nMaskFiles + 1; }
  void WaitStarted() {
    std::unique_lock lock(m);
    cv.wait(lock, [this] { return started; });
  }
  void Release() {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  bool started = false, released = false;
  std::string last;
  std::atomic<std::uint32_t> ended{0};
};

TEST_F(FilteredViewTest, TheMaskThreadRefusesASecondMaskEndsAndIsJoined) {
  std::atomic<std::uint32_t> busy{0}, abort{1}, running{0};
  HeldSink sink;
  MaskCriteria criteria;
  criteria.m_maskPatterns = {u"*.txt"};
  const auto job = [&] {
    return MaskJob{.store = store, .criteria = criteria, .stamps = StampKind::Ntfs, .busy = busy, .abort = abort,
                   .maskRunning = running, .resetScanState = {}, .sink = &sink};
  };
  CThreadForMask first(job());
  ASSERT_TRUE(first.Start());
  sink.WaitStarted();
  EXPECT_EQ(busy.load(), 1u);
  EXPECT_EQ(abort.load(), 0u);
  EXPECT_EQ(running.load(), 1u);
  CThreadForMask second(job());
  EXPECT_FALSE(second.Start());
  EXPECT_FALSE(second.IsRunning());
  sink.Release();
  first.Join();
  EXPECT_FALSE(first.IsRunning());
  EXPECT_EQ(sink.ended.load(), 5u);
  EXPECT_EQ(sink.last, "Total 9 Entries processed in 4 file(s) in 5 folder(s)");
  EXPECT_EQ(busy.load() | abort.load() | running.load(), 0u);
  // Once it ended, the next one runs.
  CThreadForMask third(job());
  sink.Release();
  EXPECT_TRUE(third.Start());
  third.Join();
}

TEST_F(FilteredViewTest, AStopAskedAsTheMaskThreadStartsIsKept) {
  std::atomic<std::uint32_t> busy{0}, abort{1}, running{0};
  HeldSink sink;
  MaskCriteria criteria;
  criteria.m_maskPatterns = {u"*.txt"};
  CThreadForMask mask(MaskJob{.store = store, .criteria = criteria, .stamps = StampKind::Ntfs, .busy = busy,
                              .abort = abort, .maskRunning = running, .resetScanState = {}, .sink = &sink});
  ASSERT_TRUE(mask.Start());
  // The flags are up, and an earlier stop cleared, when Start returns...
  EXPECT_EQ(busy.load(), 1u);
  EXPECT_EQ(abort.load(), 0u);
  EXPECT_EQ(running.load(), 1u);
  // ...so a Stop from here on, whether the thread runs yet or not, ends the
  // walk before its first item.
  abort = 1;
  sink.Release();
  mask.Join();
  EXPECT_EQ(sink.ended.load(), 1u);
  EXPECT_EQ(busy.load() | abort.load() | running.load(), 0u);
}

// Raw Recovery's type folders are ordinary folders of the store: a mask
// over a raw scan of the corpus FAT16 volume shows the type folders that
// hold matches, and every file of the store whose extension matches.
TEST(FilteredViewRaw, AMaskOverARawScanShowsItsTypeFolders) {
  test::TempDir home;
  test::UserFolders folders(home.path());
  CORVANApp app(home / "settings.ini", home.path());
  const std::filesystem::path image = test::CorpusDir() / "disks" / "mbr-fixed.vhd";
  ASSERT_TRUE(MountAndListSources(app, ImageTypeForPath(image), image).mounted);
  const SourceRecord* fat16 = SelectSource(app, 4);
  ASSERT_NE(fat16, nullptr);
  test::VolumeScan scan;
  for (const FileTypeRecord& t : ReadFileTypeRecords(std::filesystem::path(CORVAN_SOURCE_TESTS) / ".." /
                                                     "resources" / "HeaderFile.cfg"))
    if (t.selected) scan.host.SelectedTypeList().push_back(t);
  scan.Run(*fat16, app.m_pDisk, kModeRaw);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  FoundItemStore& store = scan.store;
  store.FinishPass();

  std::set<FoundItemHandle> wantFiles, wantFolders;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) {
    const StoredItem item = store.Item(h);
    const std::string name = Utf16ToUtf8(item.name);
    if (item.record.IsFolder() || name.size() < 4 || name.substr(name.size() - 4) != ".jpg") continue;
    wantFiles.insert(h);
    for (FoundItemHandle f = store.FindFolder(item.record.parentId).value_or(0); f != 0; f = store.TreeParent(f))
      wantFolders.insert(f);
  }
  ASSERT_FALSE(wantFiles.empty()) << "the raw scan carved no jpg";
  MaskCriteria criteria;
  criteria.m_maskPatterns = SplitMaskPatterns(u"*.JPG");
  std::atomic<std::uint32_t> abort{0};
  const MaskResults r = ApplyFileMask(store, criteria, StampKind::Fat, TodayUtc(), abort);
  std::set<FoundItemHandle> gotFolders;
  for (const TreeEntry& e : store.TreeEntries(kViewFiltered, 1)) gotFolders.insert(e.item);
  EXPECT_EQ(gotFolders, wantFolders);
  EXPECT_EQ(r.m_nMaskFiles, wantFiles.size());
  for (FoundItemHandle h : wantFiles) {
    EXPECT_TRUE(ViewByte(store.Record(h)) & kPassedMask);
    // Each shows in its type folder: "jpg", or "jpg1", "jpg2", ... when one was full.
    const FoundItemHandle holder = store.HolderOf(kViewFiltered, h);
    ASSERT_TRUE(gotFolders.count(holder));
    EXPECT_EQ(Utf16ToUtf8(store.NameOf(holder)).rfind("jpg", 0), 0u) << Utf16ToUtf8(store.NameOf(holder));
  }
}

}  // namespace
}  // namespace corvan
