#include "platform/Folders.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace corvan {

namespace fs = std::filesystem;

namespace {
fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return fs::temp_directory_path();
}

fs::path XdgFolder(const char* variable, const char* fallbackUnderHome) {
  fs::path base;
  if (const char* v = std::getenv(variable); v && *v && fs::path(v).is_absolute()) {
    base = v;
  } else {
    base = HomeFolder() / fallbackUnderHome;
  }
  fs::path folder = base / "corvan";
  EnsureFolder(folder);
  return folder;
}

fs::path ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}
}  // namespace

bool EnsureFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

fs::path InstallFolder() {
  if (const char* home = std::getenv("CORVAN_HOME"); home && *home) return home;
  const fs::path exeDir = ExecutableFolder();
  std::error_code ec;
  if (!exeDir.empty()) {
    fs::path shared = exeDir / ".." / "share" / "corvan";
    if (fs::is_directory(shared, ec)) return fs::weakly_canonical(shared, ec);
  }
  return CORVAN_SOURCE_RESOURCES;
}

fs::path UserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }
fs::path UserDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }
fs::path UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }

namespace {
// The work folders this process made. Each engine removes its own work
// files; the folders that held them go when the process ends, if nothing
// was left in them. A forked child inherits the list but removes only what
// it made itself.
struct MadeWorkFolders {
  std::mutex mutex;
  std::vector<std::pair<pid_t, fs::path>> made;
  ~MadeWorkFolders() {
    std::error_code ec;
    for (const auto& [pid, folder] : made)
      if (pid == ::getpid()) fs::remove(folder, ec);
  }
};
MadeWorkFolders& WorkFoldersMade() {
  static MadeWorkFolders folders;
  return folders;
}
}  // namespace

fs::path ProcessWorkFolder() {
  fs::path folder = UserCacheFolder() / ("work-" + std::to_string(::getpid()));
  EnsureFolder(folder);
  MadeWorkFolders& list = WorkFoldersMade();
  std::lock_guard lock(list.mutex);
  const std::pair<pid_t, fs::path> entry{::getpid(), folder};
  if (std::find(list.made.begin(), list.made.end(), entry) == list.made.end()) list.made.push_back(entry);
  return folder;
}

void RemoveProcessWorkFolder() {
  std::error_code ec;
  fs::remove_all(UserCacheFolder() / ("work-" + std::to_string(::getpid())), ec);
}

fs::path MakePrivateFolder(const fs::path& parent, std::string_view stem) {
  std::error_code ec;
  fs::path base = parent.empty() ? fs::temp_directory_path(ec) : parent;
  if (ec || base.empty()) base = "/tmp";
  std::string pattern = (base / (std::string(stem) + "XXXXXX")).string();
  // mkdtemp makes the folder with mode 0700, under a name no one can guess.
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace corvan
