#pragma once
// A small INI file: [Section] headers and key=value lines. Section and key
// names compare without regard to case, as profile settings always have;
// order and comments of a hand-edited file survive a rewrite.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

class IniFile {
 public:
  void Parse(std::string_view text);
  std::string Serialize() const;

  bool Load(const std::filesystem::path& path);         // false when missing or unreadable
  bool Save(const std::filesystem::path& path) const;   // atomic replace

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    std::string text;     // the line as read, for comments and blank lines
    std::string key;      // empty unless a key line
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  std::vector<Section> sections_;  // the first has an empty name: lines before any header
};

// Integer as profile readers take it: optional sign and leading decimal
// digits; anything else gives the default.
int ParseProfileInt(std::string_view text, int defaultValue);

}  // namespace corvan
