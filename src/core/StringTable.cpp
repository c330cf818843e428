#include "core/StringTable.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace corvan {

namespace {
struct Entry {
  unsigned id;
  std::string_view text;
};

constexpr Entry kStrings[] = {
#define CORVAN_STRING(id, text) {id, text},
#define CORVAN_NAMED_STRING(id, name, text) {id, text},
#include "../../resources/strings.inc"
#undef CORVAN_NAMED_STRING
#undef CORVAN_STRING
};

constexpr bool Ascending() {
  for (std::size_t i = 1; i < std::size(kStrings); ++i)
    if (kStrings[i - 1].id >= kStrings[i].id) return false;
  return true;
}
static_assert(Ascending(), "strings.inc must list each id once, in ascending order");

const Entry* Find(unsigned id) {
  const auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                   [](const Entry& e, unsigned v) { return e.id < v; });
  return (it != std::end(kStrings) && it->id == id) ? it : nullptr;
}
}  // namespace

const std::string& LoadString(unsigned id) {
  // Built once; the table is read from every thread afterwards.
  static const auto texts = [] {
    std::array<std::string, std::size(kStrings)> t;
    for (std::size_t i = 0; i < std::size(kStrings); ++i) t[i] = std::string(kStrings[i].text);
    return t;
  }();
  static const std::string empty;
  const Entry* e = Find(id);
  return e ? texts[static_cast<std::size_t>(e - kStrings)] : empty;
}

bool HasString(unsigned id) { return Find(id) != nullptr; }

}  // namespace corvan
