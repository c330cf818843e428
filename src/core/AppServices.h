#pragma once
// Small services that several subsystems call.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

// "%.2f GB", "%.2f MB", "%.2f KB" or "%.2f bytes" at powers of 1024.
std::string FormatSize(std::uint64_t bytes);

// DOS-style save filter: true when the file is to be saved. `excludeMode`
// 0 saves matching files, 1 saves the files that match no mask.
bool MatchFileMasks(std::u16string_view fileName, const std::vector<std::u16string>& masks,
                    std::uint8_t excludeMode);
// One mask against one name (see MatchFileMasks).
bool MatchFileMask(std::u16string_view fileName, std::u16string_view mask);

// Reads the 512-byte sector `sector` of the file at `path` into `buffer`.
// False when the file cannot be opened (buffer untouched) or the sector lies
// beyond its end (the part not read is zero-filled).
bool ReadSectorFromFile(std::uint64_t sector, std::span<std::uint8_t, 512> buffer,
                        const std::filesystem::path& path);

}  // namespace corvan
