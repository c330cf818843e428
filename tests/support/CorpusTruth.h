#pragma once
// The corpus truth files (`*.truth.tsv`): what was written to each volume,
// one row per file or folder: type, state, size, MD5 of the content, path;
// and The Sleuth Kit's listing of a volume made at test time.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace corvan::test {

struct TruthRow {
  std::string type;   // "file" or "dir"
  std::string state;  // "live" or "deleted"
  std::uint64_t size = 0;
  std::string md5, path;  // path from the volume root, with '/'
};

inline std::vector<TruthRow> ReadTruth(const std::filesystem::path& file) {
  std::vector<TruthRow> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    TruthRow r;
    std::string size;
    std::getline(fields, r.type, '\t');
    std::getline(fields, r.state, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, r.md5, '\t');
    std::getline(fields, r.path);
    r.size = std::stoull(size);
    rows.push_back(r);
  }
  return rows;
}

// One file or folder of `fls -r -p -l`; the tool's own entries for the
// volume's metadata ($MBR, $FAT1, $ALLOC_BITMAP and the like) and its
// volume label are left out.
struct FlsEntry {
  std::string path;
  bool folder = false;
  bool deleted = false;
  std::uint64_t size = 0;
};

// fls over `image`, `type` being its -f option ("fat12", "exfat", ...).
// Nothing, and `error` set, when it fails.
inline std::vector<FlsEntry> ListWithFls(const std::filesystem::path& image, const std::string& type,
                                         std::string& error) {
  const std::string fls = FindTool("fls");
  if (fls.empty()) {
    error = "fls is not installed (scripts/setup-deps installs sleuthkit)";
    return {};
  }
  const CommandResult run = RunCommand(fls + " -r -p -l -f " + type + " " + Quote(image));
  if (run.status != 0) {
    error = "fls failed: " + run.output;
    return {};
  }
  std::vector<FlsEntry> entries;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    // "r/r * 34:\tpath\tmtime\tatime\tctime\tcrtime\tsize\tuid\tgid": the name's
    // type and the metadata's, "*" for a deleted entry, the inode.
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    if (f.size() < 7 || f[0].size() < 3 || f[0][1] != '/' || f[1].empty() || f[1][0] == '$') continue;
    if (f[1].ends_with(" (Volume Label Entry)")) continue;
    const char name = f[0][0], meta = f[0][2];
    const bool folder = name == 'd' || (name == '-' && meta == 'd');
    if (!folder && name != 'r' && !(name == '-' && meta == 'r')) continue;
    entries.push_back({f[1], folder, f[0].find('*') != std::string::npos, std::stoull(f[6])});
  }
  return entries;
}

}  // namespace corvan::test
