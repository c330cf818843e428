// Save-filter masks typed by the user against names read from a disk.
#include <cstdint>
#include <string>
#include <vector>

#include "core/AppServices.h"
#include "platform/TextConv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto split = text.find('\n');
  const std::u16string mask = corvan::Utf8ToUtf16(text.substr(0, split));
  const std::u16string name = corvan::Utf8ToUtf16(split == std::string::npos ? "" : text.substr(split + 1));
  const bool one = corvan::MatchFileMask(name, mask);
  const std::vector<std::u16string> masks{mask};
  if (corvan::MatchFileMasks(name, masks, 0) != one) __builtin_trap();
  if (corvan::MatchFileMasks(name, masks, 1) == one) __builtin_trap();
  (void)corvan::Utf16ToUtf8(name);
  return 0;
}
