// Which FAT copy the engine trusts, loading it, and the cluster map built
// from it.

#include <algorithm>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "engines/fat/FatRebuild.h"
#include "platform/ByteCodec.h"
#include "platform/TimeFormat.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

// Texts of the FAT comparison that have no number of their own.
constexpr const char* kComparingFatCopies = "Comparing FAT copies";
constexpr const char* kIdenticalCopies = "Identical copies";
constexpr const char* kMismatchInFatCopies = "Mismatch in FAT copies";
constexpr const char* kFat2Verified = "FAT 2 verified";

// The comparison, the verifier and the loader read this many sectors a call.
constexpr std::uint32_t kFatReadChunk = 64;

std::uint32_t BadClusterMark(std::uint8_t kind) {
  return kind == kFat12 ? 0xFF7u : kind == kFat16 ? 0xFFF7u : 0x0FFFFFF7u;
}
std::uint32_t VerifyEndOfChain(std::uint8_t kind) {
  return kind == kFat12 ? 0xFF8u : kind == kFat16 ? 0xFFF8u : 0x0FFFFFFFu;
}

// Byte offset of entry n in its FAT.
std::uint64_t EntryOffset(std::uint8_t kind, std::uint64_t n) {
  return kind == kFat12 ? n + n / 2 : kind == kFat16 ? 2 * n : 4 * n;
}

// Entry n of a FAT image that begins `base` bytes into the FAT, by the
// kind's width, FAT32 as stored (32 bits); nothing when the entry does not
// lie wholly inside the image.
std::optional<std::uint32_t> RawEntry(const std::uint8_t* fat, std::size_t bytes, std::uint8_t kind,
                                      std::uint64_t n, std::uint64_t base = 0) {
  const std::uint64_t offset = EntryOffset(kind, n);
  const std::uint64_t width = kind == kFat32 ? 4 : 2;
  if (offset < base || offset - base + width > bytes) return std::nullopt;
  const std::uint8_t* p = fat + (offset - base);
  if (kind == kFat12) {
    const std::uint16_t word = GetLE16(p);
    return (n & 1) ? static_cast<std::uint32_t>(word >> 4) : static_cast<std::uint32_t>(word & 0xFFF);
  }
  return kind == kFat16 ? std::uint32_t{GetLE16(p)} : GetLE32(p);
}

// FAT16/32 sector whose entries all equal its first: a wiped or never
// written sector, better taken from the other copy.
bool IsUniformSector(const std::uint8_t* s, std::uint8_t kind) {
  const std::size_t width = kind == kFat32 ? 4 : 2;
  for (std::size_t i = width; i < kSectorSize; i += width) {
    if (std::memcmp(s, s + i, width) != 0) return false;
  }
  return true;
}

}  // namespace

std::uint8_t FatEngine::CheckFatSignatures() const {
  std::uint8_t sector[kSectorSize];
  bool signedCopy[2] = {false, false};
  for (std::uint32_t copy = 0; copy < 2; ++copy) {
    const std::uint64_t at = m_nVolumeStart + m_nReservedSectors + std::uint64_t{copy} * m_nFatSize;
    signedCopy[copy] = ReadSourceOrImage(at, sector, 1) && IsFatFirstSector(sector);
  }
  return signedCopy[0] ? 0 : signedCopy[1] ? 1 : 2;
}

void FatEngine::SelectFatCopy() {
  m_fat.clear();
  if (!LayoutIsSound()) {
    // Nothing may be sized from this layout: work without a FAT.
    m_nFatSource = kFatSourceContiguous;
    return;
  }
  const std::uint8_t signature = CheckFatSignatures();
  bool sig1 = signature == 0;
  bool sig2 = signature == 1;
  if (sig1) {
    // CheckFatSignatures stops at FAT1; the comparison needs FAT2's too.
    std::uint8_t sector[kSectorSize];
    sig2 = ReadSourceOrImage(m_nVolumeStart + m_nReservedSectors + m_nFatSize, sector, 1) && IsFatFirstSector(sector);
  }

  if (sig1 && sig2) {
    const std::size_t bytes = static_cast<std::size_t>(m_nFatSize) * kSectorSize;
    std::vector<std::uint8_t> a(bytes), b(bytes);
    m_host.AppendLog(kComparingFatCopies, true);
    m_host.LogProcessStarted();
    SetCritical(true);
    std::uint32_t firstDiff = 0;
    if (CompareFatCopies(a, b, firstDiff)) {
      m_host.AppendLog(LoadString(kIdsProcessCompleted), false);
      m_host.AppendLog(kIdenticalCopies, false);
      m_fat = std::move(a);
      m_nFatSource = kFatSourceFat1;
      SetCritical(false);
      return;
    }
    a = {};
    b = {};
    m_host.AppendLog(LoadString(kIdsProcessCompleted), false);
    m_host.AppendLog(kMismatchInFatCopies, false);
    const std::uint32_t e1 = VerifyFatCopy(firstDiff, 0);
    if (e1 > 0) {
      m_host.AppendLog(LoadString(kIdsFat1Verified), false);
      m_host.AppendLog(std::to_string(e1) + " " + LoadString(kIdsErrorFound), false);
    }
    const std::uint32_t e2 = VerifyFatCopy(firstDiff, 1);
    if (e2 > 0) {
      m_host.AppendLog(kFat2Verified, false);
      m_host.AppendLog(std::to_string(e2) + " " + LoadString(kIdsErrorFound), false);
    }
    if (e1 > e2) sig1 = false;
    SetCritical(false);
  }

  m_nFatSource = sig1 ? kFatSourceFat1 : sig2 ? kFatSourceFat2 : kFatSourceContiguous;
  LoadFatTable();
}

