#pragma once
// Shared helpers of the tests: a temporary folder, environment overrides,
// the corpus location and the reference tools run from a shell.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace corvan::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvan-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points every per-user folder into `root` for the life of the object.
class UserFolders {
 public:
  explicit UserFolders(const std::filesystem::path& root) {
    Set("XDG_CONFIG_HOME", root / "config");
    Set("XDG_DATA_HOME", root / "data");
    Set("XDG_CACHE_HOME", root / "cache");
  }
  ~UserFolders() {
    for (auto& [name, old] : saved_) {
      if (old.second) ::setenv(name.c_str(), old.first.c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  void Set(const std::string& name, const std::filesystem::path& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, {old ? old : "", old != nullptr}});
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::pair<std::string, bool>>> saved_;
};

// Runs a shell command; its exit status (-1 when it did not end normally).
inline int RunShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct CommandResult {
  int status = -1;
  std::string output;
};
// Runs `command` through the shell, standard error with standard output.
inline CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// The tool where the Debian packages of scripts/setup-deps put it; empty
// when it is not installed.
inline std::string FindTool(const char* name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    const std::string path = std::string(dir) + name;
    if (std::filesystem::exists(path)) return path;
  }
  return {};
}

// A path as one shell word.
inline std::string Quote(const std::filesystem::path& p) {
  std::string q = "'";
  for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::filesystem::path CorpusDir() {
  if (const char* d = std::getenv("CORVAN_CORPUS_DIR"); d && *d) return d;
  return CORVAN_CORPUS_DIR;
}

inline std::string ReadWholeFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Copies `from` into the existing file `to` at byte `offset`, leaving its
// zero runs alone so a sparse file stays sparse.
inline void CopyKeepingHoles(const std::filesystem::path& from, const std::filesystem::path& to,
                             std::uint64_t offset = 0) {
  std::ifstream in(from, std::ios::binary);
  std::fstream out(to, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<char> chunk(1 << 16);
  for (std::uint64_t at = 0; in; at += chunk.size()) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0 || std::all_of(chunk.begin(), chunk.begin() + got, [](char c) { return c == 0; })) continue;
    out.seekp(static_cast<std::streamoff>(offset + at));
    out.write(chunk.data(), static_cast<std::streamsize>(got));
  }
}

// The fields of a tab-separated line.
inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
  return cells;
}

}  // namespace corvan::test
