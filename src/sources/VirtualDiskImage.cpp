#include "sources/VirtualDiskImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "platform/ByteCodec.h"
#include "platform/FileHandle.h"
#include "platform/TextConv.h"
#include "sources/VmdkLayout.h"

namespace corvan {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kOneFileDiskBytes = 0x80000000;  // above this a VMware file is never split
constexpr std::uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr std::uint64_t kEmbeddedDescriptorSector = 1;
constexpr std::uint64_t kEmbeddedDescriptorSectors = 20;
constexpr std::uint32_t kFirstSplitNumber = 1;
constexpr std::uint32_t kLastSplitNumber = 476;
// Usual sizes of the files of a split disk, for a numbered file that is missing
// when no sibling tells the size.
constexpr std::uint64_t kSplitFlatSectors = 0x3FFE00;
constexpr std::uint64_t kSplitSparseSectors = 0x3FF800;
// Where a sparse file without a header keeps its redundant grain directory.
constexpr std::uint64_t kMonolithicDirectory = 21;
constexpr std::uint64_t kSplitDirectory = 1;

constexpr std::uint32_t kVdiSignature = 0xBEDA107F;
constexpr std::uint32_t kVdiMajorVersion = 1;
constexpr std::size_t kVdiHeaderBytes = 512;
constexpr std::uint64_t kMaxVdiBlockStride = std::uint64_t{1} << 31;
constexpr std::uint64_t kMaxVhdBlockBytes = std::uint64_t{1} << 31;
constexpr std::uint64_t kVhdDefaultDynamicHeader = 512;
constexpr std::size_t kVhdDynamicHeaderBytes = 1024;

constexpr char kDescriptorMagic[] = "# Disk DescriptorFile";
constexpr char kMonolithicFlat[] = "monolithicFlat";
constexpr char kMonolithicSparse[] = "monolithicSparse";
constexpr char kSplitFlat[] = "twoGbMaxExtentFlat";
constexpr char kSplitSparse[] = "twoGbMaxExtentSparse";

bool HasBootSignature(const std::uint8_t* sector) {
  return sector[510] == 0x55 && sector[511] == 0xAA;
}

bool StartsWith(const std::uint8_t* bytes, std::string_view text) {
  return std::memcmp(bytes, text.data(), text.size()) == 0;
}

// Reads sector `sector` of `file`; what the file does not hold reads as zeros.
void ReadFileSector(const FileHandle& file, std::uint64_t sector, std::uint8_t* out) {
  std::memset(out, 0, kSectorSize);
  file.ReadAt(out, kSectorSize, sector * kSectorSize);
}

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool EndsWithNoCase(const std::u16string& text, std::u16string_view tail) {
  if (text.size() < tail.size()) return false;
  const std::size_t from = text.size() - tail.size();
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (LowerAscii(text[from + i]) != LowerAscii(tail[i])) return false;
  }
  return true;
}

std::u16string FileNameOf(const fs::path& path) { return Utf8ToUtf16(path.filename().string()); }

// A numbered file of a split disk: base + "-f" or "-s" + number + ".vmdk".
struct SplitName {
  std::u16string base;
  char16_t letter = 0;
  std::uint32_t number = 0;
};

std::optional<SplitName> ParseSplitName(const std::u16string& name) {
  static constexpr std::u16string_view kExtension = u".vmdk";
  const std::size_t dash = name.rfind(u'-');
  if (dash == std::u16string::npos || !EndsWithNoCase(name, kExtension)) return std::nullopt;
  const std::size_t digitsStart = dash + 2;
  const std::size_t digitsEnd = name.size() - kExtension.size();
  if (digitsStart >= digitsEnd || digitsEnd - digitsStart > 9) return std::nullopt;
  const char16_t letter = name[dash + 1];
  if (letter != u'f' && letter != u's') return std::nullopt;
  std::uint32_t number = 0;
  for (std::size_t i = digitsStart; i < digitsEnd; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return std::nullopt;
    number = number * 10 + static_cast<std::uint32_t>(name[i] - u'0');
  }
  if (number < kFirstSplitNumber || number > kLastSplitNumber) return std::nullopt;
  return SplitName{name.substr(0, dash), letter, number};
}

std::u16string SplitFileName(const std::u16string& base, char16_t letter, std::uint32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03u", number);
  return base + u'-' + letter + Utf8ToUtf16(digits) + u".vmdk";
}

