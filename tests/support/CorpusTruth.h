#pragma once
// The corpus truth files (`*.truth.tsv`): what was written to each volume,
// one row per file or folder: type, state, size, MD5 of the content, path.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace corvan::test
