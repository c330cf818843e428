// Find: the pattern examples of its rules (plain text contained, '?' one
// character, '*' at least one, no '.' for the whole name), the splitting of
// the pattern list, the size and date tests, and the walk F3 and Shift+F3
// take over each view in found-item order, without wrapping.

#include <gtest/gtest.h>

#include "console/FileMask.h"
#include "console/FindCriteria.h"
#include "core/Prompt.h"
#include "core/StringTable.h"
#include "support/RecordingSinks.h"

namespace corvan {
namespace {

bool Finds(std::u16string_view pattern, std::u16string_view name, bool matchCase = false) {
  return NameMatchesPattern(pattern, name, matchCase);
}

TEST(FindPatterns, TheExamplesOfTheRules) {
  EXPECT_TRUE(Finds(u"*.txt", u"a.txt"));
  EXPECT_TRUE(Finds(u"*.txt", u"report.TXT"));
  EXPECT_TRUE(Finds(u"*.txt", u"a.txt", true));
  EXPECT_FALSE(Finds(u"*.txt", u"report.TXT", true));
  // No '.': the whole name; a plain text need only be contained in it.
  EXPECT_TRUE(Finds(u"rep", u"report.doc"));
  EXPECT_TRUE(Finds(u"report", u"report.doc"));
  EXPECT_TRUE(Finds(u"report", u"myreport.pdf"));
  EXPECT_FALSE(Finds(u"report.txt", u"report.doc"));
  EXPECT_TRUE(Finds(u"r?port.doc", u"report.doc"));
  EXPECT_FALSE(Finds(u"r?port.doc", u"rapport.doc"));
  EXPECT_TRUE(Finds(u"r?port", u"report"));
  EXPECT_FALSE(Finds(u"r?port", u"report.doc"));
  // '*' is at least one character.
  EXPECT_TRUE(Finds(u"*", u"x"));
  EXPECT_TRUE(Finds(u"*", u"report.doc"));
  EXPECT_TRUE(Finds(u"a*", u"a.txt"));
  EXPECT_FALSE(Finds(u"a*", u"a"));
  EXPECT_FALSE(Finds(u"ab*", u"ab"));
  EXPECT_TRUE(Finds(u"*.*", u"a.txt"));
  EXPECT_TRUE(Finds(u"*.*", u"README"));
  // The empty pattern finds every name.
  EXPECT_TRUE(Finds(u"", u"anything.at.all"));
  // Only ASCII letters compare without case.
  EXPECT_TRUE(Finds(u"ÜBER", u"über.txt", false) == false);
  EXPECT_TRUE(Finds(u"über", u"Überprüfung_4.jpg") == false);
  EXPECT_TRUE(Finds(u"berPRÜ", u"Überprüfung_4.jpg") == false);
  EXPECT_TRUE(Finds(u"BERprü", u"Überprüfung_4.jpg"));
}

TEST(FindPatterns, StarsWithOneOrMoreLiterals) {
  // One literal: at the start, at the end, or anywhere from its place on.
  EXPECT_TRUE(Finds(u"r*.doc", u"report.doc"));
  EXPECT_FALSE(Finds(u"r*.doc", u"xreport.doc"));
  EXPECT_TRUE(Finds(u"*t.doc", u"report.doc"));
  EXPECT_FALSE(Finds(u"*x.doc", u"report.doc"));
  EXPECT_TRUE(Finds(u"*p*.doc", u"report.doc"));
  EXPECT_TRUE(Finds(u"*r*.doc", u"report.doc"));     // the second 'r'
  EXPECT_FALSE(Finds(u"***e*.doc", u"report.doc"));  // the only 'e' lies before the literal's place
  EXPECT_TRUE(Finds(u"?*", u"ab"));
  // More: head and tail in place, the runs between in order, adjacent
  // characters adjacent.
  EXPECT_TRUE(Finds(u"re*rt.doc", u"report.doc"));
  EXPECT_FALSE(Finds(u"re*rx.doc", u"report.doc"));
  EXPECT_TRUE(Finds(u"r*po*t", u"report"));
  EXPECT_FALSE(Finds(u"r*op*t", u"report"));
  EXPECT_TRUE(Finds(u"d*a_*2.txt", u"data_32.txt"));
  EXPECT_TRUE(Finds(u"*a_3*", u"data_32.txt"));
  EXPECT_FALSE(Finds(u"*a_4*", u"data_32.txt"));
  EXPECT_TRUE(Finds(u"R*?E*.bmp", u"README_23.bmp"));
  // The extension: "*" or a '*' after its first character is any.
  EXPECT_TRUE(Finds(u"report.d*", u"report.txt"));
  EXPECT_TRUE(Finds(u"report.*", u"report"));
  EXPECT_TRUE(Finds(u"report.do?", u"report.doc"));
  EXPECT_FALSE(Finds(u"report.do?", u"report.docx"));
  // An empty extension part: any extension without Match Case, only an
  // empty one with it.
  EXPECT_TRUE(Finds(u"report.", u"report.doc"));
  EXPECT_FALSE(Finds(u"report.", u"report.doc", true));
  EXPECT_TRUE(Finds(u"report.", u"report", true));
  // Two dots: taken at the last one.
  EXPECT_TRUE(Finds(u"file.with.*", u"file.with.dots_24.tif"));
  EXPECT_TRUE(Finds(u"with.dots_24.tif", u"file.with.dots_24.tif"));
  // Long patterns are safe, whatever their stars.
  std::u16string longStar;
  for (int i = 0; i < 400; ++i) longStar += i % 3 ? u"a" : u"*";
  EXPECT_FALSE(Finds(longStar, u"aaaa"));
  EXPECT_TRUE(Finds(longStar, std::u16string(400, u'a')));
}

TEST(FindPatterns, SplittingThePatternList) {
  using P = std::vector<std::u16string>;
  EXPECT_EQ(SplitFindPatterns(u"a.txt; b.doc"), (P{u"a.txt", u"b.doc"}));
  EXPECT_EQ(SplitFindPatterns(u"x;;y"), (P{u"x", u"", u"y"}));
  EXPECT_EQ(SplitFindPatterns(u"*.doc ; *.xls"), (P{u"*.doc ", u"*.xls"}));
  EXPECT_EQ(SplitFindPatterns(u"a;b;"), (P{u"a", u"b"}));
  EXPECT_EQ(SplitFindPatterns(u";"), (P{u""}));
  EXPECT_TRUE(SplitFindPatterns(u"").empty());
  // Patterns past the 25th are ignored.
  std::u16string many;
  for (int i = 0; i < 40; ++i) many += u"p" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u";";
  const P first25 = SplitFindPatterns(many);
  ASSERT_EQ(first25.size(), kFindPatternSlots);
  EXPECT_EQ(first25.back(), u"pY");
  // The list keeps the ';' the split appended, as the box shows it back.
  FindCriteria c;
  c.SetNames(u"*.doc ; *.xls");
  EXPECT_EQ(c.m_strNames, u"*.doc ; *.xls;");
  EXPECT_FALSE(Finds(c.m_strPatterns[0], u"a.doc"));  // its trailing blank is part of the extension
  EXPECT_TRUE(Finds(c.m_strPatterns[0], u"a.doc "));
}

// root(5): a.txt(100 B) Docs(10)[ report.doc(2048, deleted) , B.TXT(1024) ]
//          notes.txt(5000) Lost(11)[ b.txt ]
// plus a FAT-style file whose id is 5 in a store whose root id is 0.
class FindWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SetGroupByType(true);
    store.OnInsertRootItem(5);
    a = Add(100, 5, kItemFile, u"a.txt", 100, Stamp(2026, 3, 1));
    docs = Add(10, 5, kItemFolder, u"Docs", 0, Stamp(2026, 3, 1));
    report = Add(101, 10, kItemFile, u"report.doc", 2048, Stamp(2026, 3, 10), kItemDeleted);
    bigB = Add(102, 10, kItemFile, u"B.TXT", 1024, Stamp(2026, 3, 12));
    notes = Add(103, 5, kItemFile, u"notes.txt", 5000, Stamp(2026, 2, 28));
    lost = Add(11, 5, kItemFolder, u"Lost", 0, 0);
    b = Add(104, 11, kItemFile, u"b.txt", 1, 0);
  }
  static std::uint64_t Stamp(int y, int m, int d) {  // a FILETIME at noon
    return static_cast<std::uint64_t>((DateToSeconds(y, m, d) / 86400 + 109205) * 86400 + 43200) * 10000000ull;
  }
  FoundItemHandle Add(std::uint32_t id, std::uint32_t parent, std::uint8_t attribute, std::u16string_view name,
                      std::uint64_t size, std::uint64_t modified, std::uint8_t flags = 0) {
    FoundItemInfo r;
    r.itemId = id;
    r.parentId = parent;
    r.attribute = attribute;
    r.size = size;
    r.modifiedTime = modified;
    r.creationTime = modified;
    r.flags = flags;
    return store.OnAddFoundItem(r, name);
  }
  FindView View(int view = kViewClassic) {
    return FindView{.store = store, .view = view, .stamps = StampKind::Ntfs, .today = {15, 3, 2026},
                    .prompt = &prompt, .active = &active, .show = [this](FoundItemHandle h) { shown.push_back(h); }};
  }
  // Every match in F3 order, after a new search.
  std::vector<FoundItemHandle> All(FindSearch& s, int view = kViewClassic) {
    shown.clear();
    const FindView v = View(view);
    for (bool more = s.Start(v); more; more = s.FindNext(v)) {
      // Each item is shown once at most: a walk that shows more does not end.
      if (shown.size() > store.Count()) {
        ADD_FAILURE() << "the search walk did not end";
        break;
      }
    }
    return shown;
  }
  FindSearch Search(std::u16string_view names) {
    FindSearch s;
    s.criteria.m_bDeleted = s.criteria.m_bExisting = true;
    s.criteria.SetNames(names);
    return s;
  }

