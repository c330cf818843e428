#include "app/ui/CORVANDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "app/ui/CAboutDlg.h"
#include "app/ui/CSettings.h"
#include "ui/CStartPage.h"
#include "scan/ui/CResumeRecovery.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "sources/ui/CDataRecovery.h"
#include "ui/CSlider.h"
#include "ui/CSliderButton.h"
#include "ui/CTButton.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
CORVANDlg*& TheMainDlg() {
  static CORVANDlg* dlg = nullptr;
  return dlg;
}

bool IsDialogKey(int key) {
  return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}
}  // namespace

CORVANDlg* MainDlg() { return TheMainDlg(); }

StartScreenParts& CORVANDlg::Parts() {
  static StartScreenParts parts = [] {
    StartScreenParts p;
    p.newRecoveryPage = [](QWidget* container) -> CStartPage* { return new CDataRecovery(container); };
    p.resumePage = [](QWidget* container) -> CStartPage* { return new CResumeRecovery(container); };
    p.optionsPanel = [](CORVANDlg& owner) -> CSlider* {
      return new CSliderOptionDlg(owner, [&owner] { owner.CloseOptionsPanel(); });
    };
    p.runSettings = [](QWidget* parent) {
      CSettings settings(parent);
      settings.exec();
    };
    return p;
  }();
  return parts;
}

CORVANDlg::CORVANDlg(QWidget* parent) : CStandardDlg(parent) {
  InitSharedLook();
  TheMainDlg() = this;
  OptionsPanelHost::Current() = this;
  resize(kWidth, kHeight);
  setFont(SharedFontAt(kFontArial16));

  // Small buttons.
  const auto small = [this](int id, unsigned bitmap, int x, unsigned tip) {
    auto* b = new CXBitmapButton(this);
    SetDlgCtrlId(b, id);
    b->LoadBitmaps(bitmap, 22, 23, x, 62);
    b->SetTooltipText(ToQString(LoadString(tip)), true);
    return b;
  };
  m_btnSetting = small(kIdSetting, 213, 544, 215);
  m_btnAbout = small(kIdAbout, 214, 572, 101);
  m_btnHelp = small(kIdHelp, 215, 600, 104);

  // Large buttons.
  const auto large = [this](int id, unsigned bitmap, int x, int width) {
    auto* b = new CTButton(this);
    SetDlgCtrlId(b, id);
    b->LoadBitmaps(bitmap, width, 47, x, 104);
    return b;
  };
  m_btnNew = large(kIdNewRecovery, 170, 23, 198);
  m_btnResume = large(kIdResumeRecovery, 168, 219, 198);
  m_btnHidden = large(kIdHiddenLarge, 169, 417, 197);
  m_btnHidden->hide();
  m_btnNew->SetState(1);

  connect(m_btnNew, &QAbstractButton::clicked, this, &CORVANDlg::OnNewRecovery);
  connect(m_btnResume, &QAbstractButton::clicked, this, &CORVANDlg::OnResumeRecovery);
  connect(m_btnAbout, &QAbstractButton::clicked, this, &CORVANDlg::OnAbout);
  connect(m_btnSetting, &QAbstractButton::clicked, this, &CORVANDlg::OnSettings);
  connect(m_btnHelp, &QAbstractButton::clicked, this, &CORVANDlg::OnHelp);
  if (!Parts().runSettings) {
    m_btnSetting->SetState(3);
    m_btnSetting->setEnabled(false);
  }

  m_pContainer = new CSliderButton(this);
  m_pContainer->setGeometry(kPageRect);
  CreatePages();

  if (parent) parent->window()->installEventFilter(this);
  qApp->installEventFilter(this);

  if (App().m_bResumeMode) OnResumeRecovery();
  else OnNewRecovery();
}

CORVANDlg::~CORVANDlg() {
  qApp->removeEventFilter(this);
  if (m_pOptionsPanel) delete m_pOptionsPanel.data();
  if (TheMainDlg() == this) TheMainDlg() = nullptr;
  if (OptionsPanelHost::Current() == this) OptionsPanelHost::Current() = nullptr;
}

void CORVANDlg::CreatePages() {
  const auto make = [this](const std::function<CStartPage*(QWidget*)>& factory, const char* name) {
    CStartPage* page = factory ? factory(m_pContainer) : nullptr;
    if (!page) {
      page = new CStartPage(m_pContainer);
      page->setObjectName(QString::fromLatin1(name));
    }
    page->setParent(m_pContainer);
    page->setGeometry(0, 0, kPageRect.width(), kPageRect.height());
    return page;
  };
  m_pDataRecovery = make(Parts().newRecoveryPage, "CDataRecovery");
  m_pDataRecovery->show();
  m_pResumeRecovery = make(Parts().resumePage, "CResumeRecovery");
  m_pResumeRecovery->hide();
}

void CORVANDlg::OnNewRecovery() { ShowPage(0); }

void CORVANDlg::OnResumeRecovery() { ShowPage(1); }

void CORVANDlg::ShowPage(int page) {
  App().m_bResumeMode = page == 1 ? 1 : 0;
  m_btnNew->SetState(page == 0 ? 1 : 0);
  m_btnResume->SetState(page == 1 ? 1 : 0);
  CloseOptionsPanel();
  m_nPage = page;
  m_pDataRecovery->setVisible(page == 0);
  m_pResumeRecovery->setVisible(page == 1);
  if (page == 1) m_pResumeRecovery->SetPageMode(1);
}

void CORVANDlg::OnAbout() {
  CloseOptionsPanel();
  CAboutDlg about(window());
  about.exec();
}

void CORVANDlg::OnSettings() {
  CloseOptionsPanel();
  if (Parts().runSettings) Parts().runSettings(window());
}

void CORVANDlg::OnHelp() { ShowHelpContext(kHelpContext); }

void CORVANDlg::ShowOptionsPanel() {
  if (m_bOptionsPanelOpen) return;
  CSlider* panel = Parts().optionsPanel ? Parts().optionsPanel(*this) : nullptr;
  if (!panel) {
    panel = new CSlider(this);
    panel->setObjectName(QStringLiteral("CSliderOptionDlg"));
  }
  m_pOptionsPanel = panel;
  panel->m_nStepDelay = 0;
  panel->m_nSide = 1;
  panel->SlideOpen();
  m_bOptionsPanelOpen = true;
}

void CORVANDlg::CloseOptionsPanel() {
  if (!m_bOptionsPanelOpen) return;
  m_bOptionsPanelOpen = false;
  if (CSlider* panel = m_pOptionsPanel) {
    panel->SlideClose();
    panel->OnOK();
    delete panel;
  }
  m_pOptionsPanel = nullptr;
}

void CORVANDlg::keyPressEvent(QKeyEvent* e) {
  // Enter and Escape never close the start screen.
  if (IsDialogKey(e->key())) return e->accept();
  CStandardDlg::keyPressEvent(e);
}

bool CORVANDlg::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Move && watched == window() && m_bOptionsPanelOpen && m_pOptionsPanel)
    m_pOptionsPanel->PlaceBesideOwner();
  // Keys that would press a button of the start screen do nothing; typed
  // into an edit box they stay text.
  if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) && watched->isWidgetType()) {
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (button && IsDialogKey(static_cast<QKeyEvent*>(e)->key()) && isAncestorOf(button)) return true;
  }
  return CStandardDlg::eventFilter(watched, e);
}

}  // namespace corvan
