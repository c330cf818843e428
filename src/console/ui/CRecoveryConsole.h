#pragma once
// The results window. 200 ms after it is shown it runs the scan through the
// progress dialog; the engines hand every found folder and file to its
// found-item store, and it shows them in three views on tabs ("Classic
// Tree", "File Type List", "Filtered Tree"), a folder-contents list and the
// status lines, with check boxes that choose what Recover saves.
//
// It is the program's window in front while it is open (MainWindows): Back
// puts a new start window in front and Close ends the program; neither
// nests an event loop.

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "console/CThreadForMask.h"
#include "console/FindCriteria.h"
#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"
#include "ui/ConsoleArt.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QComboBox;
class QTimer;
class QModelIndex;

namespace corvan {

class CDragTitle;
class CEditFind;
class CEditMask;
class CFileFolderTree;
class CFileListCtrl;
class CScanProcess;
class CXBitmapButton;
class CXTabCtrl;
class CPreviewArea;
class EngineBackend;

class CRecoveryConsole;
enum class SaveLogAnswer;

// What later parts of the program plug into the results window. Unset, the
// command does its own checks and stops there.
struct RecoveryConsoleParts {
  // The destination dialog of Recover; returns IDOK when saving started.
  std::function<int(CRecoveryConsole&)> runDestination;
  // "Save scan information" of Close and Back; returns whether leaving is
  // confirmed (false when the user cancelled or the save was refused).
  std::function<bool(CRecoveryConsole&)> saveScanInformation;
  // The question whether logs are to be saved, asked as the window closes.
  std::function<SaveLogAnswer(CRecoveryConsole&)> askforSaveLog;
};

class CRecoveryConsole : public QWidget {
  Q_OBJECT
 public:
  // Control ids.
  static constexpr int kIdTab = 1074;
  static constexpr int kIdTreeClassic = 1064, kIdTreeByType = 1076, kIdTreeFiltered = 1077;
  static constexpr int kIdList = 1036;
  static constexpr int kIdSearch = 1087, kIdMask = 1083, kIdMaskHint = 1081, kIdMaskFrame = 1091;
  static constexpr int kIdRecover = 1059, kIdFind = 1067, kIdBack = 1068, kIdMinimise = 1071, kIdClose = 1072,
                       kIdMaximise = 1073, kIdFilterOptions = 1082, kIdFilterNow = 1084, kIdFindNext = 1085,
                       kIdFindNow = 1086, kIdLog = 1088, kIdHelp = 1089;
  static constexpr int kIdStatus = 1272, kIdTotal = 1273;
  static constexpr int kIdTitleStrip = 1066, kIdPreviewFrame = 1069, kIdPreviewBox = 1266, kIdPane = 1065,
                       kIdGroup = 1070;
  static constexpr int kIdPlaceholderPicture = 1271, kIdPlaceholderText = 1269, kIdPlaceholderLink = 1270;
  static constexpr int kIdRecoverCaption = 1275, kIdBackCaption = 1274;
  static constexpr int kIdSeparator1 = 1276, kIdSeparator2 = 1277, kIdSeparator3 = 1278;
  static constexpr int kHelpContext = 132;
  static constexpr int kWidth = 980, kHeight = 640;
  static constexpr int kStartDelayMs = 200;

  explicit CRecoveryConsole(std::unique_ptr<EngineBackend> engines, QWidget* parent = nullptr);
  ~CRecoveryConsole() override;

  static RecoveryConsoleParts& Parts();

  FoundItemStore& Store() { return *m_store; }
  int View() const { return m_nView; }
  CFileFolderTree* Tree(int view) const { return m_trees[static_cast<std::size_t>(view)]; }
  CFileListCtrl* List() const { return m_pList; }
  CXTabCtrl* Tab() const { return m_pTab; }
  CScanProcess* ScanDialog() const;
  bool ScanStarted() const { return m_bScanStarted; }
  bool ScanFinished() const { return m_bScanFinished; }
  StampKind TimeStampKind() const { return m_stampKind; }

