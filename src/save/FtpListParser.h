#pragma once
// Reads the lines an FTP server sends for LIST: the Unix "ls -l" form most
// servers use and the DOS form of some others. The text comes from the
// server, so every line is taken as untrusted: a line that does not parse
// is left out, and so is a name that could not be sent back safely (empty,
// "." or "..", or holding a control character or a slash).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

struct FtpListEntry {
  std::string name;  // as the server sends it (UTF-8 on every server we know)
  bool directory = false;
  bool link = false;  // a symbolic link: its target's kind is not known
  std::uint64_t size = 0;
};

// One line (without its line end); nothing when it is not an entry.
std::optional<FtpListEntry> ParseFtpListLine(std::string_view line);
// Every entry of a LIST reply, in the server's order.
std::vector<FtpListEntry> ParseFtpListing(std::string_view text);

}  // namespace corvan
