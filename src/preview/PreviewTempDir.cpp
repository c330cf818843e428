#include "preview/PreviewTempDir.h"

#include <system_error>

#include "platform/Folders.h"

namespace corvan {

std::unique_ptr<PreviewTempDir> PreviewTempDir::Create(const std::filesystem::path& parent) {
  const std::filesystem::path made = MakePrivateFolder(parent, "corvan-preview-");
  if (made.empty()) return nullptr;
  return std::unique_ptr<PreviewTempDir>(new PreviewTempDir(made));
}

PreviewTempDir::~PreviewTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path PreviewTempDir::NewSubfolder() { return MakePrivateFolder(path_, "item-"); }

}  // namespace corvan
