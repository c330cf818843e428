#pragma once
// Reads a saved web page archive (MHT): MIME headers, nested multiparts,
// base64 and quoted-printable bodies, and the resources of the page by their
// Content-Location or Content-ID. The bytes are untrusted: nesting and the
// number of parts are bounded, and nothing is read past the end.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

struct MimePart {
  std::string contentType;  // lower case, "text/html"; "text/plain" when missing
  std::string charset;      // lower case; empty when not given
  std::string location;     // Content-Location as written
  std::string contentId;    // Content-ID without its angle brackets
  std::vector<std::uint8_t> body;  // decoded
};

struct MhtDocument {
  std::vector<MimePart> parts;  // the leaf parts, in order
  std::size_t root = 0;         // the page to show

  const MimePart* Root() const { return root < parts.size() ? &parts[root] : nullptr; }
  // The part a link of the page names: "cid:" ids, then locations written
  // out or relative to the page's own location; null when none holds it.
  const MimePart* Find(std::string_view url) const;
};

// False when `data` holds no part at all. A file without MIME headers is
// taken as one HTML page.
bool ReadMht(std::span<const std::uint8_t> data, MhtDocument& out);

// Transfer decodings (exposed for tests): characters outside the alphabet
// are skipped; soft line breaks are removed.
std::vector<std::uint8_t> DecodeBase64(std::string_view text);
std::vector<std::uint8_t> DecodeQuotedPrintable(std::string_view text);

}  // namespace corvan
