#pragma once
// The free-space check that Recover makes before the saving thread starts:
// what the chosen files need against what the destination has free.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvan {

class FoundItemStore;

// Bytes the save needs. Saving the whole volume (`wholeVolume`): with
// `whichFiles` 1 (deleted included) the engine's total, 2 (only deleted)
// the deleted items' bytes, 0 (deleted left out) the total less those, never
// below zero. Otherwise the bytes of the items checked in `view`.
std::uint64_t RequiredSaveBytes(const FoundItemStore& store, int view, bool wholeVolume, std::uint8_t whichFiles,
                                std::uint64_t engineTotal);

// Bytes a user may still write at `destination` (or at its nearest folder
// that exists); nothing when it cannot be asked.
std::optional<std::uint64_t> AvailableBytesAt(const std::filesystem::path& destination);

// "Insufficient drive space at destination location." with the required
// and available megabytes.
std::string InsufficientSpaceText(std::uint64_t required, std::uint64_t available);

// The message to show when the save does not fit, else nothing. An FTP
// destination is not checked: its free space is not known here.
std::optional<std::string> CheckSaveSpace(std::uint64_t required, std::optional<std::uint64_t> available,
                                          bool ftpDestination);

}  // namespace corvan