bool FatEngine::CompareFatCopies(std::vector<std::uint8_t>& a, std::vector<std::uint8_t>& b,
                                 std::uint32_t& firstDiff) {
  const std::size_t bytes = static_cast<std::size_t>(m_nFatSize) * kSectorSize;
  a.assign(bytes, 0);
  b.assign(bytes, 0);
  ProgressSink& progress = Progress();
  progress.SetStatusText(kComparingFatCopies);
  progress.SetRange(0, m_nFatSize / kFatReadChunk + 1);
  progress.SetStep(1);
  const std::uint64_t fat1 = m_nVolumeStart + m_nReservedSectors;
  const std::uint64_t fat2 = fat1 + m_nFatSize;
  for (std::uint32_t s = 0; s < m_nFatSize; s += kFatReadChunk) {
    const std::uint32_t n = std::min(kFatReadChunk, m_nFatSize - s);
    // A failed read leaves zeros, which the comparison then sees.
    ReadSourceOrImage(fat1 + s, a.data() + std::size_t{s} * kSectorSize, n);
    ReadSourceOrImage(fat2 + s, b.data() + std::size_t{s} * kSectorSize, n);
    progress.StepIt();
  }
  for (std::uint32_t s = 0; s < m_nFatSize; ++s) {
    const std::size_t at = std::size_t{s} * kSectorSize;
    if (std::memcmp(a.data() + at, b.data() + at, kSectorSize) != 0) {
      firstDiff = s;
      return false;
    }
  }
  firstDiff = m_nFatSize;
  return true;
}

std::uint32_t FatEngine::VerifyFatCopy(std::uint32_t firstSector, std::uint8_t copy) {
  if (firstSector >= m_nFatSize) return 0;
  const std::uint64_t lastValid = Layout().DataClusters() + 2;
  const std::uint32_t endOfChain = VerifyEndOfChain(m_nFatKind);
  ProgressSink& progress = Progress();
  progress.SetStatusText(LoadString(kIdsVerifyingFat) + std::to_string(copy + 1));
  progress.SetRange(0, m_nFatSize);
  progress.SetStep(1);

  // The copy from firstSector on, with a flag per sector that could not be read.
  const std::uint32_t sectors = m_nFatSize - firstSector;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(sectors) * kSectorSize);
  std::vector<bool> unread(sectors, false);
  const std::uint64_t from = m_nVolumeStart + m_nReservedSectors + std::uint64_t{copy} * m_nFatSize + firstSector;
  for (std::uint32_t s = 0; s < sectors; s += kFatReadChunk) {
    const std::uint32_t n = std::min(kFatReadChunk, sectors - s);
    std::uint8_t* at = image.data() + std::size_t{s} * kSectorSize;
    if (ReadSourceOrImage(from + s, at, n)) continue;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!ReadSourceOrImage(from + s + i, at + std::size_t{i} * kSectorSize, 1)) unread[s + i] = true;
    }
  }

  std::uint32_t errors = 0;
  const std::uint64_t base = std::uint64_t{firstSector} * kSectorSize;
  const std::uint64_t width = m_nFatKind == kFat32 ? 4 : 2;
  for (std::uint32_t s = 0; s < sectors; ++s) {
    progress.StepIt();
    if (unread[s]) {
      ++errors;
      continue;
    }
    // The entries that begin in this sector.
    const std::uint64_t lo = base + std::uint64_t{s} * kSectorSize;
    const std::uint64_t hi = lo + kSectorSize;
    std::uint64_t n = m_nFatKind == kFat12 ? (2 * lo + 2) / 3 : lo / width;
    for (; EntryOffset(m_nFatKind, n) < hi; ++n) {
      const auto v = RawEntry(image.data(), image.size(), m_nFatKind, n, base);
      if (v && *v < endOfChain && *v > lastValid) ++errors;
    }
  }
  return errors;
}