// Size in sectors of a sparse extent file: its header's capacity, or the
// file's own size when it has no header.
std::uint64_t SparseCapacityOf(const fs::path& path) {
  FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return 0;
  std::uint8_t sector[kSectorSize];
  ReadFileSector(file, 0, sector);
  const VmdkSparseHeader header = ParseVmdkSparseHeader(sector);
  if (header.valid && header.capacity != 0) return header.capacity;
  return file.Size().value_or(0) / kSectorSize;
}

std::string UpperAscii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += (c >= u'a' && c <= u'z') ? static_cast<char>(c - 32) : static_cast<char>(c);
  return out;
}

enum class ExtentKind { Flat, Sparse, Zero, Unsupported };

ExtentKind KindOfExtent(const DISK_DESCRIPTOR_EXTENT& extent) {
  const std::string type = UpperAscii(extent.type);
  if (type == "FLAT" || type == "VMFS" || type == "VMFSRAW" || type == "VMFSRDM") return ExtentKind::Flat;
  if (type == "SPARSE") return ExtentKind::Sparse;
  if (type == "ZERO") return ExtentKind::Zero;
  return ExtentKind::Unsupported;  // VMFSSPARSE, SESPARSE and the like
}

// A decimal number; saturates rather than wraps. False when there is none.
bool ParseDecimal(std::string_view text, std::size_t& pos, std::uint64_t& value) {
  const std::size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[pos] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    ++pos;
  }
  return pos > start;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
}

std::string_view NextWord(std::string_view text, std::size_t& pos) {
  SkipBlanks(text, pos);
  const std::size_t start = pos;
  while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t') ++pos;
  return text.substr(start, pos - start);
}

// "RW 368640 SPARSE "disk.vmdk"" and, for flat extents, a start sector after the name.
std::optional<DISK_DESCRIPTOR_EXTENT> ParseExtentLine(std::string_view line) {
  std::size_t pos = 0;
  const std::string_view access = NextWord(line, pos);
  if (access != "RW" && access != "RDONLY" && access != "NOACCESS") return std::nullopt;
  DISK_DESCRIPTOR_EXTENT extent;
  SkipBlanks(line, pos);
  if (!ParseDecimal(line, pos, extent.size)) return std::nullopt;
  const std::string_view type = NextWord(line, pos);
  const std::size_t open = line.find('"', pos);
  if (type.empty() || type.front() == '"' || open == std::string_view::npos) return std::nullopt;
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  extent.type = Utf8ToUtf16(type);
  extent.fileName = Utf8ToUtf16(line.substr(open + 1, close - open - 1));
  pos = close + 1;
  SkipBlanks(line, pos);
  std::uint64_t offset = 0;
  if (ParseDecimal(line, pos, offset)) extent.offset = offset;
  return extent;
}

}  // namespace

