#pragma once
// Which preview a found file gets: the preview kind of the first stage (from
// the lower-cased extension), the viewer type of the second stage (from the
// name's last token, without regard to case), the icon key of the list and
// the trees, and the limits each pane works within.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvan {

// Files above this size are only shown as hex (exactly 1 GiB still previews).
inline constexpr std::uint64_t kPreviewSizeLimit = 1073741824ull;
// The image pane takes files below 20 MiB.
inline constexpr std::uint64_t kImageSizeLimit = 20971520ull;
// The text pane shows the first 8 KiB.
inline constexpr std::uint64_t kTextShownBytes = 8192;
// Office and HTML documents up to 5 MiB (exactly 5 MiB is accepted).
inline constexpr std::uint64_t kDocumentSizeLimit = 5242880ull;
// The media pane plays a copy of the first 1 MiB (audio) or 3 MiB (video).
inline constexpr std::uint64_t kAudioCopyLimit = 1ull << 20;
inline constexpr std::uint64_t kVideoCopyLimit = 3ull << 20;

// First stage: 0 hex, 1 archive listing, 2 image, 3 HTML and Office, 4 audio
// and video, 5 database table, 6 backup listing, 7 RTF, 8 plain text, 9 PDF.
// `extension` is lower-case, without the dot; compared exactly.
int GetPreviewKind(std::u16string_view extension);

// Second stage: 0 image, 2 archive, 3 table, 4 RTF, 5 Office, HTML and PDF,
// 6 backup, 7 audio and video, 8 plain text, -1 hex. ASCII case is ignored.
int GetViewerTypeFromExtension(std::string_view extension);

// The first stage's extension: the name lower-cased, the text after its last
// '.'; a name without '.' gives one no table holds.
std::u16string PreviewExtension(std::u16string_view name);
// The second stage's token: the text after the last '.' with trailing dots
// ignored; the whole name when it has no '.'; empty for an empty name or one
// of dots only. 8-bit: characters above 0xFF become '?'.
std::string ViewerToken(std::u16string_view name);

// The icon keys in the order of the icons of the list and the trees:
// "Fol", "DelFol", "File", "DelFile", ".asm", ... ".zip", "unknown" and
// three reserved.
const std::array<std::u16string, 60>& IconKeyTable();

// The icon key of a file name ("unknown", ".doc", or the extension itself).
std::u16string GetFileTypeIconKey(std::u16string_view name);
// The icon of a list or tree row: 0 folder, 1 deleted folder, 3 deleted
// file, else the position (4-59) of the name's key in `keys`, 2 when absent.
int GetFileIconIndex(const std::array<std::u16string, 60>& keys, std::u16string_view name, std::uint8_t attribute,
                     bool deleted);

// The pane a file is shown in.
enum class PreviewPane : std::uint8_t {
  Placeholders,  // nothing to show: a folder or an empty file
  Hex,
  Text,
  Rtf,
  Image,
  Pdf,
  Office,  // rendered to PDF, then shown as one
  Html,    // HTML and MHT
  Media,
  Archive,  // listings of other parts of the window: shown as hex until then
  Table,
  Backup,
};

// Both stages together: the pane for a file of `name`, `size` bytes, a folder
// or not; `forceHex` is "Show As Hex".
PreviewPane ChoosePreview(std::u16string_view name, std::uint64_t size, bool isFolder, bool forceHex);

// Office application of a document by its lower-cased extension with its dot:
// 1 word processor, 2 spreadsheet, 3 presentation, 4 anything else.
int OfficeAppKind(std::u16string_view dottedExtension);

// Media: whether the extension (with its dot) is one the media pane plays,
// and whether it is a video. Both ignore case.
bool IsMediaExtension(std::u16string_view dottedExtension);
bool IsVideoExtension(std::u16string_view dottedExtension);

// `text` of ASCII characters as UTF-16.
std::u16string FromAscii(std::string_view text);
// Equal but for ASCII case.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Whether `name` ends in `suffix`, ASCII case ignored; a name shorter than
// the suffix never does.
bool NameEndsWith(std::u16string_view name, std::u16string_view suffix);

// ASCII lower case of `text`.
std::u16string AsciiLower(std::u16string_view text);
std::string AsciiLower(std::string_view text);
// The name from its last '.' on, lower-cased; empty without a '.'.
std::u16string DottedExtension(std::u16string_view name);

}  // namespace corvan
