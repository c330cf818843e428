// The results window's find and file-mask commands: the search box, ">",
// "->", F3 and the Find dialog over the current view, and the mask box, "Go"
// and the "Set File Mask" dialog with the thread that builds the filtered
// tree.

#include "console/ui/CRecoveryConsole.h"

#include <QLabel>
#include <QTimer>

#include "app/CORVANApp.h"
#include "console/ui/CEditFind.h"
#include "console/ui/CEditMask.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CFileMask.h"
#include "console/ui/CFindDlg.h"
#include "console/ui/CScanProcess.h"
#include "console/ui/FolderListModel.h"
#include "console/ui/FolderTreeModel.h"
#include "core/StringIds.h"
#include "ui/CXBitmapButton.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

// ---------------------------------------------------------------- find

FindView CRecoveryConsole::MakeFindView() {
  return FindView{.store = *m_store,
                  .view = m_nView,
                  .stamps = m_stampKind,
                  .today = TodayUtc(),
                  .prompt = &App().GetPrompt(),
                  .active = &m_bFindActive[static_cast<std::size_t>(m_nView)],
                  .show = [this](FoundItemHandle h) { ShowMatch(h); }};
}

void CRecoveryConsole::ShowMatch(FoundItemHandle item) {
  // The folder that holds the entry, expanded and selected, and its row.
  const FoundItemHandle folder = m_store->HolderOf(m_nView, item);
  CFileFolderTree* tree = m_trees[static_cast<std::size_t>(m_nView)];
  tree->Model()->Refresh();
  if (folder != kNoFoundItem) tree->SelectFolderRecord(folder);
  FolderListModel* list = m_pList->Model();
  if (folder != kNoFoundItem && (list->Folder() != folder || list->View() != m_nView))
    list->ShowFolderContents(m_nView, folder);
  const int row = list->RowOf(item);
  if (row >= 0) {
    m_pList->selectRow(row);
    m_pList->scrollTo(list->index(row, 0));
  }
}

void CRecoveryConsole::ShowFindNow() {
  SetButtonEnabled(m_pFindNow, m_pSearch->HasSearchText() && m_pSearch->isEnabled());
  m_pFindNow->show();
  m_pFindNext->hide();
}

void CRecoveryConsole::FocusList() { m_pList->setFocus(); }

void CRecoveryConsole::SetSearchBoxText(const QString& names) {
  m_pSearch->setText(names);
  if (!names.isEmpty()) m_pSearch->setFont(SharedFontAt(kFontArial14Bold));
}

bool CRecoveryConsole::RunFind(FindSearch& search) { return search.Start(MakeFindView()); }

void CRecoveryConsole::RunSearch(const QString& text) {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return;
  ClearPreview();
  auto& slot = m_pFindDlg[static_cast<std::size_t>(m_nView)];
  slot = std::make_unique<FindSearch>();
  SetFindActive(false);
  FindCriteria& c = slot->criteria;
  c.m_bDeleted = c.m_bExisting = true;
  c.m_bMatchCase = false;
  c.SetNames(ToUtf16(text));
  RunFind(*slot);
  FocusList();
}

void CRecoveryConsole::OnFindNow() { RunSearch(m_pSearch->text().trimmed()); }

bool CRecoveryConsole::OnFindKey(bool backward) {
  FindSearch* search = FindCriteriaOf(m_nView);
  if (!search) return false;
  if (FindActive()) {
    const FindView v = MakeFindView();
    if (backward) search->FindPrevious(v);
    else search->FindNext(v);
    FocusList();
  } else {
    App().GetPrompt().MessageBoxId(kIdsNoMoreEntries, kPicInformation, kMbOk);
    ShowFindNow();
  }
  return true;
}

void CRecoveryConsole::OnFindNext() {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return;
  FindSearch* search = FindCriteriaOf(m_nView);
  if (!search) return;
  if (FindActive()) {
    search->FindNext(MakeFindView());
    FocusList();
    return;
  }
  if (app.GetPrompt().MessageBoxId(kIdsNoMoreEntries, kPicInformation, kMbOk) == kIdOk)
    SetButtonEnabled(m_pFindNext, false);
  m_pFindNow->show();
  m_pFindNext->hide();
  m_pFindDlg[static_cast<std::size_t>(m_nView)].reset();
}

void CRecoveryConsole::OnAdvanceFind() {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return;
  ClearPreview();
  const auto v = static_cast<std::size_t>(m_nView);
  if (m_pFindDlg[v] && m_bFindActive[v]) m_strFindNames[v] = m_pFindDlg[v]->criteria.m_strNames;
  m_pFindDlg[v] = std::make_unique<FindSearch>();
  CFindDlg dlg(*this, *m_pFindDlg[v], m_pSearch->text(), this);
  dlg.exec();
}

void CRecoveryConsole::DropFindCriteria() {
  for (auto& s : m_pFindDlg) s.reset();
  m_bFindActive = {};
}

// ---------------------------------------------------------------- the file mask

void CRecoveryConsole::OnFilterNow() {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return;
  ClearPreview();
  const QString text = m_pMask->text().trimmed();
  if (CEditMask::IsMaskText(text)) m_pMask->ApplyMask(text);
}

void CRecoveryConsole::OnAdvanceFilter() {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return;
  ClearPreview();
  CFileMask dlg([this](MaskCriteria c) { return StartMaskThread(std::move(c)); }, this);
  dlg.exec();
}

bool CRecoveryConsole::StartMaskThread(MaskCriteria criteria) {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent || (m_pMaskThread && m_pMaskThread->IsRunning())) return false;
  if (m_pMaskThread) m_pMaskThread->Join();
  if (m_nView != kViewFiltered) ShowView(kViewFiltered, false);
  m_pMaskThread = std::make_unique<CThreadForMask>(MaskJob{.store = *m_store,
                                                           .criteria = std::move(criteria),
                                                           .stamps = m_stampKind,
                                                           .busy = app.m_bBusy,
                                                           .abort = app.m_bAbort,
                                                           .maskRunning = app.m_bMaskRunning,
                                                           .resetScanState = [] { App().ResetScanState(); },
                                                           .sink = m_pMaskEvents.get()});
  if (!m_pMaskThread->Start()) return false;
  m_bMaskPending = true;
  // The filtered tree fills as the thread goes.
  m_pList->Model()->Clear();
  m_pRefreshTimer->start();
  return true;
}

void CRecoveryConsole::OnMaskStarted() {
  for (auto* b : {m_pBack, m_pFind, m_pClose}) SetButtonEnabled(b, false);
  m_strTotalFiltered.clear();
  m_pStatus->clear();
  if (m_nView == kViewFiltered) m_pTotal->clear();
}

void CRecoveryConsole::OnMaskProgress(const QString& text) {
  m_strTotalFiltered = text;
  if (m_nView == kViewFiltered) m_pTotal->setText(text);
}

void CRecoveryConsole::OnMaskEnded() {
  if (m_pMaskThread) m_pMaskThread->Join();
  if (!m_pScanDlg) m_pRefreshTimer->stop();
  RefreshResults();
  // The filtered root expanded and selected, its folders collapsed.
  if (m_nView == kViewFiltered) {
    m_trees[kViewFiltered]->CollapseAllAndSelectCurrent();
    m_pTotal->setText(m_strTotalFiltered);
  }
  for (auto* b : {m_pBack, m_pFind, m_pClose}) SetButtonEnabled(b, true);
  UpdateStatusText(1);
  m_bMaskPending = false;
}

}  // namespace corvan
