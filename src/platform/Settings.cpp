#include "platform/Settings.h"

#include "platform/Folders.h"
#include "platform/IniFile.h"

namespace corvan {

Profile::Profile(std::filesystem::path file)
    : file_(file.empty() ? UserConfigFolder() / "settings.ini" : std::move(file)) {}

int Profile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
  std::lock_guard lock(mutex_);
  IniFile ini;
  ini.Load(file_);
  const auto v = ini.Get(section, key);
  return v ? ParseProfileInt(*v, defaultValue) : defaultValue;
}

std::string Profile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
  std::lock_guard lock(mutex_);
  IniFile ini;
  ini.Load(file_);
  const auto v = ini.Get(section, key);
  return v ? *v : std::string(defaultValue);
}

bool Profile::WriteInt(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool Profile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::lock_guard lock(mutex_);
  IniFile ini;
  ini.Load(file_);
  // Rewriting the file for a value it already holds costs a sync for nothing.
  if (const auto old = ini.Get(section, key); old && *old == value) return true;
  ini.Set(section, key, value);
  EnsureFolder(file_.parent_path());
  return ini.Save(file_);
}

ProductKey::ProductKey(std::filesystem::path installFolder, Profile& profile)
    : installFolder_(std::move(installFolder)), profile_(profile) {}

std::string ProductKey::Read(std::string_view name) const {
  const std::string written = profile_.GetString(kProductSection, name, {});
  if (!written.empty()) return written;
  IniFile ini;
  ini.Load(installFolder_ / "product.ini");
  return ini.Get(kProductSection, name).value_or(std::string());
}

bool ProductKey::Write(std::string_view name, std::string_view value) {
  return profile_.WriteString(kProductSection, name, value);
}

std::filesystem::path ProductKey::InstallPath() const {
  IniFile ini;
  ini.Load(installFolder_ / "product.ini");
  const std::string path = ini.Get(kProductSection, "Path").value_or(std::string());
  if (path.empty() || path == ".") return installFolder_;
  std::filesystem::path p(path);
  return p.is_absolute() ? p : installFolder_ / p;
}

}  // namespace corvan