  // ---- the window ----
  void ShowView(int view, bool keepRoot);
  // 0: the total lines (and the scan dialog's running total); 1: the marked
  // line of the current view.
  void UpdateStatusText(int marked);
  QString TotalText() const;   // the total line of the current view
  QString MarkedText() const;  // the marked line of the current view
  // Picks up what the engines handed over since the last call.
  void RefreshResults();
  void ClearPreview();
  // Shows `item` in the preview area (`forceHex`: "Show As Hex"); folders and
  // empty files leave the placeholders.
  void ShowPreview(FoundItemHandle item, bool forceHex = false);
  CPreviewArea* PreviewArea() const { return m_pPreviewArea; }
  bool PreviewShown() const { return m_bPreviewShown; }
  void OnMaximizeRestore();
  void OnMinimize();
  bool IsRestored() const { return m_bRestored; }

  // ---- commands ----
  void OnHelp();
  void OnBnClickedRecover();
  // Recover's checks and the destination dialog; IDOK when saving started.
  int RunRecover();
  void OnBack();
  void OnCancel();
  // "Log": the log viewer.
  void OnViewLog();
  void ReleaseViews();
  // Off while the scan information is saved: Back and "?" wait for it.
  void EnableLeaveCommands(bool on);

  // The start timer's work: runs the scan dialog once.
  void OnTimer();

  // ---- find ----
  CEditFind* SearchBox() const { return m_pSearch; }
  // ">": a new search for the search box's text.
  void OnFindNow();
  // "->": the current view's search continues.
  void OnFindNext();
  // "Find": a new criteria object for the current view, in the dialog.
  void OnAdvanceFind();
  // The search box's search (Enter, ">"): new criteria for the current view
  // from `text` alone, searched from the top.
  void RunSearch(const QString& text);
  // F3 (`backward`: Shift+F3); false when the key is not find's.
  bool OnFindKey(bool backward);
  // The current view's criteria object, or null.
  FindSearch* FindCriteriaOf(int view) const { return m_pFindDlg[static_cast<std::size_t>(view)].get(); }
  // The current view's flag: a search F3 can continue.
  bool FindActive() const { return m_bFindActive[static_cast<std::size_t>(m_nView)]; }
  void SetFindActive(bool on) { m_bFindActive[static_cast<std::size_t>(m_nView)] = on; }
  // The pattern list of the current view's search that Find replaced.
  std::u16string SavedFindNames() const { return m_strFindNames[static_cast<std::size_t>(m_nView)]; }
  // A new search with `search` in the current view; true when it showed a match.
  bool RunFind(FindSearch& search);
  void SetSearchBoxText(const QString& names);
  void FocusList();

  // ---- the file mask ----
  CEditMask* MaskBox() const { return m_pMask; }
  // "Go": the mask box's text as a new mask.
  void OnFilterNow();
  // "+": the "Set File Mask" dialog.
  void OnAdvanceFilter();
  // Starts the mask thread; false while one runs or without results.
  bool StartMaskThread(MaskCriteria criteria);
  // From the start of a mask until the window has taken its end.
  bool MaskPending() const { return m_bMaskPending; }

 signals:
  // The scan dialog has closed and the results are in the views.
  void ScanEnded();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void showEvent(QShowEvent*) override;
  void closeEvent(QCloseEvent*) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  enum class Anchor { Fixed, StretchH, StretchBoth, StretchV, BottomLeft, BottomRight, TopRight };
  struct Anchored {
    QPointer<QWidget> control;
    Anchor anchor;
    QRect rect;  // at the design size
  };

