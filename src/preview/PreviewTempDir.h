#pragma once
// A folder of the preview's own under the system's temporary folder: made
// with a name nobody can guess, readable by its owner only, and removed
// with everything in it when the object goes. Copies that a player or a
// converter opens, and the converter's profile, live there.

#include <filesystem>
#include <memory>

namespace corvan {

class PreviewTempDir {
 public:
  // Null when no folder can be made.
  static std::unique_ptr<PreviewTempDir> Create(const std::filesystem::path& parent = {});
  ~PreviewTempDir();
  PreviewTempDir(const PreviewTempDir&) = delete;
  PreviewTempDir& operator=(const PreviewTempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // A new empty subfolder of it (private as well); empty path on failure.
  std::filesystem::path NewSubfolder();

 private:
  explicit PreviewTempDir(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

}  // namespace corvan
