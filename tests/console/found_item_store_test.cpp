#include <gtest/gtest.h>

#include "console/FoundItemStore.h"

namespace corvan {
namespace {

FoundItemInfo Item(std::uint32_t id, std::uint32_t parent, std::uint8_t attribute, std::uint64_t size = 0) {
  FoundItemInfo r;
  r.itemId = id;
  r.parentId = parent;
  r.attribute = attribute;
  r.size = size;
  return r;
}

TEST(FoundItemStore, RootThenItemsWithPathsFromTheRoot) {
  FoundItemStore store;
  store.OnInsertRootItem(kNtfsRootId);
  ASSERT_EQ(store.Count(), 1u);
  const StoredItem root = store.Item(store.Root());
  EXPECT_EQ(root.name, u"Root");
  EXPECT_EQ(root.record.itemId, 5u);
  EXPECT_EQ(root.record.parentId, kNoParent);
  EXPECT_EQ(root.record.attribute, kItemFolder);
  EXPECT_EQ(root.record.state, 0x11);
  EXPECT_EQ(root.record.flags & kItemRoot, kItemRoot);

  const auto docs = store.OnAddFoundItem(Item(40, 5, kItemFolder), u"Docs");
  const auto sub = store.OnAddFoundItem(Item(41, 40, kItemFolder), u"Sub");
  const auto file = store.OnAddFoundItem(Item(42, 41, kItemFile, 1234), u"a.txt");
  EXPECT_EQ(store.PathOf(docs), u"Docs");
  EXPECT_EQ(store.PathOf(file), u"Docs/Sub/a.txt");
  EXPECT_EQ(store.FindFolder(41), sub);
  EXPECT_FALSE(store.FindFolder(42));  // files are not folders
  EXPECT_EQ(store.ChildrenOf(40), std::vector<FoundItemHandle>{sub});
  EXPECT_EQ(store.Item(file).record.size, 1234u);
  EXPECT_EQ(store.Item(file).record.state, 0x11);
}

TEST(FoundItemStore, TheViewByteKeepsItsGroupAndMaskBitsAndStartsFilteredAtOne) {
  FoundItemStore store;
  store.OnInsertRootItem(0);
  // Bits 0-3 the type group, 4-6 the filtered state, 7 "passed the mask".
  FoundItemInfo restored = Item(7, 0, kItemFolder);
  restored.extra[kViewByteIndex] = 0xE3;  // masked, filtered state 6, group 3
  FoundItemInfo fresh = Item(8, 0, kItemFile, 10);
  const auto a = store.OnAddFoundItem(restored, u"Docs");
  const auto b = store.OnAddFoundItem(fresh, u"x.txt");
  EXPECT_EQ(store.Item(a).record.extra[kViewByteIndex], 0x93);
  EXPECT_EQ(store.Item(b).record.extra[kViewByteIndex], 0x10);
}

TEST(FoundItemStore, LaterCorrectionsReachTheStoredCopy) {
  FoundItemStore store;
  store.OnInsertRootItem(0);
  const auto h = store.OnAddFoundItem(Item(7, 0, kItemFile, 10), u"old");
  store.UpdateFoundItemSize(h, 99);
  store.UpdateFoundItemName(h, u"new.bin");
  EXPECT_EQ(store.Item(h).record.size, 99u);
  EXPECT_EQ(store.PathOf(h), u"new.bin");
  store.UpdateFoundItemSize(1000, 5);  // a stale handle changes nothing
  EXPECT_EQ(store.Count(), 2u);
}

TEST(FoundItemStore, BrokenAndLoopingChainsEndWhereTheyBreak) {
  FoundItemStore store;
  store.OnInsertRootItem(5);
  const auto orphan = store.OnAddFoundItem(Item(50, 777, kItemFile), u"orphan");
  EXPECT_EQ(store.PathOf(orphan), u"orphan");
  // Two folders naming each other as parent.
  store.OnAddFoundItem(Item(60, 61, kItemFolder), u"x");
  const auto y = store.OnAddFoundItem(Item(61, 60, kItemFolder), u"y");
  EXPECT_EQ(store.PathOf(y), u"x/y");
  // The first folder of an id wins, as the folder index does.
  const auto dup = store.OnAddFoundItem(Item(60, 5, kItemFolder), u"x2");
  EXPECT_NE(store.FindFolder(60), dup);
}

TEST(FoundItemStore, ANewRootStartsAgain) {
  FoundItemStore store;
  store.SetRootLabel([] { return u"VirtualVol(C:)"; });
  store.OnInsertRootItem(0);
  store.OnAddFoundItem(Item(3, 0, kItemFile), u"f");
  store.OnInsertRootItem(0);
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Item(store.Root()).name, u"VirtualVol(C:)");
  EXPECT_TRUE(store.ChildrenOf(0).empty());
}

}  // namespace
}  // namespace corvan