  FoundItemStore store;
  test::RecordingPrompt prompt;
  bool active = false;
  std::vector<FoundItemHandle> shown;
  FoundItemHandle a{}, docs{}, report{}, bigB{}, notes{}, lost{}, b{};
};

TEST_F(FindWalk, F3AndShiftF3WalkTheMatchesInStoreOrderWithoutWrapping) {
  FindSearch s = Search(u"*.txt");
  const FindView v = View();
  ASSERT_TRUE(s.Start(v));
  EXPECT_TRUE(active);
  EXPECT_EQ(shown, (std::vector<FoundItemHandle>{a}));
  EXPECT_TRUE(s.FindNext(v));
  EXPECT_TRUE(s.FindNext(v));
  EXPECT_TRUE(s.FindNext(v));
  EXPECT_EQ(shown, (std::vector<FoundItemHandle>{a, bigB, notes, b}));
  // Shift+F3 goes back through the earlier matches.
  EXPECT_TRUE(s.FindPrevious(v));
  EXPECT_TRUE(s.FindPrevious(v));
  EXPECT_EQ(shown.back(), bigB);
  EXPECT_TRUE(s.FindNext(v));
  EXPECT_TRUE(s.FindNext(v));
  EXPECT_EQ(shown.back(), b);
  // Past the last: no wrap, no message, the search is over.
  EXPECT_FALSE(s.FindNext(v));
  EXPECT_FALSE(active);
  EXPECT_TRUE(prompt.texts.empty());
  EXPECT_EQ(shown.size(), 8u);
  // Going back from the first match ends it as well.
  FindSearch back = Search(u"*.txt");
  ASSERT_TRUE(back.Start(v));
  EXPECT_FALSE(back.FindPrevious(v));
  EXPECT_FALSE(active);
}

