// The exFAT engine's work files: "exFat.dat", a copy of the FAT through
// which chains are followed, and "ClusterMap.dat", one byte per cluster
// taken from the allocation bitmap, in which the passes also mark the
// folders they have sent.

#include <algorithm>
#include <array>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatEngine.h"
#include "platform/ByteCodec.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

// FAT sectors read at once while verifying and copying.
constexpr std::uint32_t kFatChunkSectors = 2048;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / 4;
constexpr std::uint32_t kMapBlock = kSectorSize * 8;  // map bytes from one bitmap sector

}  // namespace

// ---- the work file ----

bool ExFatWorkFile::Create(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  file_ = FileHandle::Open(path, FileHandle::Mode::CreateTruncate);
  path_ = path;
  size_ = 0;
  cacheValid_ = 0;
  return file_.IsOpen();
}

bool ExFatWorkFile::IsOpen() const {
  std::lock_guard lock(mutex_);
  return file_.IsOpen();
}

std::uint64_t ExFatWorkFile::Size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

bool ExFatWorkFile::Write(std::uint64_t offset, const void* data, std::size_t size) {
  std::lock_guard lock(mutex_);
  if (!file_.IsOpen() || !file_.WriteAt(data, size, offset)) return false;
  size_ = std::max(size_, offset + size);
  // Keep the cached block in step with what was written.
  const std::uint64_t lo = std::max(offset, cacheStart_);
  const std::uint64_t hi = std::min(offset + size, cacheStart_ + cacheValid_);
  if (lo < hi) {
    std::memcpy(cache_.data() + (lo - cacheStart_), static_cast<const std::uint8_t*>(data) + (lo - offset),
                static_cast<std::size_t>(hi - lo));
  }
  return true;
}

bool ExFatWorkFile::Read(std::uint64_t offset, void* data, std::size_t size) const {
  std::lock_guard lock(mutex_);
  if (!file_.IsOpen() || offset > size_ || size > size_ - offset) return false;
  auto* out = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    if (offset < cacheStart_ || offset >= cacheStart_ + cacheValid_) {
      cache_.resize(kBlock);
      cacheStart_ = offset - offset % kBlock;
      const std::int64_t got = file_.ReadAt(cache_.data(), kBlock, cacheStart_);
      cacheValid_ = got > 0 ? static_cast<std::size_t>(got) : 0;
      if (offset >= cacheStart_ + cacheValid_) {
        cacheValid_ = 0;
        return false;
      }
    }
    const std::size_t at = static_cast<std::size_t>(offset - cacheStart_);
    const std::size_t n = std::min(size, cacheValid_ - at);
    std::memcpy(out, cache_.data() + at, n);
    out += n;
    offset += n;
    size -= n;
  }
  return true;
}

void ExFatWorkFile::Close() {
  std::lock_guard lock(mutex_);
  file_.Close();
  size_ = 0;
  cacheValid_ = 0;
}

void ExFatWorkFile::Remove() {
  Close();
  std::lock_guard lock(mutex_);
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    path_.clear();
  }
}

// ---- the FAT ----

bool ExFatEngine::CheckFat() {
  std::array<std::uint8_t, kSectorSize> first{};
  const bool read = ReadSourceOrImage(m_nVolumeStart + m_nFatOffset, 1, first.data());
  const bool signedFat = read && first[0] == 0xF8 && first[1] == 0xFF && first[2] == 0xFF;
  SetCritical(true);
  if (signedFat) {
    const std::uint32_t errors = VerifyFat();
    if (errors > 0) {
      m_host.AppendLog(LoadString(kIdsFat1Verified), false);
      m_host.AppendLog(std::to_string(errors) + " " + LoadString(kIdsErrorFound), false);
    }
  }
  SetCritical(false);
  m_nFatSource = signedFat ? kExFatSourceFat1 : kExFatSourceContiguous;
  return CopyFatToFile();
}

