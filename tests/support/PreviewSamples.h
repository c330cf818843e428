#pragma once
// The preview tests' files: one sample of each kind the panes show, made by
// tests/tools/make-preview-samples, and the disk of three volumes (FAT32,
// NTFS, exFAT) that tests/tools/make-preview-disk lays them on. Both are
// made into the build tree once (and again when a tool changes); a lock keeps parallel test processes from
// making them twice.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace corvan::test {

struct PreviewSample {
  std::string name, pane;
  std::uint64_t size = 0;
  std::string md5;
  int width = 0, height = 0;  // pictures, as identify reads them
  int pages = 0;              // the PDF, as written
  std::filesystem::path path;
};

struct PreviewDiskFile {
  std::uint16_t volume = 0;  // source-record index on the disk
  std::string fs, path, state, sample;
};

// The folder with files/, files/preview.tsv, preview.vmdk and disk.tsv;
// empty (with the reason) when the tools to make them are missing.
inline std::filesystem::path PreviewSamplesDir(std::string* why = nullptr) {
  const std::filesystem::path dir = CORVAN_PREVIEW_SAMPLES_DIR;
  std::filesystem::create_directories(dir.parent_path());
  const int lock = ::open((dir.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  // Made again when a tool changed since: an edited sample must not be
  // checked against the files of an older tool.
  std::string stamp;
  for (const std::filesystem::path tool : {std::filesystem::path(CORVAN_PREVIEW_SAMPLES_TOOL),
                                           std::filesystem::path(CORVAN_PREVIEW_SAMPLES_TOOL).parent_path() /
                                               "make-raw-samples",
                                           std::filesystem::path(CORVAN_PREVIEW_DISK_TOOL)}) {
    std::error_code ec;
    stamp += std::to_string(std::filesystem::last_write_time(tool, ec).time_since_epoch().count()) + "\n";
  }
  std::string made;
  if (std::ifstream done(dir / "done"); done) made.assign(std::istreambuf_iterator<char>(done), {});
  std::string problem;
  if (made != stamp) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string files = (dir / "files").string();
    const std::string command = std::string("'") + CORVAN_PREVIEW_SAMPLES_TOOL + "' '" + files + "' && '" +
                                CORVAN_PREVIEW_DISK_TOOL + "' '" + files + "' '" + dir.string() + "'";
    const int status = std::system(command.c_str());
    const int rc = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (rc == 0) std::ofstream(dir / "done") << stamp;
    else problem = rc == 77 ? "a tool the samples need is missing: run scripts/setup-deps"
                            : "the preview samples could not be made";
  }
  if (lock >= 0) ::close(lock);
  if (!problem.empty()) {
    if (why) *why = problem;
    return {};
  }
  return dir;
}

inline std::vector<std::string> PreviewFields(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
  return cells;
}

inline std::vector<PreviewSample> ReadPreviewSamples(const std::filesystem::path& dir) {
  std::vector<PreviewSample> out;
  std::ifstream in(dir / "files" / "preview.tsv");
  for (std::string line; std::getline(in, line);) {
    const auto c = PreviewFields(line);
    if (c.size() != 7) continue;
    PreviewSample s;
    s.name = c[0];
    s.pane = c[1];
    s.size = std::stoull(c[2]);
    s.md5 = c[3];
    if (c[4] != "-") s.width = std::stoi(c[4]);
    if (c[5] != "-") s.height = std::stoi(c[5]);
    if (c[6] != "-") s.pages = std::stoi(c[6]);
    s.path = dir / "files" / s.name;
    out.push_back(s);
  }
  return out;
}

inline std::vector<PreviewDiskFile> ReadPreviewDisk(const std::filesystem::path& dir) {
  std::vector<PreviewDiskFile> out;
  std::ifstream in(dir / "disk.tsv");
  for (std::string line; std::getline(in, line);) {
    const auto c = PreviewFields(line);
    if (c.size() != 5) continue;
    out.push_back({static_cast<std::uint16_t>(std::stoi(c[0])), c[1], c[2], c[3], c[4]});
  }
  return out;
}

}  // namespace corvan::test
