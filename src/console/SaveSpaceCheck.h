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

// The message to show when nothing can be written at `destination` (or at
// the nearest folder that exists, where it would be made), else nothing:
// tried by making a file there and removing it again, so a folder the
// process may not write, a read-only or pseudo file system, or a file in
// the way are told as what they are rather than as a lack of space.
std::optional<std::string> CheckDestinationWritable(const std::filesystem::path& destination);

// "Insufficient drive space at destination location." with the required
// and available megabytes.
std::string InsufficientSpaceText(std::uint64_t required, std::uint64_t available);

// The message to show when the save does not fit, else nothing. An FTP
// destination is not checked: its free space is not known here.
std::optional<std::string> CheckSaveSpace(std::uint64_t required, std::optional<std::uint64_t> available,
                                          bool ftpDestination);

}  // namespace corvan
