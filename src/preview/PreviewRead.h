#pragma once
// A found file's bytes for a preview, read through its engine's run walker:
// a range into memory (the hex pages, the text, a whole image, RTF or
// document), or the first bytes into a file of the preview's private folder
// (what a player or a converter opens). Exactly the bytes the walker hands
// out are kept: never more than the file's size, whatever its clusters
// hold. A read stops at the next block once its selection is over.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/FoundItemInfo.h"
#include "core/RunWalker.h"

namespace corvan {

class PreviewCancel;
class ScanEngine;

struct PreviewBytes {
  std::vector<std::uint8_t> bytes;  // the file's bytes [begin, begin + bytes.size())
  WalkResult walk;
  bool cancelled = false;
};

// Bytes [begin, end) of `item`, at most `end - begin`.
PreviewBytes ReadPreviewBytes(ScanEngine& engine, const FoundItemInfo& item, std::uint64_t begin, std::uint64_t end,
                              const PreviewCancel& cancel);

// Writes the first `limit` bytes of `item` to `file`, a new file only its
// owner may read. False when the file cannot be made or written, nothing
// was read, or the selection ended.
bool CopyPreviewFile(ScanEngine& engine, const FoundItemInfo& item, std::uint64_t limit,
                     const std::filesystem::path& file, const PreviewCancel& cancel);

}  // namespace corvan
