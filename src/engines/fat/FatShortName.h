#pragma once
// Short (8.3) names of FAT directory entries: their bytes are in the OEM
// code page of the system that wrote them, which for FAT is code page 437
// (or 850 in Western Europe). Both tables are ours, so the conversion never
// depends on the host's locale.

#include <cstdint>
#include <string>

namespace corvan {

enum class OemCodePage : std::uint8_t { Cp437, Cp850 };

// One OEM byte as UTF-16; bytes below 0x80 are ASCII.
char16_t OemToUnicode(std::uint8_t byte, OemCodePage page);

// The checksum of an 11-byte short name that each of its long-name parts
// carries at byte 13.
std::uint8_t ShortNameChecksum(const std::uint8_t* name11);

// The display form of a short entry: the name up to its first blank, then
// "." and the extension when there is one. Byte 12 of the entry asks for a
// lower-case name (bit 3) or extension (bit 4), as Windows NT writes names
// like "notes.txt" without a long name. A first byte 0x05 stands for 0xE5;
// a deleted entry (0xE5) shows "X" in its place. Empty when no name is left.
std::u16string DecodeShortName(const std::uint8_t* entry, OemCodePage page);

}  // namespace corvan
