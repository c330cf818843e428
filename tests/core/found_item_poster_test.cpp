// The hand-over every engine posts through: what the results window and
// the scan dialog are told, in which order, and what is counted.

#include <gtest/gtest.h>

#include "core/FoundItemPoster.h"
#include "support/RecordingSinks.h"

namespace corvan {
namespace {

using Kind = test::RecordingFoundItemSink::EventKind;

FoundItemInfo Item(std::uint32_t id, bool folder, std::uint64_t size) {
  FoundItemInfo r;
  r.itemId = id;
  r.parentId = 5;
  r.location = id;
  r.attribute = folder ? kItemFolder : kItemFile;
  r.size = size;
  return r;
}

class Poster : public ::testing::Test {
 protected:
  Poster() { poster.Attach(&results, &progress); }
  test::RecordingFoundItemSink results;
  test::RecordingProgressSink progress;
  FoundItemPoster poster{5};
};

TEST_F(Poster, TheRootOpensTheTreeAndEveryItemIsCountedAndShown) {
  EXPECT_FALSE(poster.Opened());
  poster.OpenRoot(1234);
  EXPECT_TRUE(poster.Opened());
  EXPECT_EQ(results.roots, std::vector<std::uint32_t>{5});
  EXPECT_EQ(progress.ranges, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1234}}));
  EXPECT_EQ(progress.steps, std::vector<std::int64_t>{1});
  EXPECT_EQ(poster.Entries(), 1u);  // the root is a folder of the tree
  EXPECT_EQ(poster.Folders(), 1u);

  FoundItemPoster::PostStyle entries;
  entries.counter = FoundItemPoster::Counter::EntriesFound;
  poster.Post(Item(64, false, 10), u"a.txt", entries);
  FoundItemPoster::PostStyle quiet;
  quiet.step = false;
  poster.Post(Item(65, true, 99), u"Folder", quiet);  // a folder's size is not counted by default
  FoundItemPoster::PostStyle withFolderSize;
  withFolderSize.folderBytes = true;
  poster.Post(Item(66, true, 7), u"Deleted", withFolderSize);

  EXPECT_EQ(poster.Entries(), 4u);
  EXPECT_EQ(poster.Folders(), 3u);
  EXPECT_EQ(poster.Files(), 1u);
  EXPECT_EQ(poster.Bytes(), 17u);
  EXPECT_EQ(progress.stepIts, 2u);
  EXPECT_EQ(progress.counterTexts, (std::vector<std::string>{"2 Entries Found", "3 ", "4 "}));
  ASSERT_EQ(results.items.size(), 3u);
  EXPECT_EQ(results.items[0].name, u"a.txt");
  // The window hears of the root first, and refreshes its status after each item.
  ASSERT_EQ(results.events.size(), 8u);
  EXPECT_EQ(results.events[0].kind, Kind::Root);
  EXPECT_EQ(results.events[2].kind, Kind::Add);
  EXPECT_EQ(results.events[3].kind, Kind::Status);
}

TEST_F(Poster, QueuedFoldersGoOutInOrderAsTheirIdentifyingFieldsOnly) {
  poster.OpenRoot(100000);
  FoundItemInfo first = Item(70, true, 0);
  first.extra[4] = 0x3;  // a view byte: not part of what a queued folder keeps
  poster.Queue(first, u"First");
  poster.Queue(Item(71, true, 0), u"Second");
  poster.Queue(Item(72, true, 0), u"Dropped");
  poster.DropLastQueued();
  EXPECT_TRUE(poster.HasQueued());
  EXPECT_TRUE(results.items.empty()) << "nothing goes out before the flush";

  std::vector<std::size_t> seenAt;
  poster.FlushQueue(FoundItemPoster::Counter::EntriesFound,
                    [&](const FoundItemInfo& record) { seenAt.push_back(results.items.size()); });
  EXPECT_FALSE(poster.HasQueued());
  ASSERT_EQ(results.items.size(), 2u);
  EXPECT_EQ(results.items[0].name, u"First");
  EXPECT_EQ(results.items[1].name, u"Second");
  EXPECT_EQ(results.items[0].record.extra[4], 0);
  EXPECT_EQ(seenAt, (std::vector<std::size_t>{1, 2})) << "the hook runs once each folder was handed over";
  EXPECT_EQ(poster.Folders(), 3u);
  EXPECT_EQ(progress.stepIts, 2u);
  EXPECT_EQ(progress.counterTexts, (std::vector<std::string>{"2 Entries Found", "3 Entries Found"}));
}

TEST(PosterIds, EachEngineKeepsItsRules) {
  // A plain running id, as FAT's: where the engine sets it, one after another.
  FoundItemPoster fat(0);
  fat.SetNextId(2);
  EXPECT_EQ(fat.TakeId(), 2u);
  EXPECT_EQ(fat.TakeId(), 3u);
  EXPECT_EQ(fat.NextId(), 4u);

  // Never below the ids of the root and "Lost folder(s)", even after a wrap.
  FoundItemPoster exfat(0, {.lowest = 2});
  exfat.SetNextId(0xFFFFFFFFu);
  EXPECT_EQ(exfat.TakeId(), 0xFFFFFFFFu);
  EXPECT_EQ(exfat.TakeId(), 2u);
  EXPECT_EQ(exfat.HighestId(), 0xFFFFFFFFu);

  // A folder of the engine's own keeps its id.
  FoundItemPoster ntfs(5, {.reserved = 0x00FFFFFF, .hasReserved = true});
  ntfs.SetNextId(0x00FFFFFE);
  EXPECT_EQ(ntfs.TakeId(), 0x00FFFFFEu);
  EXPECT_EQ(ntfs.TakeId(), 0x01000000u);
}

TEST(PosterWithoutWindows, CountsWithNothingToTell) {
  FoundItemPoster poster(0);
  poster.OpenRoot(10);
  EXPECT_EQ(poster.Post(Item(2, false, 5), u"x", {}), kNoFoundItem);
  EXPECT_EQ(poster.Entries(), 2u);
  poster.ResetCounters();
  EXPECT_FALSE(poster.Opened());
  EXPECT_EQ(poster.Bytes(), 0u);
}

}  // namespace
}  // namespace corvan
