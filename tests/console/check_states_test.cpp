#include <gtest/gtest.h>

#include <random>
#include <set>

#include "console/FoundItemStore.h"

namespace corvan {
namespace {

// root(5)
//  +- Docs(10): a.txt(11, 100), b.jpg(12, 200), Sub(13): c.JPG(14, 300, deleted)
//  +- Pics(20): d.png(21, 400)
//  +- readme(30, 50)
class CheckStatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SetGroupByType(true);
    store.OnInsertRootItem(5);
    docs = Add(10, 5, kItemFolder, 0, u"Docs");
    a = Add(11, 10, kItemFile, 100, u"a.txt");
    b = Add(12, 10, kItemFile, 200, u"b.jpg");
    sub = Add(13, 10, kItemFolder, 0, u"Sub");
    c = Add(14, 13, kItemFile, 300, u"c.JPG", kItemDeleted);
    pics = Add(20, 5, kItemFolder, 0, u"Pics");
    d = Add(21, 20, kItemFile, 400, u"d.png");
    readme = Add(30, 5, kItemFile, 50, u"readme");
    root = store.Root();
  }
  FoundItemHandle Add(std::uint32_t id, std::uint32_t parent, std::uint8_t attribute, std::uint64_t size,
                      std::u16string_view name, std::uint8_t flags = 0) {
    FoundItemInfo r;
    r.itemId = id;
    r.parentId = parent;
    r.attribute = attribute;
    r.size = size;
    r.flags = flags;
    return store.OnAddFoundItem(r, name);
  }
  std::uint8_t State(FoundItemHandle h, int view = kViewClassic) const { return store.CheckState(view, h); }
  FoundItemHandle TypeFolder(std::u16string_view name) const {
    for (FoundItemHandle h = 0; h < store.Count(); ++h)
      if (IsTypeFolder(store.Record(h)) && store.NameOf(h) == name) return h;
    return kNoFoundItem;
  }

  FoundItemStore store;
  FoundItemHandle root{}, docs{}, a{}, b{}, sub{}, c{}, pics{}, d{}, readme{};
};

TEST_F(CheckStatesTest, CheckingTheRootChecksEveryItemOfTheViewAndCountsThem) {
  store.ClickTreeCheck(kViewClassic, root);
  for (auto h : {root, docs, a, b, sub, c, pics, d, readme}) EXPECT_EQ(State(h), kChecked);
  // Folders of the classic view: the root, Docs, Sub, Pics; every file.
  const SelectionCounts expected{4, 5, 1050};
  EXPECT_EQ(store.Selection(kViewClassic), expected);
  EXPECT_EQ(store.CountCheckedFiles(kViewClassic), expected);
  // The other views keep their own states.
  EXPECT_EQ(State(a, kViewByType), kUnchecked);
  EXPECT_EQ(store.Selection(kViewByType), SelectionCounts{});
  EXPECT_EQ(store.CountRecoverableFiles(kViewClassic), 5u);
  EXPECT_EQ(store.CheckedBytes(kViewClassic), 1050u);

  store.ClickTreeCheck(kViewClassic, root);  // checked becomes unchecked
  for (auto h : {root, docs, a, sub, c, readme}) EXPECT_EQ(State(h), kUnchecked);
  EXPECT_EQ(store.Selection(kViewClassic), SelectionCounts{});
}

TEST_F(CheckStatesTest, UncheckingOneFileOfACheckedFolderMakesItAndItsAncestorsMixed) {
  store.ClickTreeCheck(kViewClassic, root);
  store.ClickListCheck(kViewClassic, sub, c);  // the only file of Sub
  EXPECT_EQ(State(c), kUnchecked);
  EXPECT_EQ(State(sub), kUnchecked);  // all its items unchecked
  EXPECT_EQ(State(docs), kMixed);
  EXPECT_EQ(State(root), kMixed);
  EXPECT_EQ(State(pics), kChecked);

  store.ClickListCheck(kViewClassic, docs, a);
  EXPECT_EQ(State(docs), kMixed);
  // A click on a mixed folder unchecks it and everything below it.
  store.ClickTreeCheck(kViewClassic, docs);
  for (auto h : {docs, a, b, sub, c}) EXPECT_EQ(State(h), kUnchecked);
  EXPECT_EQ(State(root), kMixed);
  EXPECT_EQ(store.Selection(kViewClassic), (SelectionCounts{2, 2, 450}));  // root (mixed), Pics; d, readme
}

TEST_F(CheckStatesTest, AFileCheckedInTheListCompletesItsFolderAndTheFoldersAbove) {
  store.ClickListCheck(kViewClassic, root, readme);
  store.ClickTreeCheck(kViewClassic, pics);
  store.ClickListCheck(kViewClassic, docs, a);
  store.ClickListCheck(kViewClassic, docs, b);
  EXPECT_EQ(State(docs), kMixed);  // Sub is still unchecked
  EXPECT_EQ(State(root), kMixed);
  store.ClickListCheck(kViewClassic, sub, c);
  EXPECT_EQ(State(sub), kChecked);
  EXPECT_EQ(State(docs), kChecked);
  EXPECT_EQ(State(root), kChecked);
}

