#pragma once
// A host for runs without windows: tests and the headless scan driver. It
// owns its flags and lists, keeps the log lines in memory and answers
// message boxes without asking (or through the prompt it is given). Each
// job may have its own, so two scans can run side by side.

#include <mutex>

#include "core/EngineHost.h"

namespace corvan {

class HeadlessHost final : public EngineHost {
 public:
  HeadlessHost() = default;
  HeadlessHost(FoundItemSink* results, ProgressSink* progress) : m_pResults(results), m_pProgress(progress) {}

  void SetResultsSink(FoundItemSink* sink) { m_pResults = sink; }
  void SetScanProgressSink(ProgressSink* sink) { m_pProgress = sink; }
  void SetPrompt(Prompt* prompt) { m_pPrompt = prompt; }
  void SetRecoveryMode(std::uint32_t mode) { m_nRecoveryMode = mode; }
  void SetRawSetting(std::uint32_t value) { m_nSetRaw = value; }

  FoundItemSink* ResultsSink() override { return m_pResults; }
  ProgressSink* ScanProgressSink() override { return m_pProgress; }
  Prompt& GetPrompt() override { return m_pPrompt ? *m_pPrompt : m_unattended; }
  void AppendLog(const std::string& text, bool isHeading) override;
  // Every line appended so far, one per line, headings as they came.
  std::string LogText() const;

  std::atomic<std::uint32_t>& BusyFlag() override { return m_bBusy; }
  std::atomic<std::uint32_t>& AbortFlag() override { return m_bAbort; }
  std::atomic<std::uint32_t>& CriticalPhaseFlag() override { return m_bCriticalPhase; }
  std::atomic<std::uint32_t>& FromScanInfoFlag() override { return m_bFromScanInfo; }
  std::atomic<std::uint8_t>& VolumeOpenedFlag() override { return m_bVolumeOpened; }
  std::atomic<std::int32_t>& NextSyntheticId() override { return m_nNextSyntheticId; }
  std::uint32_t RecoveryMode() const override { return m_nRecoveryMode; }
  std::uint32_t RawSetting() const override { return m_nSetRaw; }
  std::vector<FileTypeRecord>& SelectedTypeList() override { return m_selectedTypeList; }
  std::atomic<std::uint64_t>& RawFileCount() override { return m_nRawFileCount; }

 private:
  FoundItemSink* m_pResults = nullptr;
  ProgressSink* m_pProgress = nullptr;
  Prompt* m_pPrompt = nullptr;
  UnattendedPrompt m_unattended;
  mutable std::mutex m_logMutex;
  std::string m_log;
  std::atomic<std::uint32_t> m_bBusy{0};
  std::atomic<std::uint32_t> m_bAbort{0};
  std::atomic<std::uint32_t> m_bCriticalPhase{0};
  std::atomic<std::uint32_t> m_bFromScanInfo{0};
  std::atomic<std::uint8_t> m_bVolumeOpened{0};
  std::atomic<std::int32_t> m_nNextSyntheticId{0};
  std::atomic<std::uint64_t> m_nRawFileCount{0};
  std::uint32_t m_nRecoveryMode = 0;
  std::uint32_t m_nSetRaw = 0;
  std::vector<FileTypeRecord> m_selectedTypeList;
};

}  // namespace corvan
