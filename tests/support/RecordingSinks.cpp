#include "support/RecordingSinks.h"

#include <unordered_set>

namespace corvan::test {

void RecordingFoundItemSink::OnInsertRootItem(std::uint32_t rootId) {
  roots.push_back(rootId);
  events.push_back({EventKind::Root, rootId});
}

FoundItemHandle RecordingFoundItemSink::OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) {
  RecordedItem item;
  item.record = record;
  record.Encode(item.bytes);
  item.name = std::u16string(name);
  items.push_back(std::move(item));
  const auto index = static_cast<std::uint32_t>(items.size() - 1);
  events.push_back({EventKind::Add, index});
  return index;
}

void RecordingFoundItemSink::UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) {
  events.push_back({EventKind::Size, item});
  if (item < items.size()) {
    items[item].record.size = size;
    ++items[item].sizeUpdates;
  }
}

void RecordingFoundItemSink::UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) {
  events.push_back({EventKind::Name, item});
  if (item < items.size()) items[item].name = std::u16string(name);
}

void RecordingFoundItemSink::UpdateStatusText(int) {
  ++statusUpdates;
  events.push_back({EventKind::Status, 0});
}

std::optional<std::size_t> RecordingFoundItemSink::FindById(std::uint32_t id) const {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].record.itemId == id) return i;
  return std::nullopt;
}

std::optional<std::u16string> RecordingFoundItemSink::PathOf(std::size_t index, std::uint32_t rootId) const {
  std::u16string path = items[index].name;
  std::unordered_set<std::uint32_t> seen{items[index].record.itemId};
  std::uint32_t parent = items[index].record.parentId;
  while (parent != rootId) {
    const auto p = FindById(parent);
    if (!p || !seen.insert(parent).second) return std::nullopt;
    path = items[*p].name + u"/" + path;
    parent = items[*p].record.parentId;
  }
  return path;
}

}  // namespace corvan::test
