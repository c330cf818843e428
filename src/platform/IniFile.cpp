#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/FileHandle.h"

namespace corvan {

namespace {
std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

void IniFile::Parse(std::string_view text) {
  sections_.clear();
  sections_.push_back(Section{});
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::string_view line = Trim(raw);
    if (!(end == text.size() && raw.empty())) {
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        sections_.push_back(Section{std::string(Trim(line.substr(1, line.size() - 2))), {}});
      } else {
        Line l;
        l.text = std::string(raw);
        const bool comment = !line.empty() && (line.front() == ';' || line.front() == '#');
        const std::size_t eq = line.find('=');
        if (!comment && eq != std::string_view::npos && eq > 0) {
          l.key = std::string(Trim(line.substr(0, eq)));
          l.value = std::string(Trim(line.substr(eq + 1)));
        }
        sections_.back().lines.push_back(std::move(l));
      }
    }
    pos = end + 1;
  }
}

std::string IniFile::Serialize() const {
  std::string out;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (i > 0) out += "[" + s.name + "]\n";
    for (const Line& l : s.lines) {
      out += l.key.empty() ? l.text : l.key + "=" + l.value;
      out += "\n";
    }
  }
  return out;
}

bool IniFile::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Parse("");
    return false;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  Parse(ss.str());
  return true;
}

bool IniFile::Save(const std::filesystem::path& path) const {
  const std::string text = Serialize();
  return WriteFileAtomically(path, text.data(), text.size());
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (std::size_t i = 1; i < sections_.size(); ++i)
    if (SameName(sections_[i].name, name)) return &sections_[i];
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  return const_cast<IniFile*>(this)->FindSection(name);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return std::nullopt;
  for (const Line& l : s->lines)
    if (!l.key.empty() && SameName(l.key, key)) return l.value;
  return std::nullopt;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (sections_.empty()) sections_.push_back(Section{});
  Section* s = FindSection(section);
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (Line& l : s->lines) {
    if (!l.key.empty() && SameName(l.key, key)) {
      l.value = std::string(value);
      return;
    }
  }
  // Keep new keys above trailing blank lines of the section.
  auto at = s->lines.end();
  while (at != s->lines.begin() && std::prev(at)->key.empty() && Trim(std::prev(at)->text).empty()) --at;
  s->lines.insert(at, Line{"", std::string(key), std::string(value)});
}

int ParseProfileInt(std::string_view text, int defaultValue) {
  text = Trim(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return defaultValue;
  long long v = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 0x7FFFFFFFLL) return defaultValue;
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace corvan
