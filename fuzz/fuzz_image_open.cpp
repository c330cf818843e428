// Opens arbitrary bytes as a VMware, VirtualBox and Virtual PC image and
// reads sectors from wherever the headers point. The input is written under
// two names, so that both the plain and the numbered-file ("-s001") rules run;
// a descriptor may name either file as its extent.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sources/VirtualDiskImage.h"

namespace {

namespace fs = std::filesystem;

// A folder of the run's own for the image files it writes, removed when the
// run ends.
struct OwnFolder {
  fs::path path;
  OwnFolder() {
    std::string pattern = (fs::temp_directory_path() / "corvan-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path = pattern;
  }
  ~OwnFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

const fs::path& WorkFolder() {
  static const OwnFolder folder;
  return folder.path;
}

void WriteInput(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void ReadAround(corvan::CVirtualDiskImage& image, std::uint64_t hint) {
  static std::vector<std::uint8_t> buffer(1 << 20);
  const std::uint64_t count = image.SectorCount();
  image.ReadSectors(0, buffer.data(), 1024);
  image.ReadSectors(0, buffer.data(), buffer.size());
  image.ReadSectors(hint % (count + 16), buffer.data(), 64 * 1024 + 100);
  if (count > 0) image.ReadSectors(count - 1, buffer.data(), 4096);
  image.ReadSectors(UINT64_MAX / 512 - 1, buffer.data(), 1024);
  image.GetExtentNames();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path plain = WorkFolder() / "disk.vmdk";
  const fs::path numbered = WorkFolder() / "disk-s001.vmdk";
  WriteInput(plain, data, size);
  WriteInput(numbered, data, size);
  std::uint64_t hint = 0;
  for (std::size_t i = 0; i < size && i < 8; ++i) hint = (hint << 8) | data[size - 1 - i];

  corvan::CVirtualDiskImage image;
  for (const fs::path& path : {plain, numbered}) {
    image.Open(corvan::kImageVmware, path);
    ReadAround(image, hint);
    image.OpenVmdk(path);
    ReadAround(image, hint);
  }
  image.OpenVdi(plain);
  ReadAround(image, hint);
  image.OpenVhd(plain);
  ReadAround(image, hint);
  return 0;
}
