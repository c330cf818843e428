#pragma once
// FAT folder-start sectors (a "." and a ".." entry) laid out as the deep
// lost-volume search gathers them, for its tests and its benchmark.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace corvan::test {

// The first sector of a folder whose first cluster is `cluster`.
inline std::vector<std::uint8_t> FolderStartSector(std::uint32_t cluster) {
  std::vector<std::uint8_t> sector(512, 0);
  std::memcpy(sector.data(), ".          ", 11);
  sector[11] = 0x10;
  sector[20] = static_cast<std::uint8_t>(cluster >> 16);
  sector[21] = static_cast<std::uint8_t>(cluster >> 24);
  sector[26] = static_cast<std::uint8_t>(cluster);
  sector[27] = static_cast<std::uint8_t>(cluster >> 8);
  std::memcpy(sector.data() + 32, "..         ", 11);
  sector[43] = 0x10;
  return sector;
}

// `count` groups of four folder starts, clusters 2 to 5 in the first four
// sectors of every 8: each group implies a data area of its own (one sector
// a cluster) at its first sector.
inline std::vector<std::uint8_t> FolderGroups(std::size_t count) {
  std::vector<std::uint8_t> bytes(count * 8 * 512, 0);
  for (std::size_t k = 0; k < count; ++k)
    for (std::uint32_t cluster = 2; cluster <= 5; ++cluster) {
      const std::vector<std::uint8_t> sector = FolderStartSector(cluster);
      std::memcpy(bytes.data() + (k * 8 + cluster - 2) * 512, sector.data(), 512);
    }
  return bytes;
}

}  // namespace corvan::test
