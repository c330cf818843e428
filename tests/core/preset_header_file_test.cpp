// The signature file installed with the program: whole records, every type
// the format analysers serve, the default raw set stored as chosen, and every
// field within what the header editor accepts. And a user's signature file
// read and written back byte for byte, with every record in it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "core/FileTypeRecord.h"
#include "support/TestSupport.h"

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

// One record as the file lays it out: links 0 at 0, name and extension as
// 260 UTF-16 units at 8 and 528, offset u32 at 1048, length at 1052, the
// signature at 1053, then selected, preset, size u32, unit, group, id u16.
std::string RecordBytes(std::u16string_view name, std::u16string_view extension, std::uint32_t offset,
                        std::string_view signature, std::uint8_t selected, std::uint32_t maxSize, std::uint8_t group) {
  std::string b(kFileTypeRecordSize, '\0');
  const auto le = [&b](std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  for (std::size_t i = 0; i < name.size(); ++i) le(8 + 2 * i, name[i], 2);
  for (std::size_t i = 0; i < extension.size(); ++i) le(528 + 2 * i, extension[i], 2);
  le(1048, offset, 4);
  b[1052] = static_cast<char>(signature.size());
  b.replace(1053, signature.size(), signature);
  b[1061] = static_cast<char>(selected);
  le(1063, maxSize, 4);
  le(1068, group, 1);
  return b;
}

TEST(UserHeaderFile, EveryRecordIsReadAndWrittenBackByteForByte) {
  // The middle record's two bytes at 511 run past the first sector: never
  // matched, but kept, as are the records around it.
  const std::string file = RecordBytes(u"First", u"fst", 0, "\x4D\x5A", 1, 1048576, 2) +
                           RecordBytes(u"Tail Sample", u"tsp", 511, "\xCA\xFE", 0, 2097152, 8) +
                           RecordBytes(u"Last", u"lst", 504, "12345678", 1, 4096, 8);
  const test::TempDir dir;
  const std::filesystem::path path = dir.path() / "HeaderFile.cfg";
  test::WriteWholeFile(path, file);
  const std::vector<FileTypeRecord> records = ReadFileTypeRecords(path);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].softwareName, u"Tail Sample");
  EXPECT_EQ(records[1].extension, u"tsp");
  EXPECT_EQ(records[1].headerOffset, 511u);
  EXPECT_EQ(records[1].headerLength, 2);
  EXPECT_EQ(records[1].header, (std::array<std::uint8_t, 8>{0xCA, 0xFE, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(records[1].maxSize, 2097152u);
  EXPECT_FALSE(SignatureInFirstSector(records[1]));
  EXPECT_TRUE(SignatureInFirstSector(records[2])) << "eight bytes at 504 end the sector";
  const std::filesystem::path again = dir.path() / "again.cfg";
  ASSERT_TRUE(WriteFileTypeRecords(again, records));
  EXPECT_TRUE(test::ReadWholeFile(again) == file);
}

}  // namespace
}  // namespace corvan
