// LIST replies from an FTP server: untrusted text that names the folders
// the browser shows and the paths sent back to the server.
#include <cstdint>
#include <string_view>

#include "save/FtpListParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const corvan::FtpListEntry& e : corvan::ParseFtpListing(text)) {
    // Every name could be sent back as one path component of one line.
    if (e.name.empty() || e.name == "." || e.name == ".." || e.name.size() > size) __builtin_trap();
    for (char c : e.name)
      if (c == '/' || c == '\r' || c == '\n' || c == '\0') __builtin_trap();
  }
  return 0;
}
