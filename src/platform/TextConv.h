#pragma once
// The one place where text changes encoding: names from and to disk are
// UTF-16, messages and log lines UTF-8.

#include <string>
#include <string_view>

namespace corvan {

// Invalid sequences become U+FFFD; nothing is dropped silently.
std::u16string Utf8ToUtf16(std::string_view text);
// Appends `text` as Utf8ToUtf16 converts it; false when it held an invalid
// sequence (overlong forms, surrogates, values past Unicode, cut-off or
// stray bytes).
bool AppendUtf8(std::u16string& out, std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Unicode lower case of one UTF-16 unit (surrogates are returned unchanged).
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string_view text);

// Convenience for literals in code: ASCII/UTF-8 to UTF-16.
inline std::u16string U16(std::string_view utf8) { return Utf8ToUtf16(utf8); }

}  // namespace corvan
