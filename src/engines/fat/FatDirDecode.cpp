// Directory entries turned into found items, the walks over a folder's
// clusters, and the passes over deferred and lost folders.

#include <algorithm>
#include <array>
#include <cstring>

#include "core/EngineHost.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint8_t kAttrLongName = 0x0F;
constexpr std::uint8_t kAttrVolumeLabel = 0x08;
constexpr std::uint8_t kLastLongNamePart = 0x40;

// More long-name text than 20 parts can hold is not a name; a name keeps at
// most the 255 units FAT allows.
constexpr std::size_t kMaxLongNameUnits = 260;
constexpr std::size_t kMaxNameUnits = 255;
constexpr int kClusterProbes = 15;
// Folders nested deeper than this are listed but not opened, so a crafted
// volume cannot exhaust the stack.
constexpr std::uint32_t kMaxFolderDepth = 512;

std::uint32_t EntryFirstCluster(const std::uint8_t* e) {
  return (std::uint32_t{GetLE16(e + 20)} << 16) | GetLE16(e + 26);
}

// Headers a deleted file's first cluster should begin with, by extension.
struct HeaderRow {
  std::array<const char*, 3> extensions;
  bool (*matches)(const std::uint8_t* sector);
};

bool StartsWith(const std::uint8_t* s, std::initializer_list<std::uint8_t> bytes) {
  std::size_t i = 0;
  for (const std::uint8_t b : bytes) {
    if (s[i++] != b) return false;
  }
  return true;
}

bool IsMp4Box(const std::uint8_t* s) {
  static constexpr const char* kBoxes[] = {"moov", "pdin", "moof", "mfra", "free", "skip", "junk", "wide",
                                           "pnot", "pict", "meta", "meco", "uuid", "mdat", "ftyp"};
  return std::any_of(std::begin(kBoxes), std::end(kBoxes),
                     [s](const char* box) { return std::memcmp(s + 4, box, 4) == 0; });
}

const HeaderRow kHeaderRows[] = {
    {{"doc", "xls", "ppt"}, [](const std::uint8_t* s) { return StartsWith(s, {0xD0, 0xCF, 0x11, 0xE0}); }},
    {{"docx", "xlsx", "pptx"}, [](const std::uint8_t* s) { return StartsWith(s, {0x50, 0x4B, 0x03, 0x04}); }},
    {{"pdf", nullptr, nullptr}, [](const std::uint8_t* s) { return std::memcmp(s, "%PDF-1.", 7) == 0; }},
    {{"mp4", nullptr, nullptr}, IsMp4Box},
    {{"mpg", nullptr, nullptr}, [](const std::uint8_t* s) { return StartsWith(s, {0x00, 0x00, 0x01, 0xBA}); }},
    {{"mov", nullptr, nullptr}, IsMp4Box},
    {{"avi", nullptr, nullptr}, [](const std::uint8_t* s) { return std::memcmp(s, "RIFF", 4) == 0; }},
    {{"jpg", "jpeg", nullptr}, [](const std::uint8_t* s) { return StartsWith(s, {0xFF, 0xD8}); }},
    {{"zip", nullptr, nullptr}, [](const std::uint8_t* s) { return StartsWith(s, {0x50, 0x4B}); }},
    {{"mp3", nullptr, nullptr},
     [](const std::uint8_t* s) {
       return StartsWith(s, {0xFF, 0xFA}) || StartsWith(s, {0xFF, 0xFB}) || StartsWith(s, {0xFF, 0xE3}) ||
              std::memcmp(s, "ID3", 3) == 0;
     }},
};

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// The first row with an extension that begins with `ext` (case ignored).
const HeaderRow* FindHeaderRow(const std::u16string& ext) {
  if (ext.empty()) return nullptr;
  for (const HeaderRow& row : kHeaderRows) {
    for (const char* candidate : row.extensions) {
      if (!candidate || std::strlen(candidate) < ext.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < ext.size() && same; ++i) same = AsciiLower(ext[i]) == char16_t(candidate[i]);
      if (same) return &row;
    }
  }
  return nullptr;
}

void AppendLongNamePart(std::u16string& out, const std::uint8_t* p) {
  static constexpr int kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (const int o : kOffsets) out.push_back(static_cast<char16_t>(GetLE16(p + o)));
}

std::u16string NumberedFolderName(std::uint64_t cluster) {
  return Utf8ToUtf16(LoadString(kIdsFolder) + " " + std::to_string(cluster));
}

}  // namespace

// ---- names ----

