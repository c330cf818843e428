#pragma once
// The recovery-mode numbers stored in the application object.

#include <cstdint>

namespace corvan {

inline constexpr std::uint32_t kModeRaw = 502;
inline constexpr std::uint32_t kModeQuick = 504;
inline constexpr std::uint32_t kModeDeleted = 505;
inline constexpr std::uint32_t kModeAdvance = 506;
inline constexpr std::uint32_t kModeLostVolume = 507;
inline constexpr std::uint32_t kModeScanNow = 511;
inline constexpr std::uint32_t kModeSavedDriveScan = 516;

// Advance Recovery's file-system choice.
inline constexpr std::uint8_t kAdvanceFat = 1;
inline constexpr std::uint8_t kAdvanceNtfs = 2;
inline constexpr std::uint8_t kAdvanceExFat = 3;

}  // namespace corvan