TEST_F(CheckStatesTest, AFolderRowCheckedInTheListChecksItsContents) {
  store.ClickListCheck(kViewClassic, docs, sub);
  EXPECT_EQ(State(sub), kChecked);
  EXPECT_EQ(State(c), kChecked);
  EXPECT_EQ(State(docs), kMixed);
  EXPECT_EQ(State(a), kUnchecked);
}

TEST_F(CheckStatesTest, FilesAreGroupedByCategoryAndExtension) {
  const auto graphics = TypeFolder(u"Graphics & Photos");
  const auto documents = TypeFolder(u"Documents");
  const auto text = TypeFolder(u"Text");
  const auto misc = TypeFolder(u"Miscellaneous");
  const auto jpg = TypeFolder(u"jpg");
  ASSERT_NE(graphics, kNoFoundItem);
  ASSERT_NE(text, kNoFoundItem);
  ASSERT_NE(misc, kNoFoundItem);
  EXPECT_EQ(documents, kNoFoundItem);
  // The upper-case extension joins the lower-case folder.
  EXPECT_EQ(store.ListOf(kViewByType, jpg), (std::vector<FoundItemHandle>{b, c}));
  EXPECT_EQ(store.ListOf(kViewByType, TypeFolder(u"NoExt")), std::vector<FoundItemHandle>{readme});
  EXPECT_EQ(store.TreeParent(jpg), graphics);
  EXPECT_EQ(store.TreeParent(graphics), root);
  EXPECT_EQ(store.ListOf(kViewByType, root), (std::vector<FoundItemHandle>{text, graphics, misc}));
  EXPECT_EQ(store.Record(graphics).itemId, static_cast<std::uint32_t>(-2));
  EXPECT_EQ(store.Record(misc).itemId, static_cast<std::uint32_t>(-11));
  // The root, three categories and four extension folders (txt, jpg, png, NoExt).
  EXPECT_EQ(store.TreeFolderCount(), 8u);
  // Type folders are not part of the classic view.
  EXPECT_EQ(store.ListOf(kViewClassic, root), (std::vector<FoundItemHandle>{docs, pics, readme}));
  EXPECT_EQ(store.Totals().folders, 4u);
  EXPECT_EQ(store.Totals().files, 5u);
}

TEST_F(CheckStatesTest, CheckingAnExtensionFolderInTheTypeViewChecksItsFiles) {
  const auto jpg = TypeFolder(u"jpg");
  const auto png = TypeFolder(u"png");
  const auto graphics = TypeFolder(u"Graphics & Photos");
  store.ClickTreeCheck(kViewByType, jpg);
  EXPECT_EQ(State(b, kViewByType), kChecked);
  EXPECT_EQ(State(c, kViewByType), kChecked);
  EXPECT_EQ(State(graphics, kViewByType), kMixed);  // png is not checked
  EXPECT_EQ(State(root, kViewByType), kMixed);
  EXPECT_EQ(State(b, kViewClassic), kUnchecked);
  // Folders of the type view count there: graphics (mixed) and jpg.
  EXPECT_EQ(store.Selection(kViewByType), (SelectionCounts{2, 2, 500}));
  store.ClickTreeCheck(kViewByType, png);
  EXPECT_EQ(State(graphics, kViewByType), kChecked);
  EXPECT_EQ(store.Selection(kViewByType), store.CountCheckedFiles(kViewByType));
}

