#include "console/SaveSpaceCheck.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/FoundItemStore.h"

namespace corvan {

std::uint64_t RequiredSaveBytes(const FoundItemStore& store, int view, bool wholeVolume, std::uint8_t whichFiles,
                                std::uint64_t engineTotal) {
  if (!wholeVolume) return store.CheckedBytes(view);
  if (whichFiles == 1) return engineTotal;
  const std::uint64_t deleted = store.DeletedBytes();
  if (whichFiles == 2) return deleted;
  return engineTotal > deleted ? engineTotal - deleted : 0;
}

namespace {
// `destination` itself when it exists, else its nearest folder that does.
std::optional<std::filesystem::path> NearestExisting(const std::filesystem::path& destination) {
  std::error_code ec;
  std::filesystem::path at = destination.empty() ? std::filesystem::current_path(ec) : destination;
  while (!at.empty()) {
    if (std::filesystem::exists(at, ec)) return at;
    if (at == at.parent_path()) break;
    at = at.parent_path();
  }
  return std::nullopt;
}
}  // namespace

std::optional<std::uint64_t> AvailableBytesAt(const std::filesystem::path& destination) {
  const auto at = NearestExisting(destination);
  if (!at) return std::nullopt;
  std::error_code ec;
  const auto info = std::filesystem::space(*at, ec);
  if (ec) return std::nullopt;
  return info.available;
}

std::optional<std::string> CheckDestinationWritable(const std::filesystem::path& destination) {
  const std::string shown = destination.empty() ? std::string(".") : destination.string();
  const auto at = NearestExisting(destination);
  if (!at) return "The destination cannot be written:\n" + shown;
  std::error_code ec;
  if (!std::filesystem::is_directory(*at, ec))
    return "The destination cannot be written:\n" + shown + "\n" + at->string() + " is not a folder.";
  std::string probe = (*at / ".corvan-write-test-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return "The destination cannot be written:\n" + shown + "\n" + std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
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
