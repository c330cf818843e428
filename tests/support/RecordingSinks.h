#pragma once
// Sinks that record what a pass hands over, for tests of every engine: the
// found items with their 73-byte images and names, in order, every call made
// to the progress dialog, and the questions put to the message box.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ProgressSink.h"
#include "core/Prompt.h"
#include "core/FoundItemSink.h"

namespace corvan::test {

struct RecordedItem {
  FoundItemInfo record;
  std::array<std::uint8_t, kFoundItemInfoSize> bytes{};  // the record as sent
  std::u16string name;
  std::uint32_t sizeUpdates = 0;
};

class RecordingFoundItemSink final : public FoundItemSink {
 public:
  enum class EventKind { Root, Add, Size, Name, Status };
  struct Event {
    EventKind kind;
    std::uint32_t value;  // root id, or the item's index (its handle)
  };

  void OnInsertRootItem(std::uint32_t rootId) override;
  FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) override;
  void UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) override;
  void UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) override;
  void UpdateStatusText(int view) override;

  std::vector<std::uint32_t> roots;
  std::vector<RecordedItem> items;
  std::vector<Event> events;
  std::uint32_t statusUpdates = 0;

  // Index of the first item with this id.
  std::optional<std::size_t> FindById(std::uint32_t id) const;
  // "a/b/c" from the root down, or nothing when a parent is missing or the
  // parents loop.
  std::optional<std::u16string> PathOf(std::size_t index, std::uint32_t rootId) const;
};

class RecordingProgressSink final : public ProgressSink {
 public:
  void SetRange(std::int64_t low, std::int64_t high) override { ranges.push_back({low, high}); }
  void SetStep(std::int64_t step) override { steps.push_back(step); }
  void SetPos(std::int64_t pos) override { positions.push_back(pos); }
  void StepIt() override { ++stepIts; }
  void SetSecondRange(std::int64_t low, std::int64_t high) override { secondRanges.push_back({low, high}); }
  void SetSecondPos(std::int64_t pos) override { secondPositions.push_back(pos); }
  void SetCounterText(const std::string& text) override { counterTexts.push_back(text); }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
  void SetSectorText(const std::string& text) override { sectorTexts.push_back(text); }
  void EnableStop(bool enabled) override { stopStates.push_back(enabled); }

  std::vector<std::pair<std::int64_t, std::int64_t>> ranges, secondRanges;
  std::vector<std::int64_t> steps, positions, secondPositions;
  std::uint64_t stepIts = 0;
  std::vector<std::string> counterTexts, statusTexts, sectorTexts;
  std::vector<bool> stopStates;
};

// The message box: remembers each question and answers OK.
class RecordingPrompt final : public Prompt {
 public:
  int MessageBox(const std::string& text, unsigned picture, unsigned type) override {
    texts.push_back(text);
    pictures.push_back(picture);
    types.push_back(type);
    return kIdOk;
  }
  std::vector<std::string> texts;
  std::vector<unsigned> pictures, types;
};

}  // namespace corvan::test