bool FatEngine::AssembleLongName(std::uint32_t offset, std::span<const std::uint8_t> buffer,
                                 std::uint32_t previousCluster, bool checkSum, std::u16string& name) const {
  const std::uint8_t* shortEntry = buffer.data() + offset;
  const std::uint8_t sum = ShortNameChecksum(shortEntry);
  std::u16string units;
  bool overflow = false;
  // Takes one part; false when the walk ends before it or with it.
  auto take = [&](const std::uint8_t* p, bool& taken) {
    taken = false;
    if (p[11] != kAttrLongName) return false;
    // Parts left over from an older name in front of a live entry carry
    // another checksum: they are not this entry's name.
    if (checkSum && p[13] != sum) return false;
    AppendLongNamePart(units, p);
    taken = true;
    if (units.size() > kMaxLongNameUnits) {
      overflow = true;
      return false;
    }
    return !(checkSum && (p[0] & kLastLongNamePart));
  };

  bool goOn = true;
  bool taken = false;
  std::int64_t at = static_cast<std::int64_t>(offset) - 32;
  for (; at >= 0 && goOn; at -= 32) goOn = take(buffer.data() + at, taken);
  if (goOn && previousCluster != kNoCluster && previousCluster >= 2) {
    // The name began in the folder's previous cluster: its last two sectors
    // hold more parts than a name can have.
    const std::uint16_t sectors = m_nSectorsPerCluster >= 2 ? 2 : 1;
    std::vector<std::uint8_t> tail(std::size_t{sectors} * kSectorSize);
    if (ReadClusters(previousCluster, static_cast<std::uint16_t>(m_nSectorsPerCluster - sectors), tail.data(),
                     sectors)) {
      for (std::int64_t t = static_cast<std::int64_t>(tail.size()) - 32; t >= 0 && goOn; t -= 32) {
        goOn = take(tail.data() + t, taken);
      }
    }
  }
  if (overflow) return false;
  const std::size_t end = units.find(u'\0');
  if (end != std::u16string::npos) units.resize(end);
  if (units.size() > kMaxNameUnits) units.resize(kMaxNameUnits);
  name = std::move(units);
  return true;
}

std::uint64_t FatEngine::ProbeFirstCluster(const std::uint8_t* entry, std::uint32_t clusterHint,
                                           const std::function<bool(const std::uint8_t*)>& accept) const {
  const std::uint32_t own = EntryFirstCluster(entry);
  const std::uint32_t low = own & 0xFFFFu;
  std::uint8_t sector[kSectorSize];
  for (int k = 0; k < kClusterProbes; ++k) {
    std::uint32_t candidate = own;
    if (k == 1 && clusterHint != 0) candidate = low | (clusterHint & 0xFFFF0000u);
    if (k >= 2) candidate = low | (static_cast<std::uint32_t>(k - 1) << 16) | (own & 0xFF000000u);
    if (candidate >= m_nHighestCluster) {
      if (k >= 2) break;
      continue;
    }
    if (ReadClusters(candidate, 0, sector, 1) && accept(sector)) return candidate;
  }
  return 0;
}

bool FatEngine::DecodeDirEntry(std::uint32_t offset, std::u16string& name, std::span<const std::uint8_t> buffer,
                               FoundItemInfo& record, std::uint32_t previousCluster, std::uint32_t clusterHint,
                               bool strict, bool listEmptyFile) {
  if (std::uint64_t{offset} + 32 > buffer.size()) return false;
  const std::uint8_t* e = buffer.data() + offset;
  if (e[0] == '.' || e[0] == 0) return false;
  record.attribute = e[11];
  if (e[11] == kAttrLongName || (e[11] & kAttrVolumeLabel)) return false;
  const std::uint32_t first = EntryFirstCluster(e);
  record.location = first;
  if (first >= m_nHighestCluster) return false;
  if (first < 2 && !(listEmptyFile && !record.IsDeleted() && IsLiveEmptyFileEntry(e))) return false;
  record.itemId = m_poster.TakeId();

  const std::uint64_t modified = GetLE16(e + 22) | (std::uint64_t{GetLE16(e + 24)} << 32);
  record.modifiedTime = modified;
  record.creationTime =
      m_nFatKind == kFat32 ? (GetLE16(e + 14) | (std::uint64_t{GetLE16(e + 16)} << 32)) : modified;

  const std::uint64_t dataSectors = m_nSectorCount > Layout().DataStart() ? m_nSectorCount - Layout().DataStart() : 0;
  const std::uint32_t size = GetLE32(e + 28);
  if (size > dataSectors * kSectorSize) return false;
  record.size = (e[11] & kItemFolder) ? 0 : size;

  const bool deletedEntry = e[0] == 0xE5;
  std::u16string longName;
  if (!AssembleLongName(offset, buffer, previousCluster, !deletedEntry, longName)) return false;
  name = longName.empty() ? DecodeShortName(e, m_nOemCodePage) : longName;
  if (name.empty()) return false;
  record.extra = {};

  if (!deletedEntry && !record.IsDeleted()) return true;
  record.flags |= kItemDeleted;

  if (e[11] & kItemFolder) {
    record.attribute = kItemFolder;
    const std::uint64_t found = ProbeFirstCluster(e, clusterHint, [](const std::uint8_t* s) {
      return s[0] == '.' && s[32] == '.' && s[33] == '.';
    });
    if (found != 0) {
      record.location = found;
      return true;
    }
    if (strict) {
      record.location = 0;
      return false;
    }
    return true;
  }

  std::u16string extension;
  if (!longName.empty()) {
    const std::size_t dot = longName.rfind(u'.');
    if (dot != std::u16string::npos) extension = longName.substr(dot + 1, 4);
  } else {
    for (int i = 8; i < 11 && e[i] != ' '; ++i) extension.push_back(OemToUnicode(e[i], m_nOemCodePage));
  }
  const HeaderRow* row = FindHeaderRow(extension);
  if (!row) return true;
  record.attribute = kItemFile;
  const std::uint64_t found = ProbeFirstCluster(e, clusterHint, row->matches);
  if (found != 0) record.location = found;
  return true;
}