DescriptorContents ParseDescriptorText(std::string_view text) {
  DescriptorContents contents;
  // A keyword counts only at the start of a line, and the first line is the
  // file's title.
  std::size_t lineStart = text.find('\n');
  while (lineStart != std::string_view::npos) {
    ++lineStart;
    std::size_t lineEnd = text.find('\n', lineStart);
    std::string_view line =
        text.substr(lineStart, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t pos = 0;
    SkipBlanks(line, pos);
    line.remove_prefix(pos);
    if (line.rfind("createType", 0) == 0) {
      const std::size_t open = line.find('"');
      const std::size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
      if (close != std::string_view::npos) contents.createType = std::string(line.substr(open + 1, close - open - 1));
    } else if (auto extent = ParseExtentLine(line)) {
      contents.extents.push_back(std::move(*extent));
    }
    lineStart = lineEnd;
  }
  return contents;
}

CVirtualDiskImage::CVirtualDiskImage() = default;
CVirtualDiskImage::~CVirtualDiskImage() = default;

void CVirtualDiskImage::Begin(std::uint32_t imageType, const fs::path& path) {
  state_ = MountState{};
  state_.m_nImageType = imageType;
  state_.m_strImagePath = path;
  layout_.reset();
  readPastEnd_ = false;
  vdiHeader_.clear();
  vhdDynamicHeaderOffset_ = 0;
  vhdDataLimit_ = 0;
}

fs::path CVirtualDiskImage::Folder() const {
  fs::path folder = state_.m_strImagePath.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

fs::path CVirtualDiskImage::ExtentPath(const DISK_DESCRIPTOR_EXTENT& extent) const {
  // A descriptor is data like any other: an extent name must not make the
  // program read an arbitrary local file or device as disk sectors.
  const fs::path name(Utf16ToUtf8(extent.fileName));
  if (name.empty() || name.has_root_path()) return {};
  for (const fs::path& part : name) {
    if (part == "..") return {};
  }
  return Folder() / name;
}

// A sparse file with its descriptor inside holds its own data, whatever the
// descriptor calls it (the file may have been renamed).
void CVirtualDiskImage::AdoptEmbeddedExtent() {
  if (!state_.m_bVmdkEmbeddedDescriptor || state_.m_arrExtents.size() != 1) return;
  DISK_DESCRIPTOR_EXTENT& extent = state_.m_arrExtents.front();
  if (KindOfExtent(extent) == ExtentKind::Sparse) extent.fileName = FileNameOf(state_.m_strImagePath);
}

std::uint64_t CVirtualDiskImage::GetFileSizeByName(const fs::path& path) {
  return FileSizeOf(path).value_or(0);
}

bool CVirtualDiskImage::IsDescriptorFile(const fs::path& path) {
  const FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return false;
  std::uint8_t sector[kSectorSize];
  ReadFileSector(file, 0, sector);
  const VmdkSparseHeader header = ParseVmdkSparseHeader(sector);
  if (header.valid) {
    if (header.descriptorOffset == 0 || header.descriptorOffset > UINT64_MAX / kSectorSize) return false;
    ReadFileSector(file, header.descriptorOffset, sector);
  }
  return StartsWith(sector, kDescriptorMagic);
}

// The descriptor's text: the whole file, or the part of a sparse file that
// its header names. Cut at the first NUL (an embedded one is padded).
bool CVirtualDiskImage::ReadDescriptorText(const fs::path& path, std::string& text) {
  text.clear();
  const FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return false;
  const std::uint64_t size = file.Size().value_or(0);
  std::uint8_t sector[kSectorSize];
  ReadFileSector(file, 0, sector);
  const VmdkSparseHeader header = ParseVmdkSparseHeader(sector);
  std::uint64_t offset = 0;
  std::uint64_t length = std::min(size, kMaxDescriptorBytes);
  if (header.valid) {
    state_.m_bVmdkEmbeddedDescriptor = true;
    if (header.descriptorOffset == 0 || header.descriptorOffset >= size / kSectorSize) return false;
    offset = header.descriptorOffset * kSectorSize;
    length = std::min(header.descriptorSize, kMaxDescriptorBytes / kSectorSize) * kSectorSize;
    length = std::min(length, size - offset);
  }
  text.resize(static_cast<std::size_t>(length));
  const std::int64_t got = file.ReadAt(text.data(), text.size(), offset);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return got >= 0;
}

int CVirtualDiskImage::ParseDescriptor(const fs::path& path) {
  Begin(kImageVmware, path);
  state_.m_bVmdkDescriptor = true;
  std::string text;
  ReadDescriptorText(path, text);
  DescriptorContents contents = ParseDescriptorText(text);
  state_.m_strCreateType = std::move(contents.createType);
  state_.m_arrExtents = std::move(contents.extents);
  AdoptEmbeddedExtent();
  BuildReader();
  return state_.m_arrExtents.empty() ? 0 : 1;
}

void CVirtualDiskImage::BuildMonolithicExtent(const std::string& createType) {
  const fs::path& path = state_.m_strImagePath;
  DISK_DESCRIPTOR_EXTENT extent;
  extent.fileName = FileNameOf(path);
  if (createType == kMonolithicFlat) {
    extent.type = u"FLAT";
    extent.size = GetFileSizeByName(path) / kSectorSize;
  } else {
    extent.type = u"SPARSE";
    extent.size = SparseCapacityOf(path);
  }
  state_.m_strCreateType = createType;
  state_.m_arrExtents = {extent};
  state_.m_bVmdkDescriptor = true;
}

std::vector<FoundExtentFile> CVirtualDiskImage::FindExtentFiles(const fs::path& folder,
                                                                const std::u16string& mountedName,
                                                                char16_t letter) {
  std::vector<FoundExtentFile> found;
  const auto mounted = ParseSplitName(mountedName);
  if (!mounted) return found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    const std::u16string name = FileNameOf(it->path());
    if (name.size() != mountedName.size()) continue;
    const auto split = ParseSplitName(name);
    if (!split || split->base != mounted->base || split->letter != letter) continue;
    found.push_back(FoundExtentFile{split->number, name, GetFileSizeByName(it->path())});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const FoundExtentFile& a, const FoundExtentFile& b) { return a.number < b.number; });
  found.erase(std::unique(found.begin(), found.end(),
                          [](const FoundExtentFile& a, const FoundExtentFile& b) { return a.number == b.number; }),
              found.end());
  return found;
}