TEST_F(FindWalk, ANewSearchThatFindsNothingSaysSoOnce) {
  FindSearch s = Search(u"zzz");
  EXPECT_FALSE(s.Start(View()));
  ASSERT_EQ(prompt.texts.size(), 1u);
  EXPECT_EQ(prompt.texts[0], LoadString(366));
  EXPECT_EQ(prompt.pictures[0], kPicInformation);
  EXPECT_FALSE(active);
  // F3 then has nothing to continue, and asks nothing.
  EXPECT_FALSE(s.FindNext(View()));
  EXPECT_EQ(prompt.texts.size(), 1u);
  // An unmatched pattern passes on to the next; the empty one finds all.
  FindSearch next = Search(u"zzz;*.doc");
  EXPECT_EQ(All(next), (std::vector<FoundItemHandle>{report}));
  FindSearch empty = Search(u"x;;y");
  EXPECT_EQ(All(empty), (std::vector<FoundItemHandle>{a, docs, report, bigB, notes, lost, b}));
}

TEST_F(FindWalk, DeletedExistingSizeAndDate) {
  FindSearch s = Search(u"*");
  s.criteria.m_bExisting = false;
  EXPECT_EQ(All(s), (std::vector<FoundItemHandle>{report}));
  s.criteria.m_bExisting = true;
  s.criteria.m_bDeleted = false;
  EXPECT_EQ(All(s).size(), 6u);
  s.criteria.m_bDeleted = true;

  // "at least" 1 KB: 1024 bytes and more, never the root entries.
  s.criteria.m_bSize = true;
  s.criteria.m_strSizeKind = LoadString(363);
  s.criteria.m_nSizeBytes = 1024;
  EXPECT_EQ(All(s), (std::vector<FoundItemHandle>{report, bigB, notes}));
  s.criteria.m_strSizeKind = LoadString(364);  // at most
  EXPECT_EQ(All(s), (std::vector<FoundItemHandle>{a, docs, bigB, lost, b}));
  s.criteria.m_bSize = false;

  // Between, in either order, both boundary days included.
  s.criteria.m_bDate = s.criteria.m_bModified = s.criteria.m_bBetween = true;
  s.criteria.m_nFromYear = 2026, s.criteria.m_nFromMonth = 3, s.criteria.m_nFromDay = 12;
  s.criteria.m_nToYear = 2026, s.criteria.m_nToMonth = 3, s.criteria.m_nToDay = 1;
  const std::vector<FoundItemHandle> inMarch{a, docs, report, bigB};
  EXPECT_EQ(All(s), inMarch);
  std::swap(s.criteria.m_nFromDay, s.criteria.m_nToDay);
  EXPECT_EQ(All(s), inMarch);
  // A stamp without a date (Lost, b.txt) never passes a date test.
  s.criteria.m_bBetween = false;
  s.criteria.m_bLastDays = true;
  s.criteria.m_nDays = 3;  // from 12 March on
  EXPECT_EQ(All(s), (std::vector<FoundItemHandle>{bigB}));
  s.criteria.m_bLastDays = false;
  s.criteria.m_bLastMonths = true;
  s.criteria.m_nMonths = 1;  // from 15 February on
  EXPECT_EQ(All(s), (std::vector<FoundItemHandle>{a, docs, report, bigB, notes}));
}

