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
  store.SetRootLabel(u"VirtualVol(C:)");
  store.OnInsertRootItem(0);
  store.OnAddFoundItem(Item(3, 0, kItemFile), u"f");
  store.OnInsertRootItem(0);
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Item(store.Root()).name, u"VirtualVol(C:)");
  EXPECT_TRUE(store.ChildrenOf(0).empty());
}

}  // namespace
}  // namespace corvan
