#include "save/FtpSettings.h"

#include <climits>
#include <vector>

#include "core/NameSanitiser.h"
#include "save/FtpClient.h"

namespace corvan {

std::int32_t PortFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) v = INT_MAX;  // saturates instead of wrapping
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

std::optional<std::uint16_t> PortOfText(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v == 0 || v > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

std::optional<std::uint16_t> PortOrDefaultOfText(std::string_view text) {
  if (text.size() <= 5 && text.find_first_not_of('0') == std::string_view::npos) return 0;
  return PortOfText(text);
}

std::uint16_t ConnectionPort(std::int32_t port) {
  const auto low = static_cast<std::uint16_t>(static_cast<std::uint32_t>(port) & 0xFFFF);
  return low == 0 ? 21 : low;
}

std::string RemoteDestination(std::string_view loginFolder, std::string_view typed) {
  std::vector<std::string> parts;
  // The typed parts go through the name sanitiser: a line break in one
  // would be a second command.
  auto add = [&parts](std::string_view path, bool typedPart) {
    while (!path.empty()) {
      const std::size_t slash = path.find('/');
      const std::string_view part = path.substr(0, slash);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(typedPart ? SanitiseName(part).name : std::string(part));
      }
      if (slash == std::string_view::npos) break;
      path.remove_prefix(slash + 1);
    }
  };
  if (typed.empty() || typed[0] != '/') add(loginFolder, false);
  add(typed, true);
  std::string out;
  for (const std::string& p : parts) (out += '/') += p;
  return out.empty() ? "/" : out;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Decode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

}  // namespace

std::optional<FtpSettings> FtpSettingsFromUrl(std::string_view url) {
  // A scheme is case-insensitive: "FTP://" is the same address.
  constexpr std::string_view kScheme = "ftp://";
  if (url.size() < kScheme.size()) return std::nullopt;
  for (std::size_t i = 0; i < kScheme.size(); ++i)
    if ((url[i] >= 'A' && url[i] <= 'Z' ? url[i] + ('a' - 'A') : url[i]) != kScheme[i]) return std::nullopt;
  url.remove_prefix(kScheme.size());
  const std::size_t slash = url.find('/');
  std::string_view authority = url.substr(0, slash);
  const std::string_view path = slash == std::string_view::npos ? std::string_view{} : url.substr(slash + 1);
  FtpSettings s;
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    const std::size_t colon = userInfo.find(':');
    const auto user = Decode(userInfo.substr(0, colon));
    const auto password = colon == std::string_view::npos ? std::optional<std::string>("")
                                                          : Decode(userInfo.substr(colon + 1));
    // A NUL would end the name or password where the server is told it.
    if (!user || !password || user->find('\0') != std::string::npos ||
        password->find('\0') != std::string::npos)
      return std::nullopt;
    s.user = *user;
    s.password = *password;
  } else {
    s.user = "anonymous";
    s.password = "anonymous@";
  }
  std::string_view host = authority;
  bool hasPort = false;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    s.server = std::string(host.substr(1, close - 1));
    host.remove_prefix(close + 1);
    if (!host.empty() && host[0] != ':') return std::nullopt;
    hasPort = !host.empty();
    if (hasPort) s.portText = std::string(host.substr(1));
  } else {
    // Only a bracketed address holds a ":": the first one ends the host,
    // so "h:21:21" or "h::21" has a port that is none, not the host "h:21".
    const std::size_t colon = host.find(':');
    s.server = std::string(host.substr(0, colon));
    hasPort = colon != std::string_view::npos;
    if (hasPort) s.portText = std::string(host.substr(colon + 1));
  }
  // The connection would refuse such a host later; the address is refused
  // here, before it can be taken for anything else. So is a port that is
  // none: its low bits or its leading digits would reach another port.
  if (!PlausibleFtpHost(s.server)) return std::nullopt;
  // An empty port after the ":" is the default one, as in any URL.
  if (hasPort && !s.portText.empty()) {
    const std::optional<std::uint16_t> port = PortOfText(s.portText);
    if (!port) return std::nullopt;
    s.port = *port;
  }
  const auto folder = Decode(path);
  if (!folder) return std::nullopt;
  s.remoteFolder = *folder;
  return s;
}

}  // namespace corvan
