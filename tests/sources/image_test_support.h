#pragma once
// Helpers of the image tests: corpus paths, file slices and whole-disk
// comparisons in large reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <string>
#include <vector>

#include "sources/SectorSource.h"
#include "sources/VirtualDiskImage.h"
#include "support/TestSupport.h"

namespace corvan::test {

inline std::filesystem::path DisksDir() { return CorpusDir() / "disks"; }

// `length` bytes of `path` from `offset`; what lies past the end reads as zeros.
inline std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path, std::uint64_t offset,
                                           std::size_t length) {
  std::vector<std::uint8_t> bytes(length, 0);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Copies `length` bytes of `from` at `offset` into a new file `to`, in pieces.
inline void CopySlice(const std::filesystem::path& from, std::uint64_t offset, std::uint64_t length,
                      const std::filesystem::path& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<char> buffer(1 << 20);
  while (length > 0) {
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(length, buffer.size()));
    in.read(buffer.data(), n);
    out.write(buffer.data(), in.gcount());
    if (in.gcount() != n) break;
    length -= static_cast<std::uint64_t>(n);
  }
}

// Patches bytes of a file in place (test copies only).
inline void PatchFile(const std::filesystem::path& path, std::uint64_t offset,
                      const std::vector<std::uint8_t>& bytes) {
  std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline constexpr std::uint32_t kChunk = 4u << 20;

// The disk the checks below read: the image a test opened last.
inline std::shared_ptr<SectorSource>& OpenedDisk() {
  static std::shared_ptr<SectorSource> disk;
  return disk;
}

// Opens an image as the program does and makes it the disk the checks read.
inline MountResult OpenImage(std::uint32_t imageType, const std::filesystem::path& path) {
  MountResult mount = MountImageFile(imageType, path);
  OpenedDisk() = mount.mounted ? mount.image : nullptr;
  return mount;
}

// `byteCount` bytes at `sector` of the opened disk: false for a count of 0,
// no disk (zeros) or a failed read.
inline bool ReadOpenedDisk(void* buffer, std::uint64_t sector, std::uint32_t byteCount) {
  if (byteCount == 0) return false;
  if (!OpenedDisk()) {
    std::memset(buffer, 0, byteCount);
    return false;
  }
  return OpenedDisk()->ReadSectors(sector, buffer, byteCount);
}

// Compares `length` bytes of the mounted disk from `sector` on with `path`
// from `fileOffset` on, in large reads. Stops at the first difference.
inline void ExpectMountedDiskEquals(std::uint64_t sector, const std::filesystem::path& path,
                                    std::uint64_t fileOffset, std::uint64_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(fileOffset));
  std::vector<std::uint8_t> disk(kChunk), file(kChunk);
  for (std::uint64_t done = 0; done < length;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, length - done));
    ASSERT_TRUE(ReadOpenedDisk(disk.data(), sector + done / kSectorSize, n)) << "at byte " << done;
    in.read(reinterpret_cast<char*>(file.data()), n);
    ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(n));
    if (!std::equal(disk.begin(), disk.begin() + n, file.begin())) {
      const auto at = std::mismatch(disk.begin(), disk.begin() + n, file.begin()).first - disk.begin();
      FAIL() << path.filename() << " differs at byte " << fileOffset + done + at;
    }
    done += n;
  }
}

// The mounted disk reads as zeros from `sector` up to `endSector`.
inline void ExpectMountedZeros(std::uint64_t sector, std::uint64_t endSector) {
  std::vector<std::uint8_t> disk(kChunk);
  while (sector < endSector) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, (endSector - sector) * kSectorSize));
    ASSERT_TRUE(ReadOpenedDisk(disk.data(), sector, n));
    ASSERT_TRUE(std::all_of(disk.begin(), disk.begin() + n, [](std::uint8_t b) { return b == 0; }))
        << "not zero near sector " << sector;
    sector += n / kSectorSize;
  }
}

// One volume of a corpus disk, from manifest.json.
struct ManifestVolume {
  std::string image;
  std::uint64_t startSector = 0;
  std::uint64_t sectors = 0;
};

// The layout of disk `disk` ("mbr" or "gpt") in manifest.json.
inline std::vector<ManifestVolume> ManifestLayout(const std::string& disk) {
  const std::string text = ReadWholeFile(CorpusDir() / "manifest.json");
  const std::size_t from = text.find("\"" + disk + "\": {", text.find("\"disks\""));
  const std::size_t to = text.find("\"containers\"", from);
  std::vector<ManifestVolume> layout;
  if (from == std::string::npos || to == std::string::npos) return layout;
  const std::string part = text.substr(from, to - from);
  // Each entry: [ "name.img", start, count, type ].
  for (std::size_t at = part.find(".img\""); at != std::string::npos; at = part.find(".img\"", at + 1)) {
    const std::size_t open = part.rfind('"', at);
    ManifestVolume v;
    v.image = part.substr(open + 1, at + 4 - open - 1);
    char* next = nullptr;
    const char* p = part.c_str() + at + 5;
    while (*p == ',' || *p == ' ' || *p == '\n') ++p;
    v.startSector = std::strtoull(p, &next, 10);
    p = next;
    while (*p == ',' || *p == ' ' || *p == '\n') ++p;
    v.sectors = std::strtoull(p, &next, 10);
    layout.push_back(v);
  }
  return layout;
}

}  // namespace corvan::test