std::uint32_t ExFatEngine::VerifyFat() {
  if (m_nSectorsPerCluster == 0 || std::uint64_t{m_nFatOffset} + m_nFatLength > m_nVolumeLength) return 0;
  const std::uint64_t highest =
      (m_nVolumeLength - (std::uint64_t{m_nFatLength} + m_nFatOffset)) / m_nSectorsPerCluster + 2;
  ProgressSink& progress = Progress();
  progress.SetStatusText(LoadString(kIdsVerifyingFat) + "1");
  progress.SetRange(0, m_nFatLength);
  progress.SetStep(1);

  std::uint32_t errors = 0;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kFatChunkSectors) * kSectorSize);
  const std::uint64_t fatStart = m_nVolumeStart + m_nFatOffset;
  for (std::uint32_t s = 0; s < m_nFatLength; s += kFatChunkSectors) {
    const std::uint32_t n = std::min(kFatChunkSectors, m_nFatLength - s);
    std::vector<bool> readable(n, true);
    if (!ReadSourceOrImage(fatStart + s, n, chunk.data())) {
      // Find out which sectors could not be read; each is one error.
      for (std::uint32_t k = 0; k < n; ++k)
        readable[k] = ReadSourceOrImage(fatStart + s + k, 1, chunk.data() + std::size_t{k} * kSectorSize);
    }
    for (std::uint32_t k = 0; k < n; ++k) {
      if (!readable[k]) {
        ++errors;
        continue;
      }
      const std::uint8_t* sector = chunk.data() + std::size_t{k} * kSectorSize;
      for (std::uint32_t i = 0; i < kEntriesPerSector; ++i) {
        if (s + k == 0 && i == 0) continue;  // the media entry
        const std::uint32_t value = GetLE32(sector + 4 * i);
        if (value != 0xFFFFFFFFu && value > highest) ++errors;
      }
    }
    progress.SetPos(s + n);
  }
  return errors;
}

bool ExFatEngine::CopyFatToFile() {
  m_fatCopy.Close();
  const std::filesystem::path path = WorkFilePath("exFat.dat");
  if (!m_fatCopy.Create(path)) {
    ReportWorkFileFailure(path);
    return false;
  }
  const std::uint64_t first =
      m_nVolumeStart + m_nFatOffset + (m_nFatSource == kExFatSourceFat2 ? m_nFatLength : 0);
  const bool show = m_host.FromScanInfoFlag() == 0 && m_pScanDlg != nullptr;
  if (show) {
    m_pScanDlg->SetStatusText(LoadString(kIdsLoadingFat));
    m_pScanDlg->SetRange(0, m_nFatLength);
    m_pScanDlg->SetStep(1);
  }
  SetCritical(true);
  m_host.AppendLog(LoadString(kIdsFatLinkingMode), true);
  m_host.AppendLog(LoadString(kIdsLoadingFat) + " " + std::to_string(m_nFatSource + 1), false);
  m_host.AppendLog(LoadString(kIdsProcessStarted), false);

  bool ok = true;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kFatChunkSectors) * kSectorSize);
  for (std::uint32_t s = 0; s < m_nFatLength && ok; s += kFatChunkSectors) {
    const std::uint32_t n = std::min(kFatChunkSectors, m_nFatLength - s);
    // A sector that cannot be read goes into the copy as zeros: free
    // entries that end the chains running through it.
    ReadSourceOrImage(first + s, n, chunk.data());
    ok = m_fatCopy.Write(std::uint64_t{s} * kSectorSize, chunk.data(), std::size_t{n} * kSectorSize);
    if (show) m_pScanDlg->SetPos(s + n);
  }
  SetCritical(false);
  if (!ok) {
    m_fatCopy.Remove();
    ReportWorkFileFailure(path);
  }
  return ok;
}

// ---- the cluster map ----

