#include "app/CORVANApp.h"

#include "core/AppServices.h"
#include "platform/Folders.h"

namespace corvan {

CORVANApp::CORVANApp(std::filesystem::path profileFile, std::filesystem::path installFolder)
    : m_profile(std::move(profileFile)),
      m_productKey(installFolder.empty() ? InstallFolder() : std::move(installFolder), m_profile) {
  m_strInstallPath = m_productKey.InstallPath();
  m_strLogBanner = LogViewerBanner();
  m_strLogView = m_strLogBanner;
}

CORVANApp::~CORVANApp() {
  FreeSourcesAndEngines();
  FlushLog();
  m_pConsole = nullptr;
  m_pSaveProgressDlg = nullptr;
  m_pScanProgressDlg = nullptr;
}

void CORVANApp::InitState() {
  m_nNextSyntheticId = -16;
  {
    std::lock_guard lock(m_logMutex);
    m_strLogBanner = LogViewerBanner();
    m_strLogView = m_strLogBanner;
  }
  m_nScreenDpi = 0;
  m_strInstallPath = m_productKey.InstallPath();
  m_bCheckUpdate = static_cast<std::uint32_t>(m_profile.GetInt("Update", "CheckUpdate", 0));
}

void CORVANApp::ResetScanState() {
  m_bBusy = 0;
  m_bAbort = 0;
  m_bMaskRunning = 0;
  if (const ScanEngine* engine = m_pScanSession->Engine(); engine && engine->FoundItemCount() != 0)
    m_bResultsPresent = 1;
}

void CORVANApp::FreeResultLists() {
  m_fileTypeList.clear();
  m_saveChoice.m_saveMasks.clear();
}

void CORVANApp::FreeSourcesAndEngines() {
  m_selectedTypeList.clear();
  m_sourceList.FreeSourceList();
  if (m_nSourceListState == 0) m_sourceList.FreePartitionList();
  else m_nSourceListState = 1;
  m_pScanSession->Release();
  FreeResultLists();
}

CORVANApp& App() {
  static CORVANApp app;
  return app;
}

}  // namespace corvan
