#pragma once
// "Saving Data": the progress dialog of Recover and of saving the scan
// information. For Recover its worker checks the destination's free space
// and runs the saving job over the items the results window has checked;
// the job fills the two bars and the folder and file lines. Stop asks
// before it stops the job (the job then asks about the file in hand); Min
// hides the results window with it. Saving the scan information steps the
// bar once per found item and cannot be stopped: a half-written scan would
// be of no use. The dialog closes only after the worker has ended.

#include <cstdint>
#include <filesystem>
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
                       kIdCountText = 1228, kIdFolderText = 1231, kIdFileText = 1232, kIdCancel = 1292,
                       kIdGroup = 1036, kIdFrame = 1281;
  static constexpr int kHelpContext = 146;

  // `owner`: the results window the dialog lies over; `store` and `view`:
  // what it shows, whose checked items are saved.
  CSaveProcess(QWidget* owner, FoundItemStore& store, int view);
  // Saves the scan of `store`'s items to `scanInfoFile`.
  CSaveProcess(QWidget* owner, FoundItemStore& store, std::filesystem::path scanInfoFile);
  ~CSaveProcess() override;

  bool SavesScanInformation() const { return !m_scanInfoFile.empty(); }
  // What the job did; valid once the dialog has ended.
  const SaveJobResult& Result() const { return m_result; }
  bool SpaceRefused() const { return m_bSpaceRefused; }
  // Whether the scan information was saved.
  bool ScanInfoSaved() const { return m_bScanInfoSaved; }

  // Runs on the UI thread after the worker has ended, before the dialog
  // closes (the window renderer grabs the filled dialog there).
  static void SetBeforeEndHook(std::function<void(CSaveProcess&)> hook);

  // The saving job has no critical stretch: Stop stays enabled (and stays
  // off for the scan information).
  void EnableStop(bool) override {}
  void reject() override;

 protected:
  void RunWorker() override;
  void OnStarting() override;
  void OnEnding() override;
  void AskStop() override;
  void PlaceControls() override;

 private:
  void RunScanInfoSave();

  FoundItemStore& m_store;
  int m_nView;
  std::filesystem::path m_scanInfoFile;
  bool m_bScanInfoSaved = false;
  std::unique_ptr<QtSaveDecisions> m_decisions;
  SaveJobResult m_result;
  bool m_bSpaceRefused = false;
};

}  // namespace corvan
