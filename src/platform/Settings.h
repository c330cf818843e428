#pragma once
// The user's settings file and the product's read-only values.
//
// settings.ini (per user) holds every value the program writes: the profile
// sections ("LOG", "Update", "Raw", ...) and the product values it records,
// such as "ScanPath". product.ini (install folder) holds what an installation
// provides: "Path", "ExeName", "Version" and the About texts.

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace corvan {

class Profile {
 public:
  // Reads and writes `file`; by default settings.ini in the user's config folder.
  explicit Profile(std::filesystem::path file = {});

  const std::filesystem::path& File() const { return file_; }

  // The file is read on every call, so a hand edit made while the program
  // runs is seen, as profile readers always have.
  int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view defaultValue = {}) const;
  bool WriteInt(std::string_view section, std::string_view key, int value);
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::filesystem::path file_;
  mutable std::mutex mutex_;
};

// Section of settings.ini that holds the product values the program writes.
inline constexpr std::string_view kProductSection = "Product";

class ProductKey {
 public:
  // `installFolder` holds product.ini; `profile` receives written values.
  ProductKey(std::filesystem::path installFolder, Profile& profile);

  // A value written by the program wins over the installed one; a missing
  // value reads as empty.
  std::string Read(std::string_view name) const;
  bool Write(std::string_view name, std::string_view value);

  // The install folder named by "Path" (relative to the folder of product.ini),
  // or that folder itself when "Path" is empty.
  std::filesystem::path InstallPath() const;

 private:
  std::filesystem::path installFolder_;
  Profile& profile_;
};

}  // namespace corvan
