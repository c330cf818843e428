#pragma once
// The groups of the File Type List: which category an extension belongs to,
// and the category folders with their fixed ids and names.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvan {

// Categories 2 to 11; 0 means the extension is not listed.
inline constexpr int kCategoryGraphics = 2;
inline constexpr int kCategoryDocuments = 3;
inline constexpr int kCategoryAudio = 4;
inline constexpr int kCategoryVideo = 5;
inline constexpr int kCategoryText = 6;
inline constexpr int kCategoryArchive = 7;
inline constexpr int kCategoryApplication = 8;
inline constexpr int kCategoryDatabase = 9;
inline constexpr int kCategoryInternet = 10;
inline constexpr int kCategoryMiscellaneous = 11;

// Exact, case-sensitive match of the whole extension ("jpg", "NoExt");
// 0 when it is not listed.
int GetFileTypeCategory(std::u16string_view extension);

// The category folder of a category (2-10; any other value is the
// miscellaneous folder 11).
struct CategoryFolder {
  int category;
  std::int32_t id;            // a negative id no disk item has
  const char16_t* name;       // "Graphics & Photos", ...
};
const CategoryFolder& CategoryFolderOf(int category);

// The grouping key of a file name: the text after its last '.', lower-cased,
// or "NoExt" when the name has no '.'.
std::u16string ExtensionKey(std::u16string_view name);

}  // namespace corvan