TEST_F(FindWalk, EachViewWalksWhatItDisplays) {
  FindSearch s = Search(u"*.txt");
  // The File Type List: the grouped files and its own folders ("txt").
  std::vector<FoundItemHandle> typed = All(s, kViewByType);
  EXPECT_EQ(typed.size(), 4u);
  for (FoundItemHandle h : typed) EXPECT_EQ(GroupOf(store.Record(h)), kGroupTypedFile);
  EXPECT_EQ(store.NameOf(store.HolderOf(kViewByType, typed[0])), u"txt");
  FindSearch folders = Search(u"txt");
  EXPECT_EQ(All(folders, kViewClassic).size(), 4u);  // the files only
  EXPECT_EQ(All(folders, kViewByType).size(), 5u);   // and the "txt" folder
  // The filtered tree: what passed the mask.
  MaskCriteria mask;
  mask.m_maskPatterns = {u"*.TXT"};
  mask.m_bMaskSizeMin = true;
  mask.m_nMaskSizeMin = 1000;
  std::atomic<std::uint32_t> abort{0};
  ApplyFileMask(store, mask, StampKind::Ntfs, {15, 3, 2026}, abort);
  EXPECT_EQ(All(s, kViewFiltered), (std::vector<FoundItemHandle>{bigB, notes}));
  EXPECT_EQ(store.HolderOf(kViewFiltered, bigB), docs);
  EXPECT_EQ(store.HolderOf(kViewFiltered, notes), store.Root());
  EXPECT_EQ(All(folders, kViewFiltered).size(), 2u);
}

TEST(FindRootEntries, OnlyTheRootIdIsExcludedFromSizeAndDateTests) {
  // A FAT store: root id 0; a file whose id happens to be 5 is an ordinary file.
  FoundItemStore store;
  store.OnInsertRootItem(0);
  FoundItemInfo r;
  r.itemId = 5;
  r.parentId = 0;
  r.attribute = kItemFile;
  r.size = 4096;
  const FoundItemHandle five = store.OnAddFoundItem(r, u"five.bin");
  FindSearch s;
  s.criteria.m_bExisting = true;
  s.criteria.SetNames(u"*.bin");
  s.criteria.m_bSize = true;
  s.criteria.m_strSizeKind = LoadString(363);
  s.criteria.m_nSizeBytes = 1024;
  std::vector<FoundItemHandle> shown;
  bool active = false;
  const FindView v{.store = store, .view = kViewClassic, .stamps = StampKind::Fat, .today = {}, .prompt = nullptr,
                   .active = &active, .show = [&](FoundItemHandle h) { shown.push_back(h); }};
  EXPECT_TRUE(s.Start(v));
  EXPECT_EQ(shown, (std::vector<FoundItemHandle>{five}));
}

}  // namespace
}  // namespace corvan