  void CreateControls();
  CXBitmapButton* MakeButton(int id, ButtonLook look, const QRect& r, const QString& text, unsigned tip = 0,
                             ButtonPicture picture = ButtonPicture::None);
  void Place(QWidget* w, Anchor a, const QRect& r);
  void LayoutControls();
  void PublishWorkArea();
  void SetButtonEnabled(CXBitmapButton* b, bool on);
  void UpdateRecoverButton();
  void OnScanDialogEnded();
  // The stamp kind of the items of `engine`, for the list and the date filters.
  void UseStampsOf(EngineKind engine);
  void OnTreeCheck(int view, FoundItemHandle folder);
  void OnListCheck(FoundItemHandle item);
  void OnFolderSelected(int view, FoundItemHandle folder);
  void OnOpenFolder(FoundItemHandle folder);
  void OnListClick(const QModelIndex& index);
  void OnRecoverItem(FoundItemHandle item);
  void AfterCheckChange();
  void FillFileTypeView();
  bool Leave(bool closing);
  // Of the selected source: the volume's label, else "Root".
  static std::u16string RootLabel();
  FindView MakeFindView();
  void ShowMatch(FoundItemHandle item);
  void ShowFindNow();
  void DropFindCriteria();
  void OnMaskStarted();
  void OnMaskProgress(const QString& text);
  void OnMaskEnded();

  class MaskEvents;
  friend class MaskEvents;

  std::unique_ptr<FoundItemStore> m_store;
  std::unique_ptr<EngineBackend> m_engines;

  int m_nView = 0;
  bool m_bLeaveConfirmed = true;
  bool m_bScanStarted = false;
  bool m_bScanFinished = false;
  bool m_bRestored = true;
  bool m_bTypeViewFilled = false;
  bool m_bLeaving = false;  // Back or Close decided: the window may close
  StampKind m_stampKind = StampKind::Ntfs;
  QRect m_rcInitialWindow;
  int m_nSavedTabStyle = 0;

  QString m_strScanTotalText, m_strFinalTotalText;
  QString m_strTotalByType, m_strMarkedByType, m_strMarkedClassic, m_strTotalFiltered, m_strMarkedFiltered;

  std::vector<Anchored> m_anchors;
  CDragTitle* m_pTitle = nullptr;
  CXTabCtrl* m_pTab = nullptr;
  std::array<CFileFolderTree*, 3> m_trees{};
  CFileListCtrl* m_pList = nullptr;
  CEditFind* m_pSearch = nullptr;
  CEditMask* m_pMask = nullptr;
  std::vector<QWidget*> m_maskControls;
  QWidget* m_pPreviewFrame = nullptr;
  std::vector<QWidget*> m_placeholders;
  CPreviewArea* m_pPreviewArea = nullptr;
  bool m_bPreviewShown = false;
  QLabel* m_pStatus = nullptr;
  QLabel* m_pTotal = nullptr;
  CXBitmapButton* m_pRecover = nullptr;
  CXBitmapButton* m_pFind = nullptr;
  CXBitmapButton* m_pBack = nullptr;
  CXBitmapButton* m_pMinimise = nullptr;
  CXBitmapButton* m_pClose = nullptr;
  CXBitmapButton* m_pMaximise = nullptr;
  CXBitmapButton* m_pFilterOptions = nullptr;
  CXBitmapButton* m_pFilterNow = nullptr;
  CXBitmapButton* m_pFindNext = nullptr;
  CXBitmapButton* m_pFindNow = nullptr;
  CXBitmapButton* m_pLog = nullptr;
  CXBitmapButton* m_pHelp = nullptr;
  QPointer<CScanProcess> m_pScanDlg;
  // Find: one criteria object per view, which F3 continues with.
  std::array<std::unique_ptr<FindSearch>, kViewCount> m_pFindDlg;
  std::array<bool, kViewCount> m_bFindActive{};
  std::array<std::u16string, kViewCount> m_strFindNames;
  // The mask thread of the last mask and what it reports to.
  std::unique_ptr<MaskSink> m_pMaskEvents;
  std::unique_ptr<CThreadForMask> m_pMaskThread;
  bool m_bMaskPending = false;
  QTimer* m_pStartTimer = nullptr;
  QTimer* m_pRefreshTimer = nullptr;
};

// Builds a results window for the selected source and recovery mode and
// puts it in front (the start window closes).
CRecoveryConsole* OpenRecoveryConsole(std::unique_ptr<EngineBackend> engines);

}  // namespace corvan
