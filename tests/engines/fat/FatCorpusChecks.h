#pragma once
// Checks of a finished FAT scan against the corpus truth files, shared by
// the Quick, Deleted and Advance tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TextConv.h"
#include "sources/FatBootSector.h"
#include "support/FatTestVolume.h"

namespace corvan::fattest {

inline std::filesystem::path Corpus(const std::string& file) { return test::CorpusDir() / file; }

// The corpus FAT volumes, for parameterised tests.
struct CorpusVolume {
  const char* name;
  std::uint8_t fsKind;
};
inline void PrintTo(const CorpusVolume& v, std::ostream* os) { *os << v.name; }
inline auto CorpusVolumes() {
  return ::testing::Values(CorpusVolume{"fat12", kFat12}, CorpusVolume{"fat16", kFat16},
                           CorpusVolume{"fat32", kFat32});
}
inline std::string CorpusVolumeName(const ::testing::TestParamInfo<CorpusVolume>& info) { return info.param.name; }

inline std::string SamePath(const std::string& path) { return path; }

inline std::string EightDigits(std::uint32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%08u", n);
  return text;
}

// Checks every live truth row against one finished scan; `where` maps a
// truth path to the path the scan should show it at (empty: not expected).
inline void ExpectLiveTruth(const Harness& h, const FatEngine& engine, const std::string& volume,
                            const std::function<std::string(const std::string&)>& where = SamePath,
                            std::size_t atLeast = 20, bool liveState = true) {
  const auto items = h.ItemsByPath();
  const auto truth = ReadTruth(Corpus(volume + ".truth.tsv"));
  std::size_t live = 0;
  for (const auto& row : truth) {
    if (row.state != "live") continue;
    const std::string path = where(row.path);
    if (path.empty()) continue;
    ++live;
    std::vector<StoredItem> matches;
    for (auto [it, end] = items.equal_range(path); it != end; ++it) {
      if (!liveState || !it->second.record.IsDeleted()) matches.push_back(it->second);
    }
    ASSERT_EQ(matches.size(), 1u) << volume << ": " << path;
    const FoundItemInfo& r = matches[0].record;
    if (row.type == "dir") {
      EXPECT_EQ(r.attribute, kItemFolder) << path;
      continue;
    }
    EXPECT_EQ(r.attribute, kItemFile) << path;
    EXPECT_EQ(r.size, row.size) << path;
    bool complete = false;
    EXPECT_EQ(ItemMd5(engine, r, &complete), row.md5) << path;
    EXPECT_TRUE(complete) << path;
  }
  EXPECT_GE(live, atLeast);
}

// First clusters of the live folders of a pristine corpus volume, by path.
inline std::map<std::string, std::uint32_t> FolderClusters(const std::string& volume, std::uint8_t fsKind) {
  Harness h;
  h.MountFile(Corpus(volume + ".img"));
  auto engine = h.Engine(fsKind);
  engine->ScanVolume(0);
  std::map<std::string, std::uint32_t> clusters;
  for (const auto& [path, item] : h.ItemsByPath()) {
    if (item.record.IsFolder() && !item.record.IsDeleted()) clusters[path] = item.record.Location32();
  }
  return clusters;
}

// Whether a listed path names the truth path. A deleted short entry has
// lost its first character, which the listing shows as "X": a component may
// differ from the truth in that character alone.
inline bool SameDeletedPath(const std::string& truth, const std::string& listed) {
  const std::u16string a = Utf8ToUtf16(truth), b = Utf8ToUtf16(listed);
  std::size_t i = 0, j = 0;
  while (i <= a.size() && j <= b.size()) {
    const std::size_t ai = std::min(a.find(u'/', i), a.size()), bj = std::min(b.find(u'/', j), b.size());
    const std::u16string x = a.substr(i, ai - i), y = b.substr(j, bj - j);
    if (x != y && !(x.size() == y.size() && !y.empty() && y[0] == u'X' && x.substr(1) == y.substr(1))) return false;
    if ((ai == a.size()) != (bj == b.size())) return false;
    if (ai == a.size()) return true;
    i = ai + 1;
    j = bj + 1;
  }
  return false;
}

// Reference rows written by tests/tools/make-fat-reference, kept in
// tests/data/fat. Found from the tests' folder, not from __FILE__: a
// compiler cache may hand the compiler relative paths, which do not hold
// from the folder the tests run in.
inline std::filesystem::path FatReference(const std::string& file) {
  return std::filesystem::path(CORVAN_SOURCE_TESTS) / "data" / "fat" / file;
}

inline std::vector<std::vector<std::string>> ReadReferenceRows(const std::string& file) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(FatReference(file));
  // Without its rows every check over them would pass unseen.
  if (!in) ADD_FAILURE() << "no reference file " << FatReference(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
    rows.push_back(fields);
  }
  return rows;
}

// The layout fsstat reports for an intact corpus volume (layouts.tsv).
struct ReferenceLayout {
  std::uint32_t reserved = 0, fatSize = 0, rootSectors = 0, dataStart = 0, spc = 0;
};
inline ReferenceLayout FsstatLayout(const std::string& volume) {
  for (const auto& row : ReadReferenceRows("layouts.tsv")) {
    if (row.size() == 7 && row[0] == volume) {
      return {static_cast<std::uint32_t>(std::stoul(row[2])), static_cast<std::uint32_t>(std::stoul(row[3])),
              static_cast<std::uint32_t>(std::stoul(row[4])), static_cast<std::uint32_t>(std::stoul(row[5])),
              static_cast<std::uint32_t>(std::stoul(row[6]))};
    }
  }
  ADD_FAILURE() << "no reference layout for " << volume;
  return {};
}

}  // namespace corvan::fattest
