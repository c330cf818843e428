#include "core/FoundItemInfo.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteCodec.h"

namespace corvan {

void FoundItemInfo::Encode(std::span<std::uint8_t, kFoundItemInfoSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kFoundItemInfoSize);
  std::copy(reserved8.begin(), reserved8.end(), p + 8);
  PutLE64(p + 16, size);
  PutLE64(p + 24, location);
  PutLE32(p + 32, parentId);
  PutLE32(p + 36, itemId);
  p[44] = attribute;
  PutLE64(p + 45, modifiedTime);
  PutLE64(p + 53, creationTime);
  p[61] = flags;
  p[62] = state;
  std::copy(extra.begin(), extra.end(), p + 63);
  p[72] = runFlags;
}

FoundItemInfo FoundItemInfo::Decode(std::span<const std::uint8_t, kFoundItemInfoSize> in) {
  const std::uint8_t* p = in.data();
  FoundItemInfo r;
  std::copy(p + 8, p + 16, r.reserved8.begin());
  r.size = GetLE64(p + 16);
  r.location = GetLE64(p + 24);
  r.parentId = GetLE32(p + 32);
  r.itemId = GetLE32(p + 36);
  r.attribute = p[44];
  r.modifiedTime = GetLE64(p + 45);
  r.creationTime = GetLE64(p + 53);
  r.flags = p[61];
  r.state = p[62];
  std::copy(p + 63, p + 72, r.extra.begin());
  r.runFlags = p[72];
  return r;
}

}  // namespace corvan