// ---- folder walks ----

void FatEngine::WalkFolderChain(std::uint32_t parentId, std::uint32_t firstCluster, bool deleted,
                                std::uint8_t walkFlag, bool throughParent) {
  if (m_nFolderDepth >= kMaxFolderDepth) return;
  ++m_nFolderDepth;
  const std::vector<std::uint32_t> clusters =
      deleted ? GetClusterChain(firstCluster, 1, true) : FollowFatChain(firstCluster);
  std::vector<std::uint8_t> buffer(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  FoundItemInfo folder;
  folder.parentId = parentId;
  folder.flags = deleted ? kItemDeleted : 0;
  std::uint32_t previous = kNoCluster;
  for (std::size_t i = 0; i < clusters.size() && !Aborted(); ++i) {
    const std::uint32_t c = clusters[i];
    // A cluster that cannot be read ends the folder rather than being
    // parsed as stale data.
    if (!ReadClusters(c, 0, buffer.data(), m_nSectorsPerCluster)) break;
    if (i == 0 && buffer[0] != '.' && buffer[32] != '.') break;
    if (m_bMarkFlag && m_nFatSource != kFatSourceContiguous && c < m_clusterMap.size()) {
      m_clusterMap[c] = kClusterFound;
    }
    if (!WalkDirectoryCluster(buffer, folder, previous, c, walkFlag, 0, throughParent && !deleted)) break;
    previous = c;
  }
  --m_nFolderDepth;
}

void FatEngine::WalkFolderFromValidSector(std::uint32_t parentId, std::uint32_t cluster, std::uint8_t walkFlag) {
  std::vector<std::uint8_t> buffer(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  if (!ReadClusters(cluster, 0, buffer.data(), m_nSectorsPerCluster)) return;
  FoundItemInfo folder;
  folder.parentId = parentId;
  folder.flags = kItemDeleted;
  for (std::uint32_t s = 1; s < m_nSectorsPerCluster && !Aborted(); ++s) {
    for (std::uint32_t at = s * kSectorSize; at < (s + 1) * kSectorSize; at += 32) {
      const std::uint8_t verdict = ValidateDirEntryStrict(buffer.data() + at, m_nHighestCluster);
      if (verdict == kDirEntrySkip) continue;
      if (verdict == kDirEntryInvalid) break;
      WalkDirectoryCluster(buffer, folder, kNoCluster, cluster, walkFlag, s * kSectorSize);
      return;
    }
  }
}

bool FatEngine::ReadRootRegion(std::vector<std::uint8_t>& region) const {
  region.assign(std::size_t{m_nRootDirSectors} * kSectorSize, 0);
  if (region.empty()) return false;
  return ReadSourceOrImage(m_nVolumeStart + m_nReservedSectors + 2ull * m_nFatSize, region.data(),
                           m_nRootDirSectors);
}

void FatEngine::AddDeferredFolders(std::uint8_t walkFlag) {
  m_host.AppendLog(LoadString(kIdsAddingDeleted), false);
  std::vector<std::uint8_t> data;
  // Walks append further deferred folders; they are handled in turn.
  for (std::size_t i = 0; i < m_visitedFolders.size() && !Aborted(); ++i) {
    const VisitedFolderNode node = m_visitedFolders[i];
    if (node.removed) continue;
    FoundItemInfo record;
    record.flags = kItemDeleted;
    record.parentId = static_cast<std::uint32_t>(node.parent);
    if (m_nFatKind != kFat32 && node.entryCluster == 0) {
      ReadRootRegion(data);
    } else {
      data.assign(std::size_t{m_nSectorsPerCluster} * kSectorSize, 0);
      if (!ReadClusters(node.entryCluster, 0, data.data(), m_nSectorsPerCluster)) continue;
    }
    std::u16string name;
    if (!DecodeDirEntry(node.entryOffset, name, data, record, node.previousCluster, 0, false)) continue;
    record.attribute = kItemFolder;
    AddFoundFolder(record.location, record.itemId);
    Post(record, name);
    const auto cluster = static_cast<std::uint32_t>(record.location);
    std::uint8_t sector[kSectorSize];
    if (ReadClusters(cluster, 0, sector, 1) && sector[0] == '.' && sector[32] == '.') {
      WalkFolderChain(record.itemId, cluster, true, walkFlag);
    } else {
      WalkFolderFromValidSector(record.itemId, cluster, walkFlag);
    }
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void FatEngine::AddLostFolders() {
  m_bLostFolderFlag = 1;
  m_host.AppendLog(LoadString(kIdsAddingLost), false);
  std::size_t i = 0;
  while (i < m_pendingFolders.size() && !Aborted()) {
    const FolderClusterNode node = m_pendingFolders[i];
    const std::uint64_t parentCluster = node.value;
    const bool parentPending = std::any_of(m_pendingFolders.begin(), m_pendingFolders.end(),
                                           [&](const FolderClusterNode& n) { return n.cluster == parentCluster; });
    if (parentPending) {
      ++i;  // handled after its parent
      continue;
    }
    std::uint32_t parentId = 0;
    if (const auto known = FoundFolderId(parentCluster)) {
      parentId = *known;
    } else {
      if (!FindPair(kFatLostFolderId)) {
        FoundItemInfo lost;
        lost.attribute = kItemFolder;
        lost.location = kFatLostFolderId;
        lost.itemId = kFatLostFolderId;
        lost.parentId = kFatRootId;
        AddFoundFolder(kFatLostFolderId, kFatLostFolderId);
        Post(lost, Utf8ToUtf16(LoadString(kIdsLostFolders)));
      }
      FoundItemInfo parent;
      parent.attribute = kItemFolder;
      parent.location = parentCluster;
      parent.itemId = m_poster.TakeId();
      parent.parentId = kFatLostFolderId;
      AddFoundFolder(parentCluster, parent.itemId);
      PostNamedByCluster(parent, NumberedFolderName(parentCluster));
      parentId = parent.itemId;
    }
    const auto cluster = static_cast<std::uint32_t>(node.cluster);
    FoundItemInfo folder;
    folder.attribute = kItemFolder;
    folder.location = cluster;
    folder.itemId = m_poster.TakeId();
    folder.parentId = parentId;
    const auto fatState = FatEntry(cluster);
    const bool deleted = m_nFatSource == kFatSourceContiguous || m_fat.empty() || (fatState && *fatState == 0);
    if (deleted) folder.flags = kItemDeleted;
    AddFoundFolder(cluster, folder.itemId);
    PostNamedByCluster(folder, NumberedFolderName(cluster));
    MarkItemClusters(cluster, nullptr, false);
    RemovePendingFolder(cluster);
    WalkFolderChain(folder.itemId, cluster, deleted, 0);
    i = 0;
  }
  m_bLostFolderFlag = 0;
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

// ---- list lookups ----

void FatEngine::AddFoundFolder(std::uint64_t cluster, std::uint32_t itemId) {
  m_foundFolders.push_back({cluster, itemId});
  m_foundFolderIndex.emplace(cluster, itemId);  // the first listing wins
}

std::optional<std::uint32_t> FatEngine::FoundFolderId(std::uint64_t cluster) const {
  const auto it = m_foundFolderIndex.find(cluster);
  if (it == m_foundFolderIndex.end()) return std::nullopt;
  return it->second;
}

bool FatEngine::FindPair(std::uint64_t cluster) const { return m_foundFolderIndex.count(cluster) != 0; }

bool FatEngine::FindDeferredPair(std::uint64_t cluster) const {
  return std::any_of(m_visitedFolders.begin(), m_visitedFolders.end(),
                     [&](const VisitedFolderNode& n) { return !n.removed && n.cluster == cluster; });
}

bool FatEngine::RemovePair(std::uint64_t cluster) {
  for (VisitedFolderNode& n : m_visitedFolders) {
    if (!n.removed && n.cluster == cluster) {
      n.removed = true;
      return true;
    }
  }
  return false;
}

bool FatEngine::RemovePendingFolder(std::uint64_t cluster) {
  const auto it = std::find_if(m_pendingFolders.begin(), m_pendingFolders.end(),
                               [&](const FolderClusterNode& n) { return n.cluster == cluster; });
  if (it == m_pendingFolders.end()) return false;
  m_pendingFolders.erase(it);
  return true;
}

}  // namespace corvan