void CVirtualDiskImage::BuildSplitExtents(const std::string& createType) {
  const bool flat = createType == kSplitFlat;
  const char16_t letter = flat ? u'f' : u's';
  const std::u16string mountedName = FileNameOf(state_.m_strImagePath);
  const auto mounted = ParseSplitName(mountedName);
  const auto found = FindExtentFiles(Folder(), mountedName, letter);
  auto sizeOf = [&](const FoundExtentFile& file) {
    return flat ? file.fileSize / kSectorSize : SparseCapacityOf(Folder() / fs::path(Utf16ToUtf8(file.fileName)));
  };
  auto extentOf = [&](std::u16string name, std::uint64_t size) {
    DISK_DESCRIPTOR_EXTENT extent;
    extent.type = flat ? u"FLAT" : u"SPARSE";
    extent.fileName = std::move(name);
    extent.size = size;
    return extent;
  };

  std::vector<DISK_DESCRIPTOR_EXTENT> extents;
  if (state_.m_bVmdkSingleExtent) {
    if (!found.empty()) extents.push_back(extentOf(found.front().fileName, sizeOf(found.front())));
  } else if (mounted) {
    // Every file but the last has the same size; a missing one takes it.
    std::uint64_t missingSize = flat ? kSplitFlatSectors : kSplitSparseSectors;
    if (found.size() > 1) missingSize = sizeOf(found.front());
    std::size_t next = 0;
    for (std::uint32_t number = kFirstSplitNumber; next < found.size() && number <= kLastSplitNumber; ++number) {
      if (found[next].number == number) {
        extents.push_back(extentOf(found[next].fileName, sizeOf(found[next])));
        ++next;
      } else {
        extents.push_back(extentOf(SplitFileName(mounted->base, letter, number), missingSize));
      }
    }
  }
  state_.m_strCreateType = createType;
  state_.m_arrExtents = std::move(extents);
  state_.m_bVmdkDescriptor = true;
}

int CVirtualDiskImage::OpenVmdk(const fs::path& path) {
  Begin(kImageVmware, path);
  const FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return 0;
  const std::uint64_t size = file.Size().value_or(0);
  if (size == 0) return 0;
  std::uint8_t first[kSectorSize];
  ReadFileSector(file, 0, first);
  const bool bootable = HasBootSignature(first);
  const bool sparse = ParseVmdkSparseHeader(first).valid;
  const std::u16string name = FileNameOf(path);

  enum class Kind { Flat, Sparse, SplitFlat, SplitSparse, Other } kind = Kind::Other;
  if (size > kOneFileDiskBytes) {
    kind = bootable ? Kind::Flat : sparse ? Kind::Sparse : Kind::Other;
  } else if (EndsWithNoCase(name, u"-flat.vmdk")) {
    if (!bootable) {
      // Still readable as it is, for Raw Recovery.
      state_.m_bImageError = true;
      BuildReader();
      return 0;
    }
    kind = Kind::Flat;
  } else if (const auto split = ParseSplitName(name)) {
    kind = split->letter == u'f' ? Kind::SplitFlat : Kind::SplitSparse;
  }

  if (kind == Kind::Other) {
    if (sparse) {
      kind = Kind::Sparse;
    } else if (bootable) {
      kind = Kind::Flat;
    } else {
      std::uint8_t second[kSectorSize];
      ReadFileSector(file, kEmbeddedDescriptorSector, second);
      if (StartsWith(second, kDescriptorMagic)) {
        // A descriptor behind a damaged header.
        std::string text(kEmbeddedDescriptorSectors * kSectorSize, '\0');
        const std::int64_t got = file.ReadAt(text.data(), text.size(), kEmbeddedDescriptorSector * kSectorSize);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        DescriptorContents contents = ParseDescriptorText(text);
        state_.m_strCreateType = std::move(contents.createType);
        state_.m_arrExtents = std::move(contents.extents);
        state_.m_bVmdkDescriptor = true;
        state_.m_bVmdkEmbeddedDescriptor = true;
        AdoptEmbeddedExtent();
        BuildReader();
        return !state_.m_arrExtents.empty() && FirstSectorIsBootable() ? 1 : 0;
      }
      BuildMonolithicExtent(kMonolithicSparse);
      state_.m_bNoPartition = true;
      BuildReader();
      return 0;
    }
  }

  switch (kind) {
    case Kind::Flat: BuildMonolithicExtent(kMonolithicFlat); break;
    case Kind::Sparse: BuildMonolithicExtent(kMonolithicSparse); break;
    case Kind::SplitFlat: BuildSplitExtents(kSplitFlat); break;
    case Kind::SplitSparse: BuildSplitExtents(kSplitSparse); break;
    case Kind::Other: break;
  }
  BuildReader();
  if (state_.m_arrExtents.empty()) return 0;
  if (FirstSectorIsBootable()) return 1;

  if (kind == Kind::Sparse) {
    // A sparse file named like a numbered one may be the first file of a
    // split disk: try it that way before calling the image damaged.
    if (ParseSplitName(name)) {
      const MountState asOneFile = state_;
      state_.m_bVmdkSingleExtent = true;
      BuildSplitExtents(kSplitSparse);
      BuildReader();
      if (!state_.m_arrExtents.empty() && FirstSectorIsBootable()) return 1;
      state_ = asOneFile;
      BuildReader();
    }
    state_.m_bImageError = true;
  }
  return 0;
}

