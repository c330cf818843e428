// The signature file installed with the program: whole records, every type
// the format analysers serve, the default raw set stored as chosen, and every
// field within what the header editor accepts.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "core/FileTypeRecord.h"

namespace corvan {
namespace {

const std::filesystem::path kInstalled = std::filesystem::path(CORVAN_SOURCE_TESTS) / ".." / "resources" / "HeaderFile.cfg";

// Ids that choose a format analyser, and the types Raw Recovery uses when
// the user has chosen none.
constexpr std::uint16_t kAnalysed[] = {14,  15,  16,  17,  18,  19,  48,  52,  57,  113, 114, 115, 128,
                                       132, 135, 136, 137, 139, 140, 141, 143, 165, 176, 177};
constexpr std::uint16_t kDefaultRaw[] = {14, 15, 16, 17, 18, 19, 48, 52, 66, 67, 73, 111, 113, 114, 121, 128, 132, 165};

bool In(std::span<const std::uint16_t> ids, std::uint16_t id) { return std::ranges::find(ids, id) != ids.end(); }

TEST(InstalledHeaderFile, HoldsWholeRecordsOfEveryAnalysedAndDefaultType) {
  ASSERT_TRUE(std::filesystem::exists(kInstalled)) << kInstalled;
  const auto bytes = std::filesystem::file_size(kInstalled);
  ASSERT_GT(bytes, 0u);
  EXPECT_EQ(bytes % kFileTypeRecordSize, 0u);
  const auto records = ReadFileTypeRecords(kInstalled);
  ASSERT_EQ(records.size(), bytes / kFileTypeRecordSize);

  std::set<std::uint16_t> ids;
  for (const auto& r : records) ids.insert(r.typeId);
  for (auto id : kAnalysed) EXPECT_TRUE(ids.contains(id)) << "no preset for analysed type " << id;
  for (auto id : kDefaultRaw) EXPECT_TRUE(ids.contains(id)) << "no preset for default type " << id;
  EXPECT_EQ(ids.size(), records.size()) << "a type id is used twice";
  // Every group has something to show.
  std::set<int> groups;
  for (const auto& r : records) groups.insert(r.group);
  EXPECT_EQ(groups, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(InstalledHeaderFile, EveryRecordIsOneTheEditorWouldAccept) {
  std::set<std::pair<std::u16string, std::u16string>> seen;
  for (const auto& r : ReadFileTypeRecords(kInstalled)) {
    SCOPED_TRACE(testing::Message() << "type " << r.typeId);
    EXPECT_EQ(r.preset, 1);
    EXPECT_EQ(r.selected, In(kDefaultRaw, r.typeId) ? 1 : 0);
    EXPECT_GE(r.group, 1);
    EXPECT_LE(r.group, 8);
    EXPECT_GE(r.headerLength, 1);
    EXPECT_LE(r.headerLength, 8);
    EXPECT_LE(r.headerOffset + r.headerLength, 512u) << "signature must lie in the first sector";
    for (std::size_t i = r.headerLength; i < r.header.size(); ++i) EXPECT_EQ(r.header[i], 0) << "byte " << i;
    EXPECT_LE(r.sizeUnit, 1);
    EXPECT_GT(r.maxSize, 0u);
    EXPECT_EQ(r.maxSize % (r.sizeUnit == 0 ? 1048576u : 1024u), 0u);
    EXPECT_FALSE(r.softwareName.empty());
    EXPECT_FALSE(r.extension.empty());
    EXPECT_LE(r.softwareName.size(), 256u);
    EXPECT_LE(r.extension.size(), 256u);
    EXPECT_TRUE(seen.emplace(r.softwareName, r.extension).second) << "name and extension used twice";
  }
}

}  // namespace
}  // namespace corvan
