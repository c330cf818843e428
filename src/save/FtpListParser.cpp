#include "save/FtpListParser.h"

#include <array>
#include <cctype>

namespace corvan {

namespace {

struct Token {
  std::size_t begin = 0, end = 0;
};

std::vector<Token> Split(std::string_view line, std::size_t maxTokens) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size() && tokens.size() < maxTokens) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    Token t{i, i};
    while (i < line.size() && line[i] != ' ') ++i;
    t.end = i;
    tokens.push_back(t);
  }
  return tokens;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<std::uint64_t> Number(std::string_view s) {
  if (!AllDigits(s) || s.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) v = v * 10 + static_cast<std::uint64_t>(c - '0');
  return v;
}

bool IsMonth(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() != 3) return false;
  char lower[3];
  for (int i = 0; i < 3; ++i) lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
  for (std::string_view m : kMonths)
    if (m == std::string_view(lower, 3)) return true;
  return false;
}

bool IsDay(std::string_view s) {
  const auto v = Number(s);
  return s.size() <= 2 && v && *v >= 1 && *v <= 31;
}

// "12:05" or a year ("2021").
bool IsTimeOrYear(std::string_view s) {
  if (s.size() == 4 && AllDigits(s)) return true;
  const std::size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || s.size() - colon != 3) return false;
  return AllDigits(s.substr(0, colon)) && AllDigits(s.substr(colon + 1));
}

bool SafeName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/') return false;
  }
  return true;
}

std::optional<FtpListEntry> ParseUnix(std::string_view line) {
  const char kind = line[0];
  if (kind != '-' && kind != 'd' && kind != 'l') return std::nullopt;  // devices, pipes: nothing to save to
  const std::vector<Token> t = Split(line, 9);
  auto text = [&](std::size_t i) { return line.substr(t[i].begin, t[i].end - t[i].begin); };
  if (t.size() < 7 || t[0].end - t[0].begin < 10) return std::nullopt;
  // perms links owner [group] size month day time-or-year name
  for (std::size_t m = 3; m + 2 < t.size(); ++m) {
    if (!IsMonth(text(m)) || !IsDay(text(m + 1)) || !IsTimeOrYear(text(m + 2))) continue;
    const auto size = Number(text(m - 1));
    if (!size) continue;
    const std::size_t nameAt = t[m + 2].end + 1;  // one blank separates the name
    if (nameAt >= line.size()) return std::nullopt;
    FtpListEntry e;
    e.name = std::string(line.substr(nameAt));
    e.directory = kind == 'd';
    e.link = kind == 'l';
    e.size = *size;
    if (e.link) {
      const std::size_t arrow = e.name.find(" -> ");
      if (arrow != std::string::npos) e.name.resize(arrow);
    }
    if (!SafeName(e.name)) return std::nullopt;
    return e;
  }
  return std::nullopt;
}

// "01-31-21  09:15AM       <DIR>          name" or "...  1234 name".
std::optional<FtpListEntry> ParseDos(std::string_view line) {
  const std::vector<Token> t = Split(line, 3);
  if (t.size() < 3) return std::nullopt;
  auto text = [&](std::size_t i) { return line.substr(t[i].begin, t[i].end - t[i].begin); };
  const std::string_view date = text(0), time = text(1), what = text(2);
  if (date.size() < 8 || date[2] != '-' || date[5] != '-') return std::nullopt;
  if (time.size() < 6 || time.find(':') == std::string_view::npos) return std::nullopt;
  std::size_t at = t[2].end;
  while (at < line.size() && line[at] == ' ') ++at;
  if (at >= line.size()) return std::nullopt;
  FtpListEntry e;
  e.name = std::string(line.substr(at));
  if (what == "<DIR>") {
    e.directory = true;
  } else {
    const auto size = Number(what);
    if (!size) return std::nullopt;
    e.size = *size;
  }
  if (!SafeName(e.name)) return std::nullopt;
  return e;
}

}  // namespace

std::optional<FtpListEntry> ParseFtpListLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty()) return std::nullopt;
  if (std::isdigit(static_cast<unsigned char>(line[0]))) return ParseDos(line);
  return ParseUnix(line);
}

std::vector<FtpListEntry> ParseFtpListing(std::string_view text) {
  std::vector<FtpListEntry> entries;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    if (auto e = ParseFtpListLine(line)) entries.push_back(std::move(*e));
    if (eol == std::string_view::npos) break;
    text.remove_prefix(eol + 1);
  }
  return entries;
}

}  // namespace corvan