int CVirtualDiskImage::OpenVdi(const fs::path& path) {
  Begin(kImageVirtualBox, path);
  const FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return 0;
  std::vector<std::uint8_t> header(kVdiHeaderBytes);
  if (!file.ReadExactAt(header.data(), header.size(), 0)) return 0;
  // The banner text differs between the tools that write VDI files; the
  // signature and the version are what identify one.
  if (GetLE32(header.data() + 0x40) != kVdiSignature) return 0;
  if ((GetLE32(header.data() + 0x44) >> 16) != kVdiMajorVersion) return 0;
  state_.m_nVdiType = GetLE32(header.data() + 0x4C);
  state_.m_nDiskBytes = GetLE64(header.data() + 0x170);
  vdiHeader_ = std::move(header);
  BuildReader();
  return 1;
}

namespace {

bool IsVhdCookie(const std::uint8_t* bytes) { return StartsWith(bytes, "conectix"); }
bool IsVhdDynamicCookie(const std::uint8_t* bytes) { return StartsWith(bytes, "cxsparse"); }

// The disk's size from a footer (or its copy at the start of a dynamic disk):
// the current size, which follows a resize, else the original one.
std::uint64_t VhdDiskBytes(const std::uint8_t* footer) {
  const std::uint64_t current = GetBE64(footer + 48);
  return current != 0 ? current : GetBE64(footer + 40);
}

}  // namespace

int CVirtualDiskImage::OpenVhd(const fs::path& path) {
  Begin(kImageVirtualPc, path);
  const FileHandle file = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!file) return 0;
  const std::uint64_t size = file.Size().value_or(0);
  if (size == 0) return 0;
  std::uint8_t footer[kSectorSize] = {};
  if (size >= kSectorSize) file.ReadAt(footer, kSectorSize, size - kSectorSize);
  std::uint8_t first[kSectorSize];
  ReadFileSector(file, 0, first);

  vhdDynamicHeaderOffset_ = kVhdDefaultDynamicHeader;
  if (IsVhdCookie(footer)) {
    state_.m_nVhdType = GetBE32(footer + 60);
    state_.m_nDiskBytes = VhdDiskBytes(footer);
    vhdDynamicHeaderOffset_ = GetBE64(footer + 16);
    vhdDataLimit_ = size - kSectorSize;
  } else if (HasBootSignature(first)) {
    state_.m_nVhdType = kVhdFixed;  // a raw disk
    state_.m_nDiskBytes = size;
    vhdDataLimit_ = size;
  } else if (IsVhdCookie(first)) {
    state_.m_nVhdType = kVhdDynamic;  // footer lost, its copy at the start remains
    state_.m_nDiskBytes = VhdDiskBytes(first);
    vhdDynamicHeaderOffset_ = GetBE64(first + 16);
  } else {
    std::uint8_t dynamic[kVhdDynamicHeaderBytes] = {};
    file.ReadAt(dynamic, sizeof dynamic, kVhdDefaultDynamicHeader);
    if (!IsVhdDynamicCookie(dynamic)) return 0;
    state_.m_nVhdType = kVhdDynamic;
    // No footer to tell the size: the table's reach.
    state_.m_nDiskBytes = std::uint64_t{GetBE32(dynamic + 28)} * GetBE32(dynamic + 32);
  }
  BuildReader();
  return 1;
}

