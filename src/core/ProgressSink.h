#pragma once
// What a worker tells its progress dialog: the main bar (range, step,
// position, step-it), a second bar, three status texts and whether Stop may
// be pressed. The Qt dialogs implement it; headless runs use NullProgressSink
// or a recorder of their own.

#include <cstdint>
#include <string>

namespace corvan {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;

  virtual void SetRange(std::int64_t low, std::int64_t high) = 0;
  virtual void SetStep(std::int64_t step) = 0;
  virtual void SetPos(std::int64_t pos) = 0;
  virtual void StepIt() = 0;

  virtual void SetSecondRange(std::int64_t low, std::int64_t high) = 0;
  virtual void SetSecondPos(std::int64_t pos) = 0;

  // The count of entries found ("%d " and, for some passes, "Entries Found").
  virtual void SetCounterText(const std::string& text) = 0;
  // The phase ("Searching metadata...") or empty to clear it.
  virtual void SetStatusText(const std::string& text) = 0;
  // "Reading sector " and the sector being read.
  virtual void SetSectorText(const std::string& text) = 0;

  // Stop is disabled while work that must not be cut short runs.
  virtual void EnableStop(bool enabled) = 0;
};

class NullProgressSink final : public ProgressSink {
 public:
  void SetRange(std::int64_t, std::int64_t) override {}
  void SetStep(std::int64_t) override {}
  void SetPos(std::int64_t) override {}
  void StepIt() override {}
  void SetSecondRange(std::int64_t, std::int64_t) override {}
  void SetSecondPos(std::int64_t) override {}
  void SetCounterText(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetSectorText(const std::string&) override {}
  void EnableStop(bool) override {}
};

}  // namespace corvan
