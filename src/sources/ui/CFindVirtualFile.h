#pragma once
// Searches a folder tree for image files of one type on a worker thread and
// lets the user pick one; OK hands its path and type to the application.
// The folder box offers the user's home and the mounted file systems (what
// stands for drive letters here). OK and Cancel are refused while a search
// runs, so the dialog always outlives its worker.

#include <QPointer>
#include <atomic>
#include <functional>
#include <thread>

#include "ui/SkinnedDialog.h"

class QComboBox;
class QProgressBar;
class QRadioButton;

namespace corvan {

class CXColorListCtrl;

class CFindVirtualFile : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdGroup = 1036;
  static constexpr int kIdVmware = 1452, kIdVirtualBox = 1453, kIdVirtualPc = 1454;
  static constexpr int kIdFolder = 1455, kIdSelectFolder = 1059, kIdFind = 1067, kIdStop = 1167;
  static constexpr int kIdAnimation = 1456, kIdList = 1450, kIdClearList = 1131;

  // The folder chooser; tests set it. Returns the chosen folder or empty.
  static std::function<QString(QWidget* parent)>& FolderChooser();

  explicit CFindVirtualFile(QWidget* parent = nullptr);
  ~CFindVirtualFile() override;

  void OnSelectFolder();
  void OnFind();
  void OnStop();
  void OnClearList();
  void OnOK();
  void OnCancel();

  bool IsSearching() const { return m_bSearching; }
  // OK took a file of the list (its path and type are in the application
  // object).
  bool Chosen() const { return m_bChosen; }
  CXColorListCtrl* List() const { return m_list; }
  int FoundCount() const { return m_nFoundCount; }

  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }

 signals:
  // The walk has ended (finished or stopped) and the buttons are back.
  void SearchEnded();

 private:
  void OnFileFound(const QString& path);
  void OnSearchEnded();
  QString CheckedExtension() const;

  std::atomic<bool> m_bStop{false};
  bool m_bSearching = false;
  bool m_bChosen = false;
  int m_nFoundCount = 0;
  std::thread m_worker;

  QRadioButton* m_radios[3];
  QComboBox* m_folder;
  QWidget* m_btnSelect;
  QWidget* m_btnFind;
  QWidget* m_btnStop;
  QWidget* m_btnClear;
  QWidget* m_btnOk;
  QProgressBar* m_animation;
  CXColorListCtrl* m_list;
};

}  // namespace corvan
