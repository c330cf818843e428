#pragma once
// The dialog a lost-volume search runs in: it starts the search on a worker
// thread, lists every volume found as a row, shows the progress, offers
// Stop, Minimize and Help, and when the search has ended returns to the
// page it came from with the found volumes added there. The worker reports
// through LostVolumeSink; what it reports is kept here and shown by a timer
// on the UI thread. The dialog never closes while the worker runs.

#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WorkerThread.h"
#include "scan/CThreadForSearchVolume.h"
#include "ui/SkinnedDialog.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvan {

class CXBitmapButton;
class CXColorListCtrl;

class CLostVolume : public CSkinnedDialog, public LostVolumeSink {
  Q_OBJECT
 public:
  static constexpr int kIdBack = 2, kIdStop = 1059, kIdMinimize = 1071, kIdHelp = 1131;
  static constexpr int kIdList = 1176, kIdBar = 1175, kIdProgress = 1177, kIdHeading = 1143;
  static constexpr int kHelpContext = 136;
  // Modes: a first search from the options panel, a search of a source of
  // the resume page, a repeated search of a disk searched before.
  static constexpr std::uint8_t kModeFirst = 0, kModeResume = 1, kModeRepeat = 2;

  // `onReturn` shows the calling page again with its lists refreshed.
  CLostVolume(int imageFlag, std::uint8_t mode, bool deep, QWidget* parent = nullptr,
              std::function<void()> onReturn = {});
  ~CLostVolume() override;

  // Lists earlier finds (repeated search) and starts the search; once.
  // The first showing does it.
  void Start();
  // Off: showing the dialog does not start the search (pictures of it).
  void SetStartOnShow(bool on) { m_bStartOnShow = on; }
  // Volumes found before on the selected disk (repeated search).
  void ListEarlierFinds();
  // Ends the dialog and returns to the calling page; nothing while the
  // search runs.
  void CloseAndReturn();
  void OnStop();
  void OnMinimize();
  void OnHelp();
  // What the worker reported so far (the timer does it on its own).
  void ShowProgress();

  bool SearchRunning() const;
  bool Done() const { return m_bDone.load() != 0; }
  CXColorListCtrl* List() const { return m_list; }

  // ---- LostVolumeSink (search thread) ----
  void SetProgressText(const std::string& text) override;
  void SetProgressRange(std::int64_t low, std::int64_t high) override;
  void SetProgressStep(std::int64_t step) override;
  void SetProgressPos(std::int64_t pos) override;
  void StepProgress() override;
  void AddFoundVolume(SourceRecord& record) override;
  void HideProgress() override;
  void RevealProgress() override;
  void SearchDone() override;

  void accept() override {}
  void reject() override {}

 protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void OnSearchEnded();
  void MaybeCloseItself();

  int m_nImageFlag;
  std::uint8_t m_nMode;
  bool m_bDeep;
  std::function<void()> m_onReturn;
  bool m_bStarted = false;
  bool m_bStartOnShow = true;
  bool m_bAutoClose = true;
  bool m_bAsking = false;
  bool m_bEnded = false;  // the worker has ended and was joined
  std::atomic<std::uint32_t> m_bDone{0};
  WorkerThread m_worker;

  std::atomic<std::int64_t> m_nLow{0}, m_nHigh{100}, m_nStep{1}, m_nPos{0};
  std::atomic<bool> m_bHideProgress{false};
  std::atomic<bool> m_bStopHidden{false};  // for good, once the sweep has ended
  std::mutex m_mutex;
  std::string m_strProgress;
  std::vector<QStringList> m_pendingRows;
  std::vector<const SourceRecord*> m_pendingRecords;
  // The record of each row shown (UI thread only): a size the search cut
  // once it was done is shown as the record has it.
  std::vector<const SourceRecord*> m_rowRecords;

  CXColorListCtrl* m_list;
  QProgressBar* m_bar;
  QLabel* m_progress;
  CXBitmapButton* m_btnStop;
  QPushButton* m_btnBack;
  QPushButton* m_btnMinimize;
  QPushButton* m_btnHelp;
  QTimer* m_timer;
};

}  // namespace corvan
