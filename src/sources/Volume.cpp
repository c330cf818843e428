#include "sources/Volume.h"

#include <cstring>

#include "platform/TextConv.h"
#include "sources/FileSectorSource.h"

namespace corvan {

bool Volume::IsWholeDisk() const {
  return IsWholeDiskKind(sourceKind) || !partition;
}

std::uint64_t Volume::FirstSector() const {
  if (!partition || sourceKind == kSourcePlainImage) return 0;
  return partition->startSector;
}

bool Volume::ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) const {
  if (bytes == 0) return false;
  if (!disk) {
    std::memset(buffer, 0, bytes);
    return false;
  }
  return disk->ReadSectors(sector, buffer, bytes);
}

Volume MakeVolume(const SourceRecord& source, std::shared_ptr<SectorSource> mountedDisk, bool readThroughPath) {
  Volume v;
  v.sourceKind = source.kind;
  v.path = source.path;
  if (source.partition) v.partition = *source.partition;
  v.readThroughPath = readThroughPath;
  v.disk = readThroughPath ? std::make_shared<FileSectorSource>(std::filesystem::path(Utf16ToUtf8(source.path)))
                           : std::move(mountedDisk);
  return v;
}

}  // namespace corvan
