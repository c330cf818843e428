#pragma once
// The folder walk behind the image-file search, without windows: it lists
// every regular file whose lower-cased extension is the one asked for. It
// follows symbolic links but enters no directory twice (so link loops end),
// never enters /proc, /sys, /dev or a pseudo file system, and looks at the
// stop flag before every entry.

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

struct MountEntry {
  std::filesystem::path mountPoint;
  std::string fsType;
};

// The lines of /proc/self/mounts ("\040" and the other octal escapes decoded).
std::vector<MountEntry> ParseMounts(std::string_view text);
bool IsPseudoFileSystem(const std::string& fsType);
// True for /proc, /sys, /dev and anything below them.
bool IsSystemFolder(const std::filesystem::path& path);

// What stands for the drive letters: the user's home first, then the mount
// points of real file systems, in the order mounted, each once.
std::vector<std::filesystem::path> ImageSearchRoots(const std::vector<MountEntry>& mounts,
                                                    const std::filesystem::path& home);
// The roots of this system (/proc/self/mounts and $HOME).
std::vector<std::filesystem::path> SystemImageSearchRoots();

// ".vmdk" -> 1, ".vdi" -> 2, ".vhd" -> 3 (any case); 0 otherwise.
std::uint32_t ImageIndexForExtension(std::string ext);

// Whether a file the walk found is an image the user can open: a VMware
// disk is its descriptor (a text file, or a sparse file that holds one),
// never one of the extents a descriptor names; other kinds are their file.
bool IsImageToList(const std::filesystem::path& path);

class ImageFileSearch {
 public:
  using FoundFn = std::function<void(const std::filesystem::path&)>;

  // `skipMounts` are the mount points of pseudo file systems, never entered.
  explicit ImageFileSearch(std::vector<std::filesystem::path> skipMounts = {});

  // Walks `folder` for files whose extension (from the last ".", lower
  // case) equals `extension` (with its dot); each is handed to `found` on
  // the walking thread. Returns the number found.
  std::size_t Walk(const std::filesystem::path& folder, const std::string& extension,
                   const std::atomic<bool>& stop, const FoundFn& found);

  // Skip list of this system: pseudo file systems' mount points.
  static std::vector<std::filesystem::path> SystemSkipMounts();

 private:
  std::vector<std::filesystem::path> skipMounts_;
};

}  // namespace corvan
