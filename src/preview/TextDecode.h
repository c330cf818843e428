#pragma once
// Bytes of a found document to UTF-16: by Windows code page (RTF), by
// charset name (MIME parts, HTML), the charset an HTML page declares, and
// 8-bit text that names no charset (plain text, names in archives).

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace corvan {

// The code page of an RTF font's \fcharset; 0 when the document's own
// code page applies.
int CodePageOfCharset(int charset);

// Decodes code-page bytes, keeping one converter per page for the decoder's
// life. Windows-1252 and Latin-1 are decoded here; other pages through the C
// library's converters, Latin-1 when it has none. A byte the page does not
// map becomes U+FFFD.
class CodePageDecoder {
 public:
  CodePageDecoder() = default;
  ~CodePageDecoder();
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;

  void Append(std::u16string& out, std::string_view bytes, int codePage);
  // By charset name ("utf-8", "windows-1250", "shift_jis", ...).
  void Append(std::u16string& out, std::string_view bytes, std::string_view charset);

 private:
  void* Converter(const std::string& name);
  std::map<std::string, void*> converters_;
};

// `bytes` in `charset` (UTF-8 when empty or unknown to the converters).
std::u16string DecodeText(std::string_view bytes, std::string_view charset);

// 8-bit text that names no charset: UTF-8 when it is valid UTF-8 (what
// Linux tools write), else Windows-1252. `cutShort`: the bytes are the
// start of longer text, so a sequence cut off at their end is left out
// rather than making the whole text Windows-1252.
std::u16string DecodeUtf8OrCp1252(std::string_view bytes, bool cutShort = false);

// The charset an HTML page names: its byte-order mark, else a meta charset
// or http-equiv Content-Type in its first 4 KiB; empty when none.
std::string HtmlCharset(std::span<const std::uint8_t> page);

}  // namespace corvan
