#include "core/AppServices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/FileHandle.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace corvan {

std::string FormatSize(std::uint64_t n) {
  char buf[64];
  const double v = static_cast<double>(n);
  if (n >= (1ULL << 30)) {
    std::snprintf(buf, sizeof buf, "%.2f GB", v / static_cast<double>(1ULL << 30));
  } else if (n >= (1ULL << 20)) {
    std::snprintf(buf, sizeof buf, "%.2f MB", v / static_cast<double>(1ULL << 20));
  } else if (n >= (1ULL << 10)) {
    std::snprintf(buf, sizeof buf, "%.2f KB", v / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.2f bytes", v);
  }
  return buf;
}

// A part of a mask: either "any text" (it began with "*") or literal
// characters, where "?" accepts one character.
namespace {
struct MaskPart {
  bool any = false;
  std::u16string chars;
};

MaskPart MakePart(std::u16string_view text) {
  MaskPart p;
  if (!text.empty() && text.front() == u'*') {
    p.any = true;
  } else {
    p.chars = FoldCase(text);
  }
  return p;
}
}  // namespace

bool MatchFileMask(std::u16string_view name, std::u16string_view mask) {
  if (mask.empty()) return false;
  const auto maskDot = mask.rfind(u'.');
  const bool maskHasExt = maskDot != std::u16string_view::npos;
  const MaskPart namePart = MakePart(maskHasExt ? mask.substr(0, maskDot) : mask);
  const MaskPart extPart = maskHasExt ? MakePart(mask.substr(maskDot + 1)) : MaskPart{};

  // The name part is compared from the first character of the whole name;
  // characters of the name beyond the pattern are not examined.
  if (!namePart.any) {
    for (std::size_t i = 0; i < namePart.chars.size(); ++i) {
      const char16_t m = namePart.chars[i];
      if (m == u'?') continue;
      if (i >= name.size() || FoldCase(name[i]) != m) return false;
    }
  }
  if (!maskHasExt) return true;

  if (extPart.any) return true;  // any extension, or none
  const auto nameDot = name.rfind(u'.');
  if (nameDot == std::u16string_view::npos) return false;
  const std::u16string_view ext = name.substr(nameDot + 1);
  for (std::size_t i = 0; i < extPart.chars.size(); ++i) {
    if (i >= ext.size()) return false;
    const char16_t m = extPart.chars[i];
    if (m != u'?' && FoldCase(ext[i]) != m) return false;
  }
  return true;
}

bool MatchFileMasks(std::u16string_view fileName, const std::vector<std::u16string>& masks,
                    std::uint8_t excludeMode) {
  if (masks.empty()) return true;
  for (const auto& mask : masks)
    if (MatchFileMask(fileName, mask)) return excludeMode == 0;
  return excludeMode != 0;
}

bool ReadSectorFromFile(std::uint64_t sector, std::span<std::uint8_t, 512> buffer,
                        const std::filesystem::path& path) {
  auto f = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!f) return false;
  const std::int64_t n = f.ReadAt(buffer.data(), buffer.size(), sector * 512);
  if (n == static_cast<std::int64_t>(buffer.size())) return true;
  // A short or failed read must not leave an earlier sector's bytes behind.
  const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
  std::memset(buffer.data() + got, 0, buffer.size() - got);
  return false;
}

}  // namespace corvan