bool FatEngine::LoadFatTable() {
  m_fat.clear();
  if (m_nFatSource == kFatSourceContiguous || !LayoutIsSound()) return false;
  SetCritical(true);
  std::vector<std::uint8_t> fat(static_cast<std::size_t>(m_nFatSize) * kSectorSize, 0);
  const std::uint8_t other = m_nFatSource == kFatSourceFat1 ? 1 : 0;
  const std::uint64_t fat1 = m_nVolumeStart + m_nReservedSectors;
  const std::uint64_t chosen = fat1 + std::uint64_t{m_nFatSource} * m_nFatSize;
  const std::uint64_t alternate = fat1 + std::uint64_t{other} * m_nFatSize;

  const bool showProgress = m_host.FromScanInfoFlag().load() == 0 && m_pScanDlg != nullptr;
  if (showProgress) {
    m_pScanDlg->SetStatusText(LoadString(kIdsLoadingFat));
    m_pScanDlg->SetRange(0, m_nFatSize);
    m_pScanDlg->SetStep(1);
  }
  m_host.AppendLog(LoadString(kIdsFatLinkingMode), true);
  m_host.AppendLog(LoadString(kIdsLoadingFat) + " " + std::to_string(m_nFatSource + 1), false);
  m_host.AppendLog(LoadString(kIdsProcessStarted), false);

  for (std::uint32_t s = 0; s < m_nFatSize; s += kFatReadChunk) {
    const std::uint32_t n = std::min(kFatReadChunk, m_nFatSize - s);
    std::uint8_t* chunk = fat.data() + std::size_t{s} * kSectorSize;
    const bool chunkRead = ReadSourceOrImage(chosen + s, chunk, n);
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t* sector = chunk + std::size_t{i} * kSectorSize;
      bool good = chunkRead || ReadSourceOrImage(chosen + s + i, sector, 1);
      if (good && m_nFatKind != kFat12 && IsUniformSector(sector, m_nFatKind)) good = false;
      if (!good) {
        std::uint8_t replacement[kSectorSize];
        if (ReadSourceOrImage(alternate + s + i, replacement, 1)) std::memcpy(sector, replacement, kSectorSize);
      }
      if (showProgress) m_pScanDlg->StepIt();
    }
  }
  m_fat = std::move(fat);
  SetCritical(false);
  return true;
}

bool FatEngine::ChangeFatSource(std::uint8_t source) {
  if (source > kFatSourceContiguous || source == m_nFatSource) return false;
  AttachWindows(m_host.ResultsSink(), m_host.ScanProgressSink());
  m_nFatSource = source;
  LoadFatTable();
  return true;
}

std::uint32_t FatEngine::LastDataCluster() const {
  std::uint64_t last = Layout().DataClusters() + 1;
  if (!m_fat.empty()) {
    const std::uint64_t capacity = std::uint64_t{m_nFatSize} * FatEntriesPerSector(m_nFatKind);
    last = std::min(last, capacity - 1);
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0x0FFFFFF6u));
}

std::optional<std::uint32_t> FatEngine::FatEntry(std::uint32_t cluster) const {
  const auto v = RawEntry(m_fat.data(), m_fat.size(), m_nFatKind, cluster);
  if (v && m_nFatKind == kFat32) return *v & 0x0FFFFFFFu;
  return v;
}

void FatEngine::BuildClusterMap() {
  m_clusterMap.clear();
  // The data area bounds every cluster number, whatever the FAT could hold.
  const std::uint64_t dataEnd = Layout().DataClusters() + 2;
  if (m_nFatSource != kFatSourceContiguous && !m_fat.empty()) {
    const std::uint64_t capacity = std::uint64_t{m_nFatSize} * FatEntriesPerSector(m_nFatKind);
    m_nHighestCluster = static_cast<std::uint32_t>(std::min(capacity, dataEnd));
    m_clusterMap = MarkAllocatedClusters();
  }
  if (m_clusterMap.empty()) {
    m_nHighestCluster = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataEnd, 0x0FFFFFF8u));
    m_clusterMap.assign(std::size_t{m_nHighestCluster} + 1, kClusterAllocated);
  }
}

std::vector<std::uint8_t> FatEngine::MarkAllocatedClusters() {
  if (m_nFatSource == kFatSourceContiguous || m_fat.empty()) return {};
  std::vector<std::uint8_t> map(std::size_t{m_nHighestCluster} + 1, kClusterFree);
  ProgressSink& progress = Progress();
  progress.SetStatusText(LoadString(kIdsSearchingCritical));
  progress.SetRange(0, m_nFatSize);
  progress.SetStep(1);
  SetCritical(true);
  const std::uint32_t bad = BadClusterMark(m_nFatKind);
  const std::uint32_t perSector = FatEntriesPerSector(m_nFatKind);
  for (std::uint32_t n = 2; n < m_nHighestCluster; ++n) {
    if (n % perSector == 0) progress.StepIt();
    const auto v = RawEntry(m_fat.data(), m_fat.size(), m_nFatKind, n);
    if (v && *v != 0 && *v != bad) map[n] = kClusterAllocated;
  }
  SetCritical(false);
  progress.SetCounterText("0 " + LoadString(kIdsEntriesFound));
  return map;
}

}  // namespace corvan
