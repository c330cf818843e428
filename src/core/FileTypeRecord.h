#pragma once
// One file type of the signature search, and the record format of the
// signature file (HeaderFile.cfg): a packed 1071-byte record per type.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace corvan {

inline constexpr std::size_t kFileTypeRecordSize = 1071;
inline constexpr std::size_t kFileTypeTextUnits = 260;

struct FileTypeRecord {
  // Bytes 0-7 were list links: written as 0, ignored on reading.
  std::u16string softwareName;                 // 8: UTF-16, 260 units
  std::u16string extension;                    // 528: UTF-16, 260 units
  std::uint32_t headerOffset = 0;              // 1048: 0..511
  std::uint8_t headerLength = 0;               // 1052: 1..8
  std::array<std::uint8_t, 8> header{};        // 1053
  std::uint8_t selected = 0;                   // 1061
  std::uint8_t preset = 0;                     // 1062
  std::uint32_t maxSize = 0;                   // 1063: bytes
  std::uint8_t sizeUnit = 0;                   // 1067
  std::uint8_t group = 0;                      // 1068: 1..8
  std::uint16_t typeId = 0;                    // 1069

  void Encode(std::span<std::uint8_t, kFileTypeRecordSize> out) const;
  static FileTypeRecord Decode(std::span<const std::uint8_t, kFileTypeRecordSize> in);

  bool operator==(const FileTypeRecord&) const = default;
};

// The carving step looks for every signature in a candidate's first sector:
// a signature that runs past it is met only where a read happens to go on,
// never where generic carving looks for the next file's start. Such a record
// is kept in the signature file (it is the user's) but never matched, and
// the header editor refuses to make one.
inline constexpr std::uint32_t kSignatureSectorBytes = 512;
inline bool SignatureInFirstSector(std::uint64_t offset, std::uint64_t length) {
  return offset + length <= kSignatureSectorBytes;
}
inline bool SignatureInFirstSector(const FileTypeRecord& r) {
  return SignatureInFirstSector(r.headerOffset, r.headerLength);
}

// Reads back-to-back records, every one of them, so that a rewrite keeps
// what it did not change; a trailing piece shorter than one record is
// ignored. Nothing when the file is missing.
std::vector<FileTypeRecord> ReadFileTypeRecords(const std::filesystem::path& file);
std::vector<FileTypeRecord> DecodeFileTypeRecords(std::span<const std::uint8_t> bytes);
bool WriteFileTypeRecords(const std::filesystem::path& file, const std::vector<FileTypeRecord>& records);

}  // namespace corvan
