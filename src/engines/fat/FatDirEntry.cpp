// Telling real 32-byte FAT directory entries from other data.

#include <cstring>

#include "engines/fat/FatEngine.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint8_t kAttrLongName = 0x0F;
constexpr std::uint8_t kAttrVolumeLabel = 0x08;
constexpr std::uint8_t kAttrDirectory = 0x10;
constexpr std::uint8_t kAttrArchive = 0x20;
constexpr int kFolderProbes = 15;

std::uint32_t EntryFirstCluster(const std::uint8_t* e) {
  return (std::uint32_t{GetLE16(e + 20)} << 16) | GetLE16(e + 26);
}

bool HasForbiddenNameChar(const std::uint8_t* e) {
  for (int i = 0; i < 8; ++i) {
    if (std::strchr("\\/:*?\"<>|", e[i]) != nullptr && e[i] != 0) return true;
  }
  return false;
}

}  // namespace

bool FatEngine::HasDotEntries(std::uint32_t cluster) const {
  std::uint8_t sector[kSectorSize];
  return ReadClusters(cluster, 0, sector, 1) && sector[0] == '.' && sector[32] == '.';
}

std::uint8_t FatEngine::ClassifyDirEntry(const std::uint8_t* e, std::uint32_t highestCluster, bool strict,
                                         std::uint32_t* foundCluster, bool checkFolders) const {
  if (foundCluster) *foundCluster = 0;
  const std::uint8_t attr = e[11];
  if (attr == kAttrLongName) return kDirEntrySkip;
  if (attr > 0x3F) return kDirEntryInvalid;
  // `highestCluster` is one past the last data cluster, as the decoder and
  // the cluster map take it.
  const std::uint32_t first = EntryFirstCluster(e);
  if (first >= highestCluster) return kDirEntryInvalid;
  const std::int64_t dataSectors = static_cast<std::int64_t>(m_nSectorCount) -
                                   static_cast<std::int64_t>(Layout().DataStart());
  if (dataSectors < 0 || static_cast<std::int64_t>(GetLE32(e + 28) / kSectorSize) > dataSectors) {
    return kDirEntryInvalid;
  }
  if (std::memchr(e, 0, 11) != nullptr) return kDirEntryInvalid;
  const std::uint16_t date = GetLE16(e + 24);
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned day = date & 0x1F;
  if (month < 1 || month > 12 || day < 1 || day > 31) return kDirEntryInvalid;
  if (attr < kAttrVolumeLabel) return kDirEntryInvalid;

  if (attr & kAttrArchive) {
    if (HasForbiddenNameChar(e)) return kDirEntryInvalid;
  } else if ((attr & kAttrDirectory) && checkFolders) {
    if (!HasDotEntries(first)) {
      if (strict || m_nFatKind != kFat32 || e[0] != 0xE5) return kDirEntryInvalid;
      // A deleted FAT32 folder may have lost the high half of its first
      // cluster: try the next values of bits 16-23.
      std::uint32_t candidate = first;
      for (int probe = 0; probe < kFolderProbes; ++probe) {
        const std::uint32_t bits = ((candidate >> 16) + 1) & 0xFF;
        candidate = (candidate & 0xFF00FFFFu) | (bits << 16);
        if (candidate >= highestCluster) break;
        if (HasDotEntries(candidate)) {
          if (foundCluster) *foundCluster = candidate;
          break;
        }
      }
    }
  }
  if (first < 2) return kDirEntrySkip;
  if (attr & kAttrVolumeLabel) return kDirEntrySkip;
  return kDirEntryValid;
}

std::uint8_t FatEngine::ValidateDirEntry(const std::uint8_t* entry, std::uint32_t highestCluster,
                                         std::uint32_t* foundCluster) const {
  return ClassifyDirEntry(entry, highestCluster, false, foundCluster);
}

std::uint8_t FatEngine::ValidateDirEntryStrict(const std::uint8_t* entry, std::uint32_t highestCluster) const {
  return ClassifyDirEntry(entry, highestCluster, true, nullptr);
}

}  // namespace corvan
