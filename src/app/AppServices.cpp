#include "app/AppServices.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/CORVANApp.h"
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

void InitFileTypeIconTable(CORVANApp& app) {
  static constexpr const char* kKeys[60] = {
      "Fol",  "DelFol", "File", "DelFile", ".asm", ".asp", ".au",  ".avi",     ".bas",     ".bat",
      ".bkf", ".bmp",   ".bsc", ".c",      ".cfg", ".chm", ".cpp", ".cs",      ".dbf",     ".dll",
      ".doc", ".dsp",   ".dsr", ".eml",    ".exe", ".fnd", ".fon", ".frm",     ".gif",     ".h",
      ".hlp", ".htm",   ".ini", ".jpg",    ".js",  ".lib", ".mdb", ".msi",     ".nfo",     ".pdf",
      ".pfm", ".ppt",   ".pps", ".psd",    ".rar", ".rc",  ".reg", ".sln",     ".swf",     ".tif",
      ".txt", ".vb",    ".wab", ".xls",    ".xml", ".zip", "unknown", "reserve2", "reserve3", "reserve4"};
  for (std::size_t i = 0; i < 60; ++i) app.m_strIconKeys[i] = U16(kKeys[i]);
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

// ---- file-type lists ----

std::filesystem::path CORVANApp::HeaderFileToRead() const {
  const auto edited = HeaderFileToWrite();
  std::error_code ec;
  if (std::filesystem::exists(edited, ec)) return edited;
  return m_strInstallPath / "HeaderFile.cfg";
}

std::filesystem::path CORVANApp::HeaderFileToWrite() const { return UserDataFolder() / "HeaderFile.cfg"; }

void CORVANApp::BuildSelectedTypeList() {
  m_selectedTypeList.clear();
  for (const auto& r : m_fileTypeList)
    if (r.selected) m_selectedTypeList.push_back(r);
  if (m_selectedTypeList.empty()) LoadDefaultRawTypes();
}

void CORVANApp::LoadDefaultRawTypes() {
  static constexpr std::uint16_t kDefaultTypes[] = {14,  15,  16,  17,  18,  19,  48,  52,  66,
                                                    67,  73,  111, 113, 114, 121, 128, 132, 165};
  m_selectedTypeList.clear();
  m_nSetRaw = static_cast<std::uint32_t>(m_profile.GetInt("Raw", "SetRaw", 1));
  if (m_nSetRaw != 0) return;
  for (const auto& r : m_fileTypeList)
    if (std::find(std::begin(kDefaultTypes), std::end(kDefaultTypes), r.typeId) != std::end(kDefaultTypes))
      m_selectedTypeList.push_back(r);
  // The full list is built again by whoever needs it next.
  m_fileTypeList.clear();
}

void CORVANApp::LoadUserHeaders() {
  if (!m_fileTypeList.empty()) return;
  for (auto& r : ReadFileTypeRecords(HeaderFileToRead())) m_fileTypeList.push_back(std::move(r));
}

}  // namespace corvan