namespace corvan {
namespace {

FoundItemInfo Folder(std::uint32_t id, std::uint32_t parent) { return Item(id, parent, kItemFolder); }

TEST(FoundItemStoreTree, FoldersJoinTheTreeUnderTheirParentEvenWhenTheParentComesLater) {
  FoundItemStore store;
  store.OnInsertRootItem(5);
  const auto child = store.OnAddFoundItem(Folder(41, 40), u"child");  // parent not seen yet
  EXPECT_FALSE(store.InTree(child));
  const auto parent = store.OnAddFoundItem(Folder(40, 5), u"parent");
  EXPECT_TRUE(store.InTree(parent));
  EXPECT_TRUE(store.InTree(child));
  EXPECT_EQ(store.TreeParent(child), parent);
  EXPECT_EQ(store.TreeParent(parent), store.Root());
  EXPECT_EQ(store.TreeJoins(0, 0), (std::vector<FoundItemHandle>{0, parent, child}));
}

TEST(FoundItemStoreTree, FoldersThatNameEachOtherAsParentGoUnderTheLostFolder) {
  FoundItemStore store;
  store.OnInsertRootItem(5);
  const auto a = store.OnAddFoundItem(Folder(60, 61), u"a");
  const auto b = store.OnAddFoundItem(Folder(61, 60), u"b");
  const auto self = store.OnAddFoundItem(Folder(70, 70), u"self");
  FoundItemInfo file;
  file.itemId = 80;
  file.parentId = 61;
  file.attribute = kItemFile;
  const auto inB = store.OnAddFoundItem(file, u"in-b.txt");
  file.itemId = 81;
  file.parentId = 999;  // a folder that never comes
  const auto orphan = store.OnAddFoundItem(file, u"orphan.txt");
  store.OnAddFoundItem(Folder(90, 5), u"other");
  store.FinishPass();

  // One lost folder under the root holds the first folder of the loop, the
  // folder that is its own parent, and the file whose folder never came;
  // the second folder of the loop stays under the first.
  const auto lost = store.TreeParent(a);
  ASSERT_NE(lost, kNoFoundItem);
  EXPECT_EQ(store.NameOf(lost), u"Lost folder(s)");
  EXPECT_EQ(store.TreeParent(lost), store.Root());
  EXPECT_EQ(store.TreeParent(self), lost);
  EXPECT_EQ(store.TreeParent(b), a);
  EXPECT_EQ(store.PathOf(inB), u"Lost folder(s)/a/b/in-b.txt");
  EXPECT_EQ(store.PathOf(orphan), u"Lost folder(s)/orphan.txt");
  EXPECT_EQ(store.ListOf(kViewClassic, lost), (std::vector<FoundItemHandle>{a, self, orphan}));
  // The lost folder is the store's: the engine's totals do not count it.
  EXPECT_EQ(store.Totals().folders, 5u);  // root, a, b, self, other

  // A check on the root reaches everything, and a check on the lost folder
  // walks the loop once.
  store.ClickTreeCheck(kViewClassic, lost);
  for (auto h : {a, b, self, inB, orphan}) EXPECT_EQ(store.CheckState(kViewClassic, h), kChecked);
  EXPECT_EQ(store.CheckState(kViewClassic, store.Root()), kMixed);
}

TEST(FoundItemStoreTree, AStoreWithoutLostItemsMakesNoLostFolder) {
  FoundItemStore store;
  store.OnInsertRootItem(0);
  store.OnAddFoundItem(Folder(3, 0), u"d");
  const auto count = store.Count();
  store.FinishPass();
  EXPECT_EQ(store.Count(), count);
}

TEST(FoundItemStoreRename, AcceptsUnicodeNamesAndRefusesWhatNoFileSystemWouldTake) {
  EXPECT_TRUE(FoundItemStore::IsAcceptableName(u"Überprüfung_10.au"));
  EXPECT_TRUE(FoundItemStore::IsAcceptableName(u"日本語.txt"));
  EXPECT_TRUE(FoundItemStore::IsAcceptableName(std::u16string(255, u'x')));
  EXPECT_FALSE(FoundItemStore::IsAcceptableName(std::u16string(256, u'x')));
  EXPECT_FALSE(FoundItemStore::IsAcceptableName(u""));
  EXPECT_FALSE(FoundItemStore::IsAcceptableName(u"."));
  EXPECT_FALSE(FoundItemStore::IsAcceptableName(u".."));
  EXPECT_TRUE(FoundItemStore::IsAcceptableName(u"...x"));
  for (char16_t bad : std::u16string(u"\\/:*?\"<>|\t\x01\x7F"))
    EXPECT_FALSE(FoundItemStore::IsAcceptableName(std::u16string(u"a") + bad + u"b")) << int(bad);

  FoundItemStore store;
  store.OnInsertRootItem(5);
  const auto h = store.OnAddFoundItem(Item(9, 5, kItemFile), u"old.txt");
  EXPECT_FALSE(store.Rename(h, u"c:evil"));
  EXPECT_EQ(store.NameOf(h), u"old.txt");
  EXPECT_TRUE(store.Rename(h, u"new.txt"));
  EXPECT_EQ(store.PathOf(h), u"new.txt");
  EXPECT_EQ(store.Renames(0), std::vector<FoundItemHandle>{h});
}

TEST(FoundItemStoreFeeds, ANewRootStartsANewGenerationAndEmptiesTheFeeds) {
  FoundItemStore store;
  store.OnInsertRootItem(5);
  store.OnAddFoundItem(Folder(7, 5), u"x");
  const StoreStamp before = store.Stamp();
  EXPECT_EQ(before.treeJoins[0], 2u);
  store.OnInsertRootItem(5);
  const StoreStamp after = store.Stamp();
  EXPECT_NE(after.generation, before.generation);
  EXPECT_EQ(after.treeJoins[0], 1u);
  EXPECT_EQ(after.count, 1u);
}

}  // namespace
}  // namespace corvan
