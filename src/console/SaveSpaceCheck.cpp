#include "console/SaveSpaceCheck.h"

#include <cstdio>
#include <system_error>

#include "core/StringTable.h"
#include "console/FoundItemStore.h"

namespace corvan {

namespace {
constexpr unsigned kIdsInsufficientSpace = 324, kIdsRequiredSpace = 325, kIdsAvailableSpace = 326;
}  // namespace

std::uint64_t RequiredSaveBytes(const FoundItemStore& store, int view, bool wholeVolume, std::uint8_t whichFiles,
                                std::uint64_t engineTotal) {
  if (!wholeVolume) return store.CheckedBytes(view);
  if (whichFiles == 1) return engineTotal;
  const std::uint64_t deleted = store.DeletedBytes();
  if (whichFiles == 2) return deleted;
  return engineTotal > deleted ? engineTotal - deleted : 0;
}

std::optional<std::uint64_t> AvailableBytesAt(const std::filesystem::path& destination) {
  std::error_code ec;
  std::filesystem::path at = destination.empty() ? std::filesystem::current_path(ec) : destination;
  while (!at.empty()) {
    if (std::filesystem::exists(at, ec)) {
      const auto info = std::filesystem::space(at, ec);
      if (ec) return std::nullopt;
      return info.available;
    }
    if (at == at.parent_path()) break;
    at = at.parent_path();
  }
  return std::nullopt;
}

std::string InsufficientSpaceText(std::uint64_t required, std::uint64_t available) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "\t%8llu MB\n", static_cast<unsigned long long>(required / 1048576));
  std::string text = LoadString(kIdsInsufficientSpace) + "\n\n" + LoadString(kIdsRequiredSpace) + numbers;
  std::snprintf(numbers, sizeof numbers, "\t%8llu MB", static_cast<unsigned long long>(available / 1048576));
  return text + LoadString(kIdsAvailableSpace) + numbers;
}

std::optional<std::string> CheckSaveSpace(std::uint64_t required, std::optional<std::uint64_t> available,
                                          bool ftpDestination) {
  if (ftpDestination || !available || *available >= required) return std::nullopt;
  return InsufficientSpaceText(required, *available);
}

}  // namespace corvan