TEST(FileTypeGrouping, EdgeCasesOfNamesAndRawMode) {
  FoundItemStore store;
  std::atomic<std::int32_t> ids{-16};
  store.SetSyntheticIds(&ids);
  store.SetGroupByType(true);
  store.OnInsertRootItem(0);
  FoundItemInfo r;
  r.attribute = kItemFile;
  r.itemId = 1;
  const auto bat = store.OnAddFoundItem(r, u"run.bat");
  r.itemId = 2;
  const auto dotEnd = store.OnAddFoundItem(r, u"name.");
  r.itemId = 3;
  const auto tar = store.OnAddFoundItem(r, u"backup.R07");
  const auto folderOf = [&](FoundItemHandle h) {
    const std::uint32_t ext = TypeParentId(store.Record(h));
    for (FoundItemHandle f = 0; f < store.Count(); ++f)
      if (IsTypeFolder(store.Record(f)) && store.Record(f).itemId == ext) return f;
    return kNoFoundItem;
  };
  EXPECT_EQ(store.NameOf(store.TreeParent(folderOf(bat))), u"Application");
  EXPECT_EQ(store.NameOf(folderOf(dotEnd)), u"");
  EXPECT_EQ(store.NameOf(store.TreeParent(folderOf(dotEnd))), u"Miscellaneous");
  EXPECT_EQ(store.NameOf(store.TreeParent(folderOf(tar))), u"Archive");
  // Extension folders take their ids from the shared counter.
  EXPECT_EQ(store.Record(folderOf(bat)).itemId, static_cast<std::uint32_t>(-16));
  EXPECT_EQ(ids.load(), -19);

  // A counter that still stands at 0 never hands out a category's id or a
  // disk's.
  FoundItemStore fresh;
  std::atomic<std::int32_t> zero{0};
  fresh.SetSyntheticIds(&zero);
  fresh.SetGroupByType(true);
  fresh.OnInsertRootItem(0);
  for (const char16_t* name : {u"a.jpg", u"b.gif", u"c.zip", u"d.txt"}) fresh.OnAddFoundItem(r, name);
  std::set<std::uint32_t> folderIds;
  for (FoundItemHandle f = 1; f < fresh.Count(); ++f) {
    const FoundItemInfo folder = fresh.Record(f);
    if (!IsTypeFolder(folder)) continue;
    EXPECT_TRUE(folderIds.insert(folder.itemId).second) << folder.itemId;
    if (TypeParentId(folder) != 0) EXPECT_LE(static_cast<std::int32_t>(folder.itemId), -12);
  }
  EXPECT_EQ(folderIds.size(), 7u);  // three categories, four extensions

  FoundItemStore raw;
  raw.OnInsertRootItem(0);
  raw.OnAddFoundItem(r, u"photo.jpg");
  EXPECT_EQ(raw.Count(), 2u);
  EXPECT_EQ(raw.TreeFolderCount(), 1u);
  EXPECT_EQ(GroupOf(raw.Record(1)), kGroupClassic);
}

TEST_F(CheckStatesTest, TheSavingWalksTakeWhatIsCheckedInArrivalOrder) {
  store.ClickListCheck(kViewClassic, docs, b);
  store.ClickListCheck(kViewClassic, docs, sub);
  EXPECT_EQ(store.CollectChildren(kViewClassic, 10, true), (std::vector<FoundItemHandle>{b, sub}));
  EXPECT_EQ(store.CollectChildren(kViewClassic, 10, false), (std::vector<FoundItemHandle>{a, b, sub}));
  EXPECT_TRUE(store.CollectChildren(kViewClassic, 10ull | (1ull << 32), false).empty());
  EXPECT_EQ(store.CountDeletedFiles(kViewClassic), 1u);
  EXPECT_EQ(store.CountRecoverableFiles(kViewClassic), 2u);
  EXPECT_EQ(store.DeletedBytes(), 300u);

  // After saving: without a filter a saved folder becomes unchecked, or
  // mixed when the caller keeps the marks.
  store.CountFolderItems(kViewClassic, sub, false, false);
  EXPECT_EQ(State(sub), kUnchecked);
  store.ClickTreeCheck(kViewClassic, pics);
  store.CountFolderItems(kViewClassic, pics, true, false);
  EXPECT_EQ(State(pics), kMixed);
  // With a save filter, a folder whose items all stayed marked keeps its
  // state where the unfiltered save would uncheck it.
  store.ClickTreeCheck(kViewClassic, root);  // mixed root: everything unchecked
  store.ClickTreeCheck(kViewClassic, docs);
  store.CountFolderItems(kViewClassic, docs, false, true);
  EXPECT_EQ(State(docs), kChecked);
  store.CountFolderItems(kViewClassic, docs, false, false);
  EXPECT_EQ(State(docs), kUnchecked);
}

TEST_F(CheckStatesTest, CountsStayRightThroughAnySequenceOfClicksAndSizeChanges) {
  std::mt19937 random(7);
  const std::vector<FoundItemHandle> folders{root, docs, sub, pics};
  const std::vector<std::pair<FoundItemHandle, FoundItemHandle>> rows{
      {docs, a}, {docs, b}, {docs, sub}, {sub, c}, {pics, d}, {root, readme}, {root, docs}};
  for (int step = 0; step < 300; ++step) {
    const int view = static_cast<int>(random() % 2);
    switch (random() % 3) {
      case 0: store.ClickTreeCheck(view, folders[random() % folders.size()]); break;
      case 1: {
        const auto& [shown, row] = rows[random() % rows.size()];
        if (view == kViewClassic) store.ClickListCheck(view, shown, row);
        break;
      }
      default: store.UpdateFoundItemSize(d, random() % 1000); break;
    }
    for (int v : {kViewClassic, kViewByType})
      ASSERT_EQ(store.Selection(v), store.CountCheckedFiles(v)) << "step " << step << " view " << v;
  }
}

}  // namespace
}  // namespace corvan
