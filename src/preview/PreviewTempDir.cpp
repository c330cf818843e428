#include "preview/PreviewTempDir.h"

#include <stdlib.h>

#include <string>
#include <system_error>

namespace corvan {

namespace {

std::filesystem::path MakeUnique(const std::filesystem::path& parent, const char* stem) {
  std::string pattern = (parent / (std::string(stem) + "XXXXXX")).string();
  // mkdtemp makes the folder with mode 0700.
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace

std::unique_ptr<PreviewTempDir> PreviewTempDir::Create(const std::filesystem::path& parent) {
  std::error_code ec;
  std::filesystem::path base = parent;
  if (base.empty()) base = std::filesystem::temp_directory_path(ec);
  if (ec || base.empty()) base = "/tmp";
  const std::filesystem::path made = MakeUnique(base, "corvan-preview-");
  if (made.empty()) return nullptr;
  return std::unique_ptr<PreviewTempDir>(new PreviewTempDir(made));
}

PreviewTempDir::~PreviewTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path PreviewTempDir::NewSubfolder() { return MakeUnique(path_, "item-"); }

}  // namespace corvan
