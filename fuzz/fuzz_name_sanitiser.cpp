// The name sanitiser's promises for any name a disk may hold: one safe,
// non-empty component of at most 255 bytes of valid UTF-8 with no '/',
// '\\', NUL or control character, never "." or ".."; sanitising it again
// changes nothing; a name that was already safe comes back unchanged; and a
// joined path has no empty, "." or ".." component.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/TextConv.h"
#include "core/NameSanitiser.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

bool ValidUtf8(const std::string& s) {
  return corvan::Utf16ToUtf8(corvan::Utf8ToUtf16(s)) == s;
}

void CheckComponent(const std::string& n) {
  Require(!n.empty() && n.size() <= corvan::kMaxNameBytes);
  Require(n != "." && n != "..");
  Require(ValidUtf8(n));
  for (const char c : n) {
    const auto b = static_cast<unsigned char>(c);
    Require(b >= 0x20 && b != 0x7F && c != '/' && c != '\\');
  }
  // C1 controls arrive as U+0080..U+009F, encoded C2 80..C2 9F.
  for (std::size_t i = 0; i + 1 < n.size(); ++i)
    Require(!(static_cast<unsigned char>(n[i]) == 0xC2 && static_cast<unsigned char>(n[i + 1]) < 0xA0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string name;
  for (std::size_t i = 0; i + 1 < size; i += 2) name.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  const corvan::SanitisedName s = corvan::SanitiseName(std::u16string_view(name));
  CheckComponent(s.name);
  const corvan::SanitisedName again = corvan::SanitiseName(std::string_view(s.name));
  Require(again.name == s.name && !again.changed);
  if (!s.changed) Require(corvan::Utf8ToUtf16(s.name) == name);

  // The same bytes as UTF-8 text.
  const std::string utf8(reinterpret_cast<const char*>(data), size);
  CheckComponent(corvan::SanitiseName(std::string_view(utf8)).name);

  // Split at every 0xFFFF unit into a path.
  std::vector<std::u16string> parts(1);
  for (const char16_t c : name) {
    if (c == 0xFFFF) parts.emplace_back();
    else parts.back().push_back(c);
  }
  const std::string path = corvan::JoinSanitisedPath(parts);
  Require(path.empty() || path.front() != '/');
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      CheckComponent(path.substr(start, i - start));
      start = i + 1;
    }
  }
  const std::string logText = corvan::LogSafeName(name);
  for (const char c : logText) Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  return 0;
}
