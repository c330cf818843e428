#pragma once
// The program's numbered texts, kept in resources/strings.inc; their names
// (kIds...) are in core/StringIds.h, made from the same file.

#include <string>

namespace corvan {

// The text of string `id`, or an empty text when there is none.
const std::string& LoadString(unsigned id);
bool HasString(unsigned id);

}  // namespace corvan
