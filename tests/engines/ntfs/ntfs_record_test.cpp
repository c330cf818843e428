// FILE records, attributes, names, index nodes and mapping pairs, built by
// the tests from the format's description: sound records read back whole,
// damaged ones are refused or cut where the damage starts, never read past.

#include <gtest/gtest.h>

#include <cstring>

#include "engines/ntfs/NtfsRecord.h"
#include "support/NtfsImageBuilder.h"

namespace corvan::ntfs {
namespace {

namespace img = test::ntfsimg;

void Put16(img::Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(img::Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

img::Bytes FileRecord() {
  img::RecordBuilder r;
  r.number = 40;
  r.usn = 0x0707;
  r.Add(img::Resident(0x10, img::StdInfo(111, 222, 0x20), u"", 0))
      .Add(img::Resident(0x30, img::FileName(img::Ref(5, 5), u"NAME~1.TXT", kNameDos, 0x20), u"", 1))
      .Add(img::Resident(0x30, img::FileName(img::Ref(5, 5), u"name with spaces.txt", kNameWin32, 0x20), u"", 2))
      .Add(img::Resident(0x80, {'h', 'e', 'l', 'l', 'o'}, u"", 3));
  return r.Build();
}

TEST(NtfsFixup, PutsBackTheBytesEachSectorTailStoodFor) {
  img::Bytes rec = FileRecord();
  // After protection the tails hold the sequence number.
  EXPECT_EQ(rec[510], 0x07);
  EXPECT_EQ(rec[1023], 0x07);
  ASSERT_EQ(ApplyRecordFixup(rec), FixupStatus::Ok);
  EXPECT_EQ(rec[510], 0x00);  // the record's own bytes (zero padding there)
  MftRecord parsed;
  ASSERT_TRUE(parsed.Parse(rec));
  EXPECT_FALSE(parsed.Truncated());
  EXPECT_EQ(parsed.Attributes().size(), 4u);
}

TEST(NtfsFixup, RefusesTornAndMisplacedUpdateSequences) {
  {
    img::Bytes rec = FileRecord();
    rec[1022] ^= 0xFF;  // second sector written at another time than the first
    EXPECT_EQ(ApplyRecordFixup(rec), FixupStatus::Damaged);
  }
  {
    img::Bytes rec = FileRecord();
    Put16(rec, 6, 40);  // more entries than the record has sectors
    EXPECT_EQ(ApplyRecordFixup(rec), FixupStatus::Damaged);
  }
  {
    img::Bytes rec = FileRecord();
    Put16(rec, 4, 0x3F0);  // array placed anywhere but 0x2A or 0x30
    EXPECT_EQ(ApplyRecordFixup(rec), FixupStatus::NoSignature);
  }
  {
    img::Bytes block(4096, 0);
    std::memcpy(block.data(), "INDX", 4);
    Put16(block, 4, 4090);  // array would run off the block
    Put16(block, 6, 9);
    EXPECT_EQ(ApplyFixup(block, "INDX"), FixupStatus::Damaged);
    EXPECT_EQ(ApplyFixup(block, "RCRD"), FixupStatus::NoSignature);
  }
}

TEST(NtfsRecordParse, ReadsAttributesAndTheirValues) {
  img::Bytes rec = FileRecord();
  ASSERT_EQ(ApplyRecordFixup(rec), FixupStatus::Ok);
  MftRecord r;
  ASSERT_TRUE(r.Parse(rec));
  EXPECT_TRUE(r.InUse());
  EXPECT_FALSE(r.IsDirectory());
  const auto& a = r.Attributes();
  EXPECT_EQ(a[0].type, kAttrStandardInformation);
  auto si = ParseStandardInformation(r.Value(a[0]));
  ASSERT_TRUE(si);
  EXPECT_EQ(si->creationTime, 111u);
  EXPECT_EQ(si->modificationTime, 222u);
  EXPECT_EQ(si->fileAttributes, 0x20u);
  auto data = r.Value(a[3]);
  EXPECT_EQ(std::string(data.begin(), data.end()), "hello");
}

TEST(NtfsRecordParse, StopsAtAnAttributeThatDoesNotFit) {
  // Offsets of the four attributes as the builder laid them out.
  img::Bytes sound = FileRecord();
  ASSERT_EQ(ApplyRecordFixup(sound), FixupStatus::Ok);
  MftRecord ref;
  ASSERT_TRUE(ref.Parse(sound));
  const std::uint32_t second = ref.Attributes()[1].offset;
  const std::uint32_t fourth = ref.Attributes()[3].offset;

  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    bool wide;
    std::size_t kept;
  };
  const Case cases[] = {
      {"length below a header", second + 4, 0x10, true, 1},
      {"length zero", second + 4, 0, true, 1},
      {"length past the record", fourth + 4, 0x1000, true, 3},
      {"value past its attribute", second + 0x10, 0x400, true, 1},
      {"value offset past its attribute", second + 0x14, 0x300, false, 1},
      {"name past its attribute", fourth + 9, 0xFF, false, 3},
  };
  for (const Case& c : cases) {
    img::Bytes rec = sound;
    if (c.wide) Put32(rec, c.at, c.value);
    else if (c.at == fourth + 9) rec[c.at] = static_cast<std::uint8_t>(c.value);
    else Put16(rec, c.at, static_cast<std::uint16_t>(c.value));
    MftRecord r;
    ASSERT_TRUE(r.Parse(rec)) << c.what;
    EXPECT_TRUE(r.Truncated()) << c.what;
    EXPECT_EQ(r.Attributes().size(), c.kept) << c.what;
  }
  {
    img::Bytes rec = sound;
    Put16(rec, 0x14, 0x3FE);  // first attribute at the very end
    MftRecord r;
    ASSERT_TRUE(r.Parse(rec));
    EXPECT_TRUE(r.Attributes().empty());
  }
  {
    img::Bytes rec = sound;
    Put16(rec, 0x14, 0x08);  // inside the header
    MftRecord r;
    EXPECT_FALSE(r.Parse(rec));
  }
}

TEST(NtfsRecordParse, NonResidentMappingPairsMustLieInsideTheAttribute) {
  img::RecordBuilder b;
  b.Add(img::NonResident(0x80, img::Pairs({{100, 4}}), 0, 3, 4096 * 4, 10000, 10000));
  img::Bytes rec = b.Build();
  ASSERT_EQ(ApplyRecordFixup(rec), FixupStatus::Ok);
  MftRecord r;
  ASSERT_TRUE(r.Parse(rec));
  ASSERT_EQ(r.Attributes().size(), 1u);
  const Attribute& a = r.Attributes()[0];
  EXPECT_EQ(a.realSize, 10000u);
  std::vector<DataExtent> runs;
  ASSERT_TRUE(DecodeMappingPairs(r.MappingPairs(a), a.startVcn, runs));
  EXPECT_EQ(runs, (std::vector<DataExtent>{{0, 100, 4, false}}));

  Put16(rec, 0x38 + 0x20, 0x200);  // pairs offset past the attribute
  MftRecord bad;
  ASSERT_TRUE(bad.Parse(rec));
  EXPECT_TRUE(bad.Truncated());
  EXPECT_TRUE(bad.Attributes().empty());
}

TEST(NtfsFileName, NameLengthIsCheckedAgainstTheValue) {
  img::Bytes v = img::FileName(img::Ref(77, 3), u"abc", kNamePosix, 0x10000000, 5, 8, 1, 2);
  auto f = ParseFileName(v);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->ParentRecord(), 77u);
  EXPECT_EQ(f->name, u"abc");
  EXPECT_TRUE(f->IsDirectory());
  EXPECT_EQ(f->realSize, 5u);
  v[0x40] = 255;  // 255 units announced, 3 present
  EXPECT_FALSE(ParseFileName(v));
  EXPECT_FALSE(ParseFileName(std::span<const std::uint8_t>(v).first(0x41)));
}

TEST(NtfsFileName, PrefersWin32ThenPosixAndTakesDosOnlyAlone) {
  auto name = [](const char16_t* n, std::uint8_t ns) { return *ParseFileName(img::FileName(5, n, ns, 0)); };
  std::vector<FileNameInfo> names{name(u"SHORT~1", kNameDos), name(u"posix", kNamePosix), name(u"Long", kNameWin32)};
  EXPECT_EQ(ChooseFileName(names)->name, u"Long");
  names.pop_back();
  EXPECT_EQ(ChooseFileName(names)->name, u"posix");
  names.pop_back();
  EXPECT_EQ(ChooseFileName(names)->name, u"SHORT~1");
  names.clear();
  EXPECT_EQ(ChooseFileName(names), nullptr);
}

TEST(NtfsIndexNode, EntriesEndAtTheLastEntryFlagOrTheBytesInUse) {
  const img::Bytes a = img::IndexEntry(img::Ref(30), img::FileName(img::Ref(5), u"a", kNameWin32, 0));
  const img::Bytes b = img::IndexEntry(img::Ref(31), img::FileName(img::Ref(5), u"b", kNamePosix, 0));
  img::Bytes root = img::IndexRoot({a, b}, 4096, false);
  auto info = ParseIndexRoot(root);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->blockSize, 4096u);
  std::vector<IndexEntry> entries;
  ASSERT_TRUE(ParseIndexNode(info->node, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(ReferenceRecord(entries[1].reference), 31u);
  EXPECT_EQ(entries[1].key.name, u"b");

  // Bytes in use cut after the first entry: the second is stale.
  img::Bytes cut = root;
  Put32(cut, 0x10 + 4, static_cast<std::uint32_t>(0x10 + a.size()));
  entries.clear();
  ParseIndexNode(ParseIndexRoot(cut)->node, entries);
  EXPECT_EQ(entries.size(), 1u);

  // An entry length running past the node ends the walk with what came before.
  img::Bytes longEntry = root;
  Put16(longEntry, 0x20 + a.size() + 8, 0x7FF0);
  entries.clear();
  EXPECT_FALSE(ParseIndexNode(ParseIndexRoot(longEntry)->node, entries));
  EXPECT_EQ(entries.size(), 1u);

  // A key longer than its entry.
  img::Bytes longKey = root;
  Put16(longKey, 0x20 + 0x0A, 0x400);
  entries.clear();
  EXPECT_FALSE(ParseIndexNode(ParseIndexRoot(longKey)->node, entries));
  EXPECT_TRUE(entries.empty());

  // A zero entry length never loops.
  img::Bytes zero = root;
  Put16(zero, 0x20 + 8, 0);
  entries.clear();
  EXPECT_FALSE(ParseIndexNode(ParseIndexRoot(zero)->node, entries));
}

TEST(NtfsIndexNode, ReadsAnIndexBlockAfterItsFixup) {
  std::vector<img::Bytes> entries;
  for (int i = 0; i < 30; ++i)
    entries.push_back(img::IndexEntry(img::Ref(100 + i), img::FileName(img::Ref(5), u"file number " + std::u16string(1, char16_t(u'A' + i % 26)), kNameWin32, 0)));
  img::Bytes block = img::IndexBlock(entries, 0, 4096);
  ASSERT_EQ(ApplyFixup(block, "INDX"), FixupStatus::Ok);
  std::vector<IndexEntry> out;
  ASSERT_TRUE(ParseIndexNode(std::span<const std::uint8_t>(block).subspan(0x18), out));
  ASSERT_EQ(out.size(), 30u);
  EXPECT_EQ(ReferenceRecord(out[29].reference), 129u);
}

TEST(NtfsMappingPairs, DecodesDeltasHolesAndFailsWhole) {
  std::vector<DataExtent> runs;
  // 4 clusters at 0x1000; 2-cluster hole; 3 clusters at 0x1000 - 1 (one-byte 0xFF delta).
  const std::uint8_t pairs[] = {0x21, 0x04, 0x00, 0x10, 0x01, 0x02, 0x11, 0x03, 0xFF, 0x00};
  ASSERT_TRUE(DecodeMappingPairs(pairs, 10, runs));
  EXPECT_EQ(runs, (std::vector<DataExtent>{{10, 0x1000, 4, false}, {14, 0, 2, true}, {16, 0xFFF, 3, false}}));

  runs.assign(1, DataExtent{});
  const std::uint8_t unterminated[] = {0x21, 0x04, 0x00, 0x10};
  EXPECT_FALSE(DecodeMappingPairs(unterminated, 0, runs));
  EXPECT_EQ(runs.size(), 1u) << "a partial list adds nothing";
  const std::uint8_t tooWide[] = {0x09, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
  EXPECT_FALSE(DecodeMappingPairs(tooWide, 0, runs));
  const std::uint8_t negative[] = {0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0x00};  // 0x10 then -0x20
  EXPECT_FALSE(DecodeMappingPairs(negative, 0, runs));
  const std::uint8_t zeroLength[] = {0x11, 0x00, 0x10, 0x00};
  EXPECT_FALSE(DecodeMappingPairs(zeroLength, 0, runs));
  const std::uint8_t fieldPastEnd[] = {0x44, 0x04, 0x00};
  EXPECT_FALSE(DecodeMappingPairs(fieldPastEnd, 0, runs));
  // Five-byte LCNs: volumes of more than 2^31 clusters.
  std::vector<DataExtent> big;
  const std::uint8_t wide[] = {0x51, 0x08, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
  ASSERT_TRUE(DecodeMappingPairs(wide, 0, big));
  EXPECT_EQ(big[0].lcn, 0x200000000ull);
}

TEST(NtfsRunEntries, KeepTheStoredFourteenByteForm) {
  const std::vector<DataExtent> runs{{0, 0x1000, 4, false}, {4, 0, 2, true}, {6, 0xFFF, 3, false}, {9, 0x20000, 1, false}};
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(EncodeDataRunEntries(runs, bytes));
  ASSERT_EQ(bytes.size(), 4 * kDataRunEntrySize);
  // First entry: length 4, offset 0x1000 in two bytes, 'S'.
  const std::uint8_t first[14] = {0, 0, 0, 0, 4, 0, 0, 0, 0x00, 0x10, 0, 0, 2, 'S'};
  EXPECT_EQ(0, std::memcmp(bytes.data(), first, 14));
  // Third: one cluster back, stored as the byte 0xFF with size 1, 'M'.
  const std::uint8_t third[14] = {0, 0, 0, 0, 3, 0, 0, 0, 0xFF, 0, 0, 0, 1, 'M'};
  EXPECT_EQ(0, std::memcmp(bytes.data() + 28, third, 14));
  EXPECT_EQ(bytes[14 + 12], 0) << "a hole has no offset";
  std::vector<DataExtent> back;
  ASSERT_TRUE(DecodeDataRunEntries(bytes, back));
  EXPECT_EQ(back, runs);
  EXPECT_FALSE(EncodeDataRunEntries({{0, 0x100000000ull, 1, false}}, bytes)) << "LCN step wider than 32 bits";
}

TEST(NtfsAttributeList, EntriesAreBoundByTheList) {
  img::Bytes list = img::AttrListEntry(0x80, 0, img::Ref(31), 4);
  const img::Bytes named = img::AttrListEntry(0x80, 0, img::Ref(32), 5, u"ads");
  list.insert(list.end(), named.begin(), named.end());
  std::vector<AttributeListEntry> entries;
  ASSERT_TRUE(ParseAttributeList(list, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].name, u"ads");
  EXPECT_EQ(ReferenceRecord(entries[1].reference), 32u);

  Put16(list, 4, 0x400);  // first entry longer than the list
  entries.clear();
  EXPECT_FALSE(ParseAttributeList(list, entries));
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace corvan::ntfs