bool ExFatEngine::BuildClusterMap() {
  m_clusterMap.Close();
  const std::filesystem::path path = WorkFilePath("ClusterMap.dat");
  if (!m_clusterMap.Create(path)) {
    ReportWorkFileFailure(path);
    return false;
  }
  m_host.LogPhaseStart(LoadString(kIdsCreatingFreeList));
  ProgressSink& progress = Progress();
  progress.SetStatusText(LoadString(kIdsSearchingCritical));
  const std::uint64_t spc = m_nSectorsPerCluster;
  const std::uint64_t range = spc == 0 ? 0 : (m_nClusterCount / 4096 + spc - 1) / spc * spc;
  progress.SetRange(0, static_cast<std::int64_t>(range));
  progress.SetStep(1);
  progress.SetPos(0);
  SetCritical(true);

  m_nMapEntries = 0;
  bool ended = false, ok = true;
  std::uint64_t sectorsDone = 0;
  std::vector<std::uint8_t> cluster(ClusterBytes());
  std::vector<std::uint8_t> blocks;
  for (const std::uint32_t b : FollowFatChain(m_nBitmapCluster)) {
    if (ended || !ok || spc == 0) break;
    ReadClusters(m_nSectorsPerCluster, b, 0, cluster.data());
    blocks.assign(static_cast<std::size_t>(spc) * kMapBlock, 0);
    std::size_t filled = 0;  // blocks of this cluster to write
    for (std::uint32_t k = 0; k < spc && !ended; ++k) {
      std::uint8_t* block = blocks.data() + std::size_t{k} * kMapBlock;
      const std::uint8_t* bits = cluster.data() + std::size_t{k} * kSectorSize;
      for (std::uint32_t j = 0; j < kMapBlock; ++j) {
        const std::uint64_t i = (sectorsDone + k) * kMapBlock + j;
        const bool set = ((bits[j / 8] >> (j % 8)) & 1) != 0;
        if ((set && i >= m_nClusterCount) || (!set && i > m_nClusterCount)) {
          ended = true;
          break;
        }
        block[j] = set ? 1 : 0;
        ++m_nMapEntries;
      }
      ++filled;
    }
    ok = m_clusterMap.Write(sectorsDone * kMapBlock, blocks.data(), filled * kMapBlock);
    sectorsDone += filled;
    progress.SetPos(static_cast<std::int64_t>(std::min<std::uint64_t>(sectorsDone, range)));
  }
  m_host.LogPhaseEnd();
  SetCritical(false);
  if (!ok) {
    m_clusterMap.Remove();
    m_nMapEntries = 0;
    ReportWorkFileFailure(path);
  }
  return ok;
}

bool ExFatEngine::ClusterMapByte(std::uint32_t cluster, std::uint8_t& value) const {
  if (!IsHeapCluster(cluster) || cluster - exfat::kFirstCluster >= m_nMapEntries) return false;
  return m_clusterMap.Read(cluster - exfat::kFirstCluster, &value, 1);
}

void ExFatEngine::MarkClustersUsed(const FoundItemInfo& record) {
  const std::uint32_t c = record.Location32();
  if (c == 4 || !m_clusterMap.IsOpen() || !IsHeapCluster(c)) return;
  const std::uint32_t index = c - exfat::kFirstCluster;
  if (index >= m_nMapEntries || m_nSectorsPerCluster == 0) return;
  std::uint64_t n = 1;
  if ((record.flags & kExFatItemFatChain) == 0) {
    const std::uint64_t sectors = record.size / kSectorSize + (record.size % kSectorSize ? 1 : 0);
    n = std::max<std::uint64_t>(1, (sectors + m_nSectorsPerCluster - 1) / m_nSectorsPerCluster);
  }
  // The size comes from the disk: never mark past the map.
  n = std::min<std::uint64_t>(n, m_nMapEntries - index);
  const std::vector<std::uint8_t> ones(static_cast<std::size_t>(std::min<std::uint64_t>(n, 65536)), 1);
  for (std::uint64_t done = 0; done < n;) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, ones.size()));
    if (!m_clusterMap.Write(index + done, ones.data(), step)) return;
    done += step;
  }
}

}  // namespace corvan
