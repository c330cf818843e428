// The volume's $Bitmap (record 6) as a list of free-cluster extents, for the
// searches that look only at unallocated space and for raw hits assumed to
// fill the free clusters after their start.

#include <algorithm>
#include <array>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "platform/ByteCodec.h"

namespace corvan {

namespace {
constexpr std::uint64_t kBitmapRecord = 6;
}  // namespace

void NtfsEngine::LoadVolumeBitmap() {
  m_freeExtents.clear();
  m_bFreeExtentsValid = false;
  if (m_nSectorsPerCluster == 0) {
    m_nSectorsPerCluster = m_nPartitionSectorsPerCluster;
    m_nMftSector = m_nPartitionMftSector;
    m_nMftMirrSector = m_nPartitionMftMirrSector;
  }
  if (!ntfs::ValidSectorsPerCluster(m_nSectorsPerCluster)) {
    if (!ValidateBootSector()) return;
  } else if (m_nMftSector == 0) {
    // Only where the $MFT lies is taken from a boot sector copy: the
    // cluster size stays the one already settled (by a vote, for example).
    for (const std::uint64_t sector : {std::uint64_t{0}, m_nVolumeSectorCount ? m_nVolumeSectorCount - 1 : 0}) {
      std::array<std::uint8_t, 512> boot;
      ReadVolumeSectors(boot.data(), 512, sector);
      if (boot[510] != 0x55 || boot[511] != 0xAA || std::memcmp(boot.data() + 3, "NTFS", 4) != 0) continue;
      m_nMftSector = GetLE64(boot.data() + 0x30) * m_nSectorsPerCluster;
      m_nMftMirrSector = GetLE64(boot.data() + 0x38) * m_nSectorsPerCluster;
      break;
    }
    if (m_nMftSector == 0) return;
  }
  if (m_mftRuns.empty() && !LoadMftRuns()) return;
  ntfs::FileView view;
  const bool haveBitmap = LoadFileView(kBitmapRecord, view) && view.data.present;

  m_host.LogPhaseStart(LoadString(kIdsCreatingFreeList));
  m_pScanDlg->SetStatusText(LoadString(kIdsSearchingCritical));
  m_pScanDlg->EnableStop(false);
  m_host.SetCriticalPhase(true);

  const std::uint64_t volumeClusters = m_nVolumeSectorCount / m_nSectorsPerCluster;
  if (haveBitmap) {
    FileDataLayout layout = ntfs::LayoutOf(view.data, ClusterBytes());
    // Bits past the volume's last cluster are slack, not free space.
    layout.size = std::min(layout.size, (volumeClusters + 7) / 8);
    m_pScanDlg->SetRange(0, static_cast<std::int64_t>((layout.size + 511) / 512));
    m_pScanDlg->SetStep(1);
    m_pScanDlg->SetPos(0);
    FreeExtentNode open{0, 0};
    WalkFileData(layout, MakeClusterReader(), [&](const DataBlock& b) {
      const std::uint64_t base = b.offset * 8;
      for (std::size_t i = 0; i < b.bytes.size(); ++i) {
        const std::uint8_t byte = b.bytes[i];
        for (unsigned bit = 0; bit < 8; ++bit) {
          const std::uint64_t cluster = base + i * 8 + bit;
          if (cluster >= volumeClusters) break;
          if ((byte >> bit) & 1) {
            if (open.count) m_freeExtents.push_back(open);
            open.count = 0;
          } else if (open.count++ == 0) {
            open.first = cluster;
          }
        }
      }
      m_pScanDlg->SetPos(static_cast<std::int64_t>((b.offset + b.bytes.size()) / 512));
      return true;
    });
    if (open.count) m_freeExtents.push_back(open);
    m_bFreeExtentsValid = true;
    m_host.LogPhaseEnd();
  }
  m_pScanDlg->SetStatusText("");
  m_pScanDlg->EnableStop(true);
  m_host.SetCriticalPhase(false);
}

}  // namespace corvan
