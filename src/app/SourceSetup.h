#pragma once
// What the source page does with an image and a selection, without the
// page: mount the image, walk its tables into the source list, and store a
// chosen disk or volume with its sector bounds.

#include <cstdint>
#include <filesystem>

#include "sources/SourceSelection.h"

namespace corvan {

class CORVANApp;
struct SourceRecord;

// Image type from a file name's extension (.vmdk, .vdi, .vhd); 0 when unknown.
std::uint32_t ImageTypeForPath(const std::filesystem::path& path);

struct MountOutcome {
  bool mounted = false;        // the disk can be read (maybe only for Raw Recovery)
  unsigned messageId = 0;      // 592 image not usable, 593 only the disk is listed, 0 none
};

// Mounts `path` as an image of `imageType`, walks its partition tables and
// rebuilds the application's source list (the disk, then one record per
// volume; the disk alone when no volume was found).
MountOutcome MountAndListSources(CORVANApp& app, std::uint32_t imageType, const std::filesystem::path& path);

// Makes the source record with `index` the selection, with the media range
// 0 .. its sector count and the scan region the same. Null when there is none.
SourceRecord* SelectSource(CORVANApp& app, std::uint16_t index);
// The same for a record of the source list itself, where indexes may repeat
// (volumes loaded from a saved drive scan keep the indexes they were saved with).
void SelectSourceRecord(CORVANApp& app, SourceRecord& record);

// The selection the source page and the options panel have made, as the
// value a window hands to the job it starts.
SourceSelection CurrentSelection(const CORVANApp& app);

}  // namespace corvan