int CVirtualDiskImage::Open(std::uint32_t imageType, const fs::path& path) {
  switch (imageType) {
    case kImageVmware: return IsDescriptorFile(path) ? ParseDescriptor(path) : OpenVmdk(path);
    case kImageVirtualBox: return OpenVdi(path);
    case kImageVirtualPc: return OpenVhd(path);
    default: Begin(imageType, path); return 0;
  }
}

std::vector<DISK_DESCRIPTOR_EXTENT> CVirtualDiskImage::GetExtentNames() const {
  std::vector<DISK_DESCRIPTOR_EXTENT> extents = state_.m_arrExtents;
  for (auto& extent : extents) {
    const fs::path file = ExtentPath(extent);
    if (file.empty() || !FileHandle::Open(file, FileHandle::Mode::ReadOnly)) extent.fileName += u" (Missing)";
  }
  return extents;
}

std::unique_ptr<ImageLayout> CVirtualDiskImage::MakeVmdkLayout() const {
  if (!state_.m_bVmdkDescriptor) {
    FileHandle file = FileHandle::Open(state_.m_strImagePath, FileHandle::Mode::ReadOnly);
    const std::uint64_t size = file.Size().value_or(0);
    return std::make_unique<PlainFileLayout>(std::move(file), size, size);
  }
  auto layout = std::make_unique<VmdkLayout>();
  const std::uint64_t directory = state_.m_strCreateType == kSplitSparse ? kSplitDirectory : kMonolithicDirectory;
  for (const auto& extent : state_.m_arrExtents) {
    const ExtentKind kind = KindOfExtent(extent);
    if (kind == ExtentKind::Zero || kind == ExtentKind::Unsupported) {
      layout->AddEmpty(extent.size, kind == ExtentKind::Zero);
      continue;
    }
    const fs::path path = ExtentPath(extent);
    FileHandle file = path.empty() ? FileHandle() : FileHandle::Open(path, FileHandle::Mode::ReadOnly);
    if (!file) {
      layout->AddEmpty(extent.size, false);  // missing file: zeros, and the read fails
    } else if (kind == ExtentKind::Flat) {
      layout->AddFlat(extent.size, std::move(file), extent.offset);
    } else {
      layout->AddSparse(extent.size, std::make_unique<SparseExtentFile>(std::move(file), extent.size, directory));
    }
  }
  return layout;
}

std::unique_ptr<ImageLayout> CVirtualDiskImage::MakeVdiLayout() const {
  if (vdiHeader_.size() < kVdiHeaderBytes) return nullptr;
  const std::uint8_t* h = vdiHeader_.data();
  const std::uint64_t mapOffset = GetLE32(h + 0x154);
  const std::uint64_t dataOffset = GetLE32(h + 0x158);
  const std::uint64_t blockBytes = GetLE32(h + 0x178);
  const std::uint64_t extra = GetLE32(h + 0x17C);
  const std::uint64_t blocks = GetLE32(h + 0x180);
  if (blockBytes == 0 || blockBytes + extra > kMaxVdiBlockStride) return nullptr;

  FileHandle file = FileHandle::Open(state_.m_strImagePath, FileHandle::Mode::ReadOnly);
  const std::uint64_t size = file.Size().value_or(0);
  const std::uint64_t entries = mapOffset < size ? std::min(blocks, (size - mapOffset) / 4) : 0;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(entries) * 4);
  const std::int64_t got = file.ReadAt(raw.data(), raw.size(), mapOffset);
  std::vector<std::uint32_t> map(got > 0 ? static_cast<std::size_t>(got) / 4 : 0);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = GetLE32(raw.data() + i * 4);

  BlockMapLayout::Geometry g;
  g.diskBytes = state_.m_nDiskBytes;
  g.blockBytes = blockBytes;
  g.base = dataOffset + extra;
  g.unit = blockBytes + extra;
  g.firstEmpty = 0xFFFFFFFE;  // never written, or discarded
  return std::make_unique<BlockMapLayout>(std::move(file), g, std::move(map));
}

