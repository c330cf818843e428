#pragma once
// "Saving Data": the progress dialog of Recover. Its worker checks the
// destination's free space and runs the saving job over the items the
// results window has checked; the job fills the two bars and the folder
// and file lines. Stop asks before it stops the job (the job then asks
// about the file in hand); Min hides the results window with it. The dialog
// closes only after the worker has ended.

#include <cstdint>
#include <functional>
#include <memory>

#include "save/CThreadForSavingFiles.h"
#include "ui/ProgressDialogBase.h"

namespace corvan {

class FoundItemStore;
class QtSaveDecisions;

class CSaveProcess : public ProgressDialogBase {
  Q_OBJECT
 public:
  static constexpr int kIdMainBar = 1229, kIdFileBar = 1230, kIdMin = 1059, kIdStop = 1233, kIdHelp = 1234,
                       kIdCountText = 1228, kIdFolderText = 1231, kIdFileText = 1232, kIdOk = 1, kIdCancel = 1292,
                       kIdGroup = 1036, kIdFrame = 1281;
  static constexpr int kHelpContext = 146;

  // `owner`: the results window the dialog lies over; `store` and `view`:
  // what it shows, whose checked items are saved.
  CSaveProcess(QWidget* owner, FoundItemStore& store, int view);
  ~CSaveProcess() override;

  // What the job did; valid once the dialog has ended.
  const SaveJobResult& Result() const { return m_result; }
  bool SpaceRefused() const { return m_bSpaceRefused; }

  // Runs on the UI thread after the worker has ended, before the dialog
  // closes (the window renderer grabs the filled dialog there).
  static void SetBeforeEndHook(std::function<void(CSaveProcess&)> hook);

  // The saving job has no critical stretch: Stop stays enabled.
  void EnableStop(bool) override {}
  void reject() override;

 protected:
  void RunWorker() override;
  void OnStarting() override;
  void OnEnding() override;
  void AskStop() override;
  void PlaceControls() override;

 private:
  FoundItemStore& m_store;
  int m_nView;
  std::unique_ptr<QtSaveDecisions> m_decisions;
  SaveJobResult m_result;
  bool m_bSpaceRefused = false;
};

}  // namespace corvan
