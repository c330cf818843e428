#pragma once
// What the lost-volume search tests share: disks laid out from the corpus
// volume images in sparse files, and a sink that records what the search
// reports, from whichever thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scan/CThreadForSearchVolume.h"
#include "sources/FileSectorSource.h"
#include "sources/SourceRecords.h"
#include "support/TestSupport.h"

namespace corvan::test {

inline std::uint64_t VolumeSectors(const std::string& image) {
  return std::filesystem::file_size(CorpusDir() / image) / 512;
}

// A sparse disk file of `sectors` zero sectors, volumes copied in.
class LaidDisk {
 public:
  explicit LaidDisk(std::uint64_t sectors) : file_(dir_ / "disk.img") {
    { std::ofstream create(file_, std::ios::binary); }
    std::filesystem::resize_file(file_, sectors * 512);
  }
  // The corpus volume `image` from sector `start` on; its zero runs stay holes.
  void Place(const std::string& image, std::uint64_t start) { PlaceFile(CorpusDir() / image, start); }
  // Any volume file, the same way.
  void PlaceFile(const std::filesystem::path& volume, std::uint64_t start) {
    CopyKeepingHoles(volume, file_, start * 512);
  }
  void Write(std::uint64_t sector, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream out(file_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(sector * 512 + offset));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Write(std::uint64_t sector, const std::vector<std::uint8_t>& bytes) { Write(sector, 0, bytes); }
  void WriteBytes(std::uint64_t sector, const std::vector<std::uint8_t>& bytes) { Write(sector, 0, bytes); }
  void Zero(std::uint64_t sector, std::uint64_t count = 1) { Write(sector, 0, std::vector<std::uint8_t>(count * 512, 0)); }
  void Truncate(std::uint64_t sectors) { std::filesystem::resize_file(file_, sectors * 512); }
  std::shared_ptr<SectorSource> Source() const { return std::make_shared<FileSectorSource>(file_); }

 private:
  TempDir dir_;
  std::filesystem::path file_;
};

class RecordingSink final : public LostVolumeSink {
 public:
  void SetProgressText(const std::string& text) override {
    std::lock_guard lock(mutex);
    lastText = text;
  }
  void SetProgressRange(std::int64_t, std::int64_t high) override { rangeHigh = high; }
  void SetProgressStep(std::int64_t) override {}
  void SetProgressPos(std::int64_t) override {}
  void StepProgress() override {
    const std::int64_t n = ++steps;
    if (onStep) onStep(n);
  }
  void AddFoundVolume(SourceRecord& record) override {
    std::lock_guard lock(mutex);
    added.push_back(record.partition->startSector);
    addedAtStep.push_back(steps.load());
    addedAt.push_back(std::chrono::steady_clock::now());
  }
  void HideProgress() override { hidden = true; }
  void RevealProgress() override { hidden = false; }
  void SearchDone() override { done = true; }

  std::mutex mutex;
  std::string lastText;
  std::atomic<std::int64_t> rangeHigh{0};
  std::atomic<std::int64_t> steps{0};
  std::vector<std::uint64_t> added;
  std::vector<std::int64_t> addedAtStep;
  std::vector<std::chrono::steady_clock::time_point> addedAt;
  std::atomic<bool> hidden{false};
  std::atomic<bool> done{false};
  std::function<void(std::int64_t)> onStep;
};

}  // namespace corvan::test