std::unique_ptr<ImageLayout> CVirtualDiskImage::MakeVhdLayout() const {
  FileHandle file = FileHandle::Open(state_.m_strImagePath, FileHandle::Mode::ReadOnly);
  const std::uint64_t size = file.Size().value_or(0);
  if (state_.m_nVhdType == kVhdFixed) {
    return std::make_unique<PlainFileLayout>(std::move(file), state_.m_nDiskBytes, vhdDataLimit_);
  }
  if (state_.m_nVhdType != kVhdDynamic) return nullptr;  // differencing disks need their parent

  // The header lies where the footer says, which is nearly always byte 512.
  std::uint8_t dynamic[kVhdDynamicHeaderBytes] = {};
  bool found = false;
  for (const std::uint64_t at : {vhdDynamicHeaderOffset_, kVhdDefaultDynamicHeader}) {
    std::memset(dynamic, 0, sizeof dynamic);
    if (at < size && file.ReadAt(dynamic, sizeof dynamic, at) > 0 && IsVhdDynamicCookie(dynamic)) {
      found = true;
      break;
    }
  }
  if (!found) return nullptr;
  const std::uint64_t tableOffset = GetBE64(dynamic + 16);
  const std::uint64_t maxEntries = GetBE32(dynamic + 28);
  const std::uint64_t blockBytes = GetBE32(dynamic + 32);
  if (blockBytes == 0 || blockBytes % kSectorSize != 0 || blockBytes > kMaxVhdBlockBytes) return nullptr;

  const std::uint64_t entries = tableOffset < size ? std::min(maxEntries, (size - tableOffset) / 4) : 0;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(entries) * 4);
  const std::int64_t got = file.ReadAt(raw.data(), raw.size(), tableOffset);
  std::vector<std::uint32_t> map(got > 0 ? static_cast<std::size_t>(got) / 4 : 0);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = GetBE32(raw.data() + i * 4);

  // Each block begins with a bitmap of one bit a sector, in whole sectors.
  const std::uint64_t bitmapSectors = (blockBytes / kSectorSize / 8 + kSectorSize - 1) / kSectorSize;
  BlockMapLayout::Geometry g;
  g.diskBytes = state_.m_nDiskBytes;
  g.blockBytes = blockBytes;
  g.base = bitmapSectors * kSectorSize;
  g.unit = kSectorSize;
  g.firstEmpty = 0xFFFFFFFF;
  return std::make_unique<BlockMapLayout>(std::move(file), g, std::move(map));
}

void CVirtualDiskImage::BuildReader() {
  switch (state_.m_nImageType) {
    case kImageVmware:
      layout_ = MakeVmdkLayout();
      state_.m_nDiskBytes = layout_->DiskBytes();
      break;
    case kImageVirtualBox: layout_ = MakeVdiLayout(); break;
    case kImageVirtualPc: layout_ = MakeVhdLayout(); break;
    default: layout_.reset(); break;
  }
}

bool CVirtualDiskImage::FirstSectorIsBootable() {
  std::uint8_t sector[kSectorSize];
  if (!layout_) return false;
  ReadThroughLayout(*layout_, 0, sector, sizeof sector);
  return HasBootSignature(sector);
}

bool CVirtualDiskImage::ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (bytes == 0) return false;
  if (!layout_ || sector > UINT64_MAX / kSectorSize) {
    std::memset(out, 0, bytes);
    return false;
  }
  const std::uint64_t offset = sector * kSectorSize;
  const bool ok = ReadThroughLayout(*layout_, offset, out, bytes);
  if (!ok && state_.m_nImageType == kImageVmware) {
    const std::uint64_t disk = layout_->DiskBytes();
    if (offset >= disk || bytes > disk - offset) readPastEnd_ = true;
  }
  return ok;
}

MountResult MountImageFile(std::uint32_t imageType, const fs::path& path) {
  MountResult mount;
  mount.image = std::make_shared<CVirtualDiskImage>();
  mount.result = mount.image->Open(imageType, path);
  const MountState& state = mount.image->State();
  const bool readable = mount.result == 1 || state.m_bImageError || state.m_bNoPartition;
  mount.mounted = readable && mount.image->SectorCount() > 0 && mount.image->HasReadableData();
  return mount;
}

}  // namespace corvan
