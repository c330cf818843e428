#include "app/SourceSetup.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "sources/PartitionWalk.h"

namespace corvan {

std::uint32_t ImageTypeForPath(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".vmdk") return kImageVmware;
  if (ext == ".vdi") return kImageVirtualBox;
  if (ext == ".vhd") return kImageVirtualPc;
  return 0;
}

MountOutcome MountAndListSources(CORVANApp& app, std::uint32_t imageType, const std::filesystem::path& path) {
  SourceList& list = app.m_sourceList;
  list.FreeSourceList();
  list.FreePartitionList();
  MountOutcome outcome;
  MountResult mount = MountImageFile(imageType, path);
  if (!mount.mounted) {
    outcome.messageId = kIdsImageNotUsable;
    return outcome;
  }
  app.m_pImage = std::move(mount.image);
  app.m_pDisk = app.m_pImage;
  outcome.mounted = true;
  const MountState& state = app.m_pImage->State();
  list.m_nDiskSectors = app.m_pImage->SectorCount();
  list.m_bImageError = state.m_bImageError ? 1 : 0;
  list.m_bNoPartition = state.m_bNoPartition ? 1 : 0;

  if (mount.result == 1) {
    ScanPartitions(list, *app.m_pImage, &app.GetPrompt());
    if (!list.m_partitions.empty()) {
      BuildSourceList(list, imageType, 0);
      return outcome;
    }
    list.m_bNoPartition = 1;
  }
  // Only the disk can be offered, for Raw Recovery.
  BuildSourceList(list, imageType, 1);
  outcome.messageId = kIdsImageCorrupt;
  return outcome;
}

void SelectSourceRecord(CORVANApp& app, SourceRecord& record) {
  std::uint64_t sectors = 0;
  if (record.disk) sectors = record.disk->sectorCount;
  if (record.partition) sectors = record.partition->sectorCount;
  app.m_sourceList.m_pSelectedSource = &record;
  app.m_scanBounds.m_nMediaFirstSector = 0;
  app.m_scanBounds.m_nMediaLastSector = sectors;
  app.m_scanBounds.m_nRegionFirstSector = app.m_scanBounds.m_nMediaFirstSector;
  app.m_scanBounds.m_nRegionLastSector = app.m_scanBounds.m_nMediaLastSector;
}

SourceSelection CurrentSelection(const CORVANApp& app) {
  return SourceSelection{.source = app.m_sourceList.m_pSelectedSource,
                         .disk = app.m_pDisk,
                         .mediaFirstSector = app.m_scanBounds.m_nMediaFirstSector,
                         .mediaLastSector = app.m_scanBounds.m_nMediaLastSector,
                         .quickVolumeSearch = app.m_bQuickVolumeSearch != 0};
}

SourceRecord* SelectSource(CORVANApp& app, std::uint16_t index) {
  for (const auto& record : app.m_sourceList.m_sources) {
    if (record->index != index) continue;
    SelectSourceRecord(app, *record);
    return record.get();
  }
  return nullptr;
}

}  // namespace corvan
