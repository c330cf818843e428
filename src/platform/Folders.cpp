#include "platform/Folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

fs::path ProcessWorkFolder() {
  fs::path folder = UserCacheFolder() / ("work-" + std::to_string(::getpid()));
  EnsureFolder(folder);
  return folder;
}

void RemoveProcessWorkFolder() {
  std::error_code ec;
  fs::remove_all(UserCacheFolder() / ("work-" + std::to_string(::getpid())), ec);
}

}  // namespace corvan
