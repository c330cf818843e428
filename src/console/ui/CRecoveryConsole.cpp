#include "console/ui/CRecoveryConsole.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/ui/CEditFind.h"
#include "console/ui/CEditMask.h"
#include "console/ui/LogDialogs.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/FolderListModel.h"
#include "console/ui/FolderTreeModel.h"
#include "scan/ScanDispatch.h"
#include "scan/ScanWorker.h"
#include "console/ui/RecoverCommand.h"
#include "console/ui/ScanInfoCommand.h"
#include "core/RecoveryMode.h"
#include "console/ui/CScanProcess.h"
#include "preview/ui/CPreviewArea.h"
#include "ui/CDragTitle.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindows.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

constexpr std::uint32_t kTabColour = 0xB4DCC3;
constexpr std::uint32_t kPlaceholderTextColour = 0x005E1F;
constexpr std::uint32_t kPlaceholderLinkColour = 0xFF0000;

// The caption strip of the window: its icon and caption over the band.
class ConsoleTitle : public CDragTitle {
 public:
  ConsoleTitle(QWidget* parent, const QString& text) : CDragTitle(parent, text, CRecoveryConsole::kIdTitleStrip) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawPixmap(2, 5, TitleIcon());
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(14);
    font.setBold(true);
    p.setFont(font);
    p.setPen(FromColorRef(kCaptionText));
    p.drawText(QRect(26, 8, width() - 30, 20), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Caption());
  }
};

bool IsInputEvent(QEvent::Type t) {
  switch (t) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
      return true;
    default:
      return false;
  }
}

}  // namespace

RecoveryConsoleParts& CRecoveryConsole::Parts() {
  static RecoveryConsoleParts parts = [] {
    RecoveryConsoleParts p;
    p.runDestination = RunRecoverDestination;
    p.saveScanInformation = SaveScanInformationCommand;
    p.askforSaveLog = [](CRecoveryConsole& console) { return CAskforSaveLog(&console).Ask(); };
    return p;
  }();
  return parts;
}

// What the mask thread reports, handed to the window's thread.
class CRecoveryConsole::MaskEvents final : public MaskSink {
 public:
  explicit MaskEvents(CRecoveryConsole* console) : m_console(console) {}
  void OnMaskStarted() override {
    QMetaObject::invokeMethod(m_console, [c = m_console] { c->OnMaskStarted(); }, Qt::QueuedConnection);
  }
  void OnMaskProgress(const std::string& text) override {
    QMetaObject::invokeMethod(m_console, [c = m_console, t = ToQString(text)] { c->OnMaskProgress(t); },
                              Qt::QueuedConnection);
  }
  void OnMaskEnded(const MaskResults&) override {
    QMetaObject::invokeMethod(m_console, [c = m_console] { c->OnMaskEnded(); }, Qt::QueuedConnection);
  }

 private:
  CRecoveryConsole* m_console;  // outlives the thread, which it joins
};

CRecoveryConsole::CRecoveryConsole(std::unique_ptr<EngineBackend> engines, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_store(std::make_unique<FoundItemStore>()),
      m_engines(std::move(engines)) {
  InitSharedLook();
  CORVANApp& app = App();
  setObjectName(QStringLiteral("CRecoveryConsole"));
  resize(kWidth, kHeight);
  setFont(ArialFont(14));
  SkinnedDialogCtlColor(this);
  setWindowTitle(ToQString(LoadString(kIdsDataRecovery) + " - " + LoadString(kIdsProductTitle)));
  m_store->SetSyntheticIds(&app.NextSyntheticId());
  app.m_pConsole = m_store.get();

  m_pMaskEvents = std::make_unique<MaskEvents>(this);
  CreateControls();
  LayoutControls();

  m_pRefreshTimer = new QTimer(this);
  m_pRefreshTimer->setInterval(100);
  connect(m_pRefreshTimer, &QTimer::timeout, this, &CRecoveryConsole::RefreshResults);

  // The scan starts a moment after the window is up.
  m_pStartTimer = new QTimer(this);
  m_pStartTimer->setSingleShot(true);
  m_pStartTimer->setInterval(kStartDelayMs);
  connect(m_pStartTimer, &QTimer::timeout, this, &CRecoveryConsole::OnTimer);

  qApp->installEventFilter(this);
}

CRecoveryConsole::~CRecoveryConsole() {
  qApp->removeEventFilter(this);
  TabStyleFlags() = m_nSavedTabStyle;
  CORVANApp& app = App();
  // The scan worker reports into the store: it ends before the store goes.
  if (m_pScanDlg) {
    app.m_bAbort = 1;
    delete m_pScanDlg.data();
  }
  // So does the mask thread.
  if (m_pMaskThread && m_pMaskThread->IsRunning()) app.m_bAbort = 1;
  m_pMaskThread.reset();
  if (app.m_pConsole == m_store.get()) app.m_pConsole = nullptr;
}

CScanProcess* CRecoveryConsole::ScanDialog() const { return m_pScanDlg; }

// ---------------------------------------------------------------- controls

void CRecoveryConsole::Place(QWidget* w, Anchor a, const QRect& r) {
  w->setGeometry(r);
  m_anchors.push_back({w, a, r});
}

CXBitmapButton* CRecoveryConsole::MakeButton(int id, ButtonLook look, const QRect& r, const QString& text, unsigned tip,
                                             ButtonPicture picture) {
  auto* b = new CXBitmapButton(this);
  SetDlgCtrlId(b, id);
  b->SetStrip(ButtonStrip(look, r.width(), r.height(), text, picture), r.width(), r.height(), r.x(), r.y());
  b->setAccessibleName(text);
  if (tip) b->SetTooltipText(ToQString(LoadString(tip)), true);
  return b;
}

void CRecoveryConsole::SetButtonEnabled(CXBitmapButton* b, bool on) {
  b->setEnabled(on);
  b->SetState(on ? 0 : 3);
}

void CRecoveryConsole::CreateControls() {
  const auto label = [this](int id, const QString& text, const QRect& r, Anchor a) {
    auto* l = new QLabel(text, this);
    SetDlgCtrlId(l, id);
    Place(l, a, r);
    return l;
  };

  m_pTitle = new ConsoleTitle(this, windowTitle());
  Place(m_pTitle, Anchor::StretchH, QRect(0, 0, kWidth, kCaptionBandRows));

  m_pMinimise = MakeButton(kIdMinimise, ButtonLook::Caption, QRect(898, 6, 24, 22), QStringLiteral("-"));
  m_pMaximise = MakeButton(kIdMaximise, ButtonLook::Caption, QRect(924, 6, 24, 22), QStringLiteral("[]"));
  m_pClose = MakeButton(kIdClose, ButtonLook::Caption, QRect(950, 6, 24, 22), QStringLiteral("X"));
  for (auto* b : {m_pMinimise, m_pMaximise, m_pClose}) Place(b, Anchor::TopRight, b->geometry());

  // The three views.
  m_nSavedTabStyle = TabStyleFlags();
  TabStyleFlags() = 0x0E;
  m_pTab = new CXColorTab(this);
  SetDlgCtrlId(m_pTab, kIdTab);
  m_pTab->m_crTab = kTabColour;
  m_pTab->setFont(SharedFontAt(kFontArial14Bold));
  m_pTab->setDrawBase(false);
  m_pTab->setExpanding(false);
  for (unsigned id : {kIdsClassicTree, kIdsFileTypeList, kIdsFilteredTree}) m_pTab->addTab(ToQString(LoadString(id)));
  Place(m_pTab, Anchor::Fixed, QRect(8, 44, 312, 26));
  connect(m_pTab, &QTabBar::currentChanged, this, [this](int index) {
    if (index >= 0 && index != m_nView) ShowView(index, false);
  });

  const int treeIds[3] = {kIdTreeClassic, kIdTreeByType, kIdTreeFiltered};
  const auto busy = [] { return App().m_bBusy != 0 || App().m_bMaskRunning != 0; };
  for (int v = 0; v < kViewCount; ++v) {
    auto* tree = new CFileFolderTree(*m_store, v, treeIds[v], this);
    tree->SetBusyTest(busy);
    Place(tree, Anchor::StretchV, QRect(8, 70, 312, 436));
    tree->setVisible(v == 0);
    connect(tree->Model(), &FolderTreeModel::CheckClicked, this, [this, v](FoundItemHandle h) { OnTreeCheck(v, h); });
    connect(tree, &CFileFolderTree::FolderSelected, this, [this, v](FoundItemHandle h) { OnFolderSelected(v, h); });
    m_trees[static_cast<std::size_t>(v)] = tree;
  }
  m_trees[kViewByType]->Model()->SetRootText(QStringLiteral("File Type(s)"));
  m_trees[kViewFiltered]->Model()->SetRootText(QStringLiteral("Filtered Files"));

  // The search box and the find buttons.
  m_pSearch = new CEditFind(this);
  SetDlgCtrlId(m_pSearch, kIdSearch);
  m_pSearch->setEnabled(false);
  m_pSearch->SetSearcher([this](const QString& text) { RunSearch(text); });
  m_pSearch->SetFocusHandler([this] {
    if (FindSearch* s = FindCriteriaOf(m_nView)) s->m_bLastSearchFound = false;
  });
  Place(m_pSearch, Anchor::TopRight, QRect(560, 45, 230, 24));
  m_pFindNow = MakeButton(kIdFindNow, ButtonLook::Small, QRect(792, 45, 28, 24), QStringLiteral(">"), kIdsFindNow);
  m_pFindNext = MakeButton(kIdFindNext, ButtonLook::Small, QRect(792, 45, 28, 24), QStringLiteral("->"), kIdsFindNow);
  m_pFindNext->hide();
  m_pFind = MakeButton(kIdFind, ButtonLook::Small, QRect(832, 44, 52, 26), QStringLiteral("Find"), kIdsAdvanceFind);
  m_pLog = MakeButton(kIdLog, ButtonLook::Small, QRect(896, 44, 40, 26), QStringLiteral("Log"), kIdsViewLog);
  m_pHelp = MakeButton(kIdHelp, ButtonLook::Small, QRect(946, 44, 28, 26), QStringLiteral("?"), kIdsHelp);
  for (auto* b : {m_pFindNow, m_pFindNext, m_pFind, m_pLog, m_pHelp}) Place(b, Anchor::TopRight, b->geometry());
  const int separators[3][2] = {{kIdSeparator1, 826}, {kIdSeparator2, 890}, {kIdSeparator3, 941}};
  for (const auto& s : separators) {
    QLabel* line = label(s[0], QString(), QRect(s[1], 46, 1, 22), Anchor::TopRight);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, QColor(0x9f, 0xb8, 0x93));
    line->setPalette(pal);
  }

  // The mask (the Filtered Tree's part of the window).
  auto* maskFrame = new QGroupBox(this);
  SetDlgCtrlId(maskFrame, kIdMaskFrame);
  Place(maskFrame, Anchor::BottomLeft, QRect(8, 510, 312, 62));
  m_pMask = new CEditMask(this);
  SetDlgCtrlId(m_pMask, kIdMask);
  m_pMask->SetMaskStarter([this](MaskCriteria c) { return StartMaskThread(std::move(c)); });
  Place(m_pMask, Anchor::BottomLeft, QRect(14, 516, 214, 22));
  m_pFilterNow = MakeButton(kIdFilterNow, ButtonLook::Small, QRect(232, 516, 38, 22), QStringLiteral("Go"), kIdsFilterNow);
  m_pFilterOptions =
      MakeButton(kIdFilterOptions, ButtonLook::Small, QRect(274, 516, 38, 22), QStringLiteral("+"), kIdsAdvanceFilter);
  Place(m_pFilterNow, Anchor::BottomLeft, m_pFilterNow->geometry());
  Place(m_pFilterOptions, Anchor::BottomLeft, m_pFilterOptions->geometry());
  QLabel* hint = label(kIdMaskHint, QStringLiteral("Enter multiple file types separated by semi-colon (*.jpg;*.txt)"),
                       QRect(14, 540, 300, 30), Anchor::BottomLeft);
  hint->setWordWrap(true);
  hint->setFont(ArialFont(12));
  m_maskControls = {maskFrame, m_pMask, m_pFilterNow, m_pFilterOptions, hint};
  for (QWidget* w : m_maskControls) {
    w->setEnabled(false);
    w->hide();
  }

  // The results area: preview above, folder contents below.
  auto* group = new QGroupBox(ToQString(LoadString(kIdsDataRecovery)), this);
  SetDlgCtrlId(group, kIdGroup);
  group->setFont(SharedFontAt(kFontArial16Bold));
  Place(group, Anchor::StretchBoth, QRect(328, 74, 644, 486));
  auto* pane = new QFrame(this);
  SetDlgCtrlId(pane, kIdPane);
  Place(pane, Anchor::StretchBoth, QRect(334, 90, 632, 464));
  m_pPreviewFrame = new QFrame(this);
  SetDlgCtrlId(m_pPreviewFrame, kIdPreviewFrame);
  Place(m_pPreviewFrame, Anchor::StretchH, QRect(336, 92, 628, 250));
  auto* previewBox = new QFrame(this);
  SetDlgCtrlId(previewBox, kIdPreviewBox);
  previewBox->setFrameStyle(QFrame::Box | QFrame::Plain);
  previewBox->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #9fb893; }"));
  Place(previewBox, Anchor::StretchH, QRect(336, 92, 628, 250));
  auto* picture = new QLabel(this);
  SetDlgCtrlId(picture, kIdPlaceholderPicture);
  picture->setPixmap(PreviewPlaceholder());
  Place(picture, Anchor::Fixed, QRect(341, 97, 300, 224));
  QLabel* prompt = label(kIdPlaceholderText, QStringLiteral("Click the file to preview"), QRect(650, 150, 300, 40),
                         Anchor::Fixed);
  prompt->setFont(SharedFontAt(kFontArial20Bold));
  QPalette pal = prompt->palette();
  pal.setColor(QPalette::WindowText, FromColorRef(kPlaceholderTextColour));
  prompt->setPalette(pal);
  QLabel* link = label(kIdPlaceholderLink, QStringLiteral("List of available preview"), QRect(650, 196, 300, 22),
                       Anchor::Fixed);
  link->setFont(SharedFontAt(kFontArial14Underline));
  pal = link->palette();
  pal.setColor(QPalette::WindowText, FromColorRef(kPlaceholderLinkColour));
  link->setPalette(pal);
  CPreviewArea::ConnectHelpLink(link);
  m_placeholders = {picture, prompt, link, previewBox};
  // The panes take the preview frame's place while a file is shown.
  m_pPreviewArea = new CPreviewArea(this);
  Place(m_pPreviewArea, Anchor::StretchH, QRect(336, 92, 628, 250));
  m_pPreviewArea->hide();
  // The table pane of the preview area carries its own "Select MDF Table:"
  // caption and combo.

  m_pList = new CFileListCtrl(*m_store, this);
  m_pList->SetBusyTest(busy);
  m_pList->SetResultsTest([] { return App().m_bResultsPresent != 0; });
  Place(m_pList, Anchor::StretchBoth, QRect(336, 348, 628, 204));
  connect(m_pList->Model(), &FolderListModel::CheckClicked, this, &CRecoveryConsole::OnListCheck);
  connect(m_pList, &CFileListCtrl::OpenFolder, this, &CRecoveryConsole::OnOpenFolder);
  connect(m_pList, &CFileListCtrl::RecoverItem, this, &CRecoveryConsole::OnRecoverItem);
  connect(m_pList, &QAbstractItemView::clicked, this, &CRecoveryConsole::OnListClick);
  connect(m_pList, &CFileListCtrl::ShowAsHex, this, [this](FoundItemHandle item) { ShowPreview(item, true); });

  // Bottom corners.
  m_pBack = MakeButton(kIdBack, ButtonLook::Command, QRect(8, 578, 65, 54), QStringLiteral("Back"), 0,
                       ButtonPicture::Back);
  Place(m_pBack, Anchor::BottomLeft, m_pBack->geometry());
  label(kIdBackCaption, QStringLiteral("Back"), QRect(76, 596, 40, 18), Anchor::BottomLeft);
  m_pTotal = label(kIdTotal, QString(), QRect(120, 596, 330, 20), Anchor::BottomLeft);
  m_pRecover = MakeButton(kIdRecover, ButtonLook::Command, QRect(914, 568, 65, 54), QStringLiteral("Recover"), 0,
                          ButtonPicture::Recover);
  Place(m_pRecover, Anchor::BottomRight, m_pRecover->geometry());
  label(kIdRecoverCaption, QStringLiteral("Recover"), QRect(852, 596, 58, 18), Anchor::BottomRight);
  m_pStatus = label(kIdStatus, QString(), QRect(460, 596, 388, 20), Anchor::BottomRight);
  m_pStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  for (QLabel* l : {m_pTotal, m_pStatus}) l->setFont(SharedFontAt(kFontArial14Bold));

  // Until the scan has ended only "-", "[]" and "X" act.
  for (auto* b : {m_pFind, m_pFilterOptions, m_pRecover, m_pHelp, m_pBack, m_pFindNow, m_pFindNext, m_pFilterNow, m_pLog})
    SetButtonEnabled(b, false);

  connect(m_pMinimise, &QAbstractButton::clicked, this, &CRecoveryConsole::OnMinimize);
  connect(m_pMaximise, &QAbstractButton::clicked, this, &CRecoveryConsole::OnMaximizeRestore);
  connect(m_pClose, &QAbstractButton::clicked, this, &CRecoveryConsole::OnCancel);
  connect(m_pHelp, &QAbstractButton::clicked, this, &CRecoveryConsole::OnHelp);
  connect(m_pLog, &QAbstractButton::clicked, this, &CRecoveryConsole::OnViewLog);
  connect(m_pBack, &QAbstractButton::clicked, this, &CRecoveryConsole::OnBack);
  connect(m_pRecover, &QAbstractButton::clicked, this, &CRecoveryConsole::OnBnClickedRecover);
  connect(m_pFindNow, &QAbstractButton::clicked, this, &CRecoveryConsole::OnFindNow);
  connect(m_pFindNext, &QAbstractButton::clicked, this, &CRecoveryConsole::OnFindNext);
  connect(m_pFind, &QAbstractButton::clicked, this, &CRecoveryConsole::OnAdvanceFind);
  connect(m_pFilterNow, &QAbstractButton::clicked, this, &CRecoveryConsole::OnFilterNow);
  connect(m_pFilterOptions, &QAbstractButton::clicked, this, &CRecoveryConsole::OnAdvanceFilter);
  // ">" acts while the search box holds something to look for.
  connect(m_pSearch, &QLineEdit::textChanged, this, [this] {
    if (m_pSearch->HasSearchText() && m_pSearch->isEnabled()) SetButtonEnabled(m_pFindNow, true);
    else ShowFindNow();
  });

  // The window keeps its tab order: the views, then the list.
  for (QWidget* w : {static_cast<QWidget*>(group), static_cast<QWidget*>(pane), m_pPreviewFrame})
    w->lower();
}

void CRecoveryConsole::LayoutControls() {
  const int dw = width() - kWidth;
  const int dh = height() - kHeight;
  for (const Anchored& a : m_anchors) {
    if (!a.control) continue;
    QRect r = a.rect;
    switch (a.anchor) {
      case Anchor::Fixed: break;
      case Anchor::StretchH: r.setWidth(r.width() + dw); break;
      case Anchor::StretchBoth: r.setSize(r.size() + QSize(dw, dh)); break;
      case Anchor::StretchV: r.setHeight(r.height() + dh); break;
      case Anchor::BottomLeft: r.translate(0, dh); break;
      case Anchor::BottomRight: r.translate(dw, dh); break;
      case Anchor::TopRight: r.translate(dw, 0); break;
    }
    a.control->setGeometry(r);
  }
  PublishWorkArea();
}

void CRecoveryConsole::PublishWorkArea() {
  // The preview frame relative to the window's top-left corner.
  const QRect r = m_pPreviewFrame->geometry();
  App().m_rcWorkArea = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void CRecoveryConsole::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (!m_anchors.empty()) LayoutControls();
}

void CRecoveryConsole::showEvent(QShowEvent* e) {
  // The first showing puts the window in the middle of the screen.
  if (m_rcInitialWindow.isNull()) CentreWindow(this, nullptr);
  QWidget::showEvent(e);
  if (m_rcInitialWindow.isNull()) m_rcInitialWindow = geometry();
  PublishWorkArea();
  if (!m_bScanStarted && !m_pStartTimer->isActive()) m_pStartTimer->start();
}

void CRecoveryConsole::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintDialogBackground(p, rect());
  const QColor edge(0x2F, 0x55, 0x1F);
  p.fillRect(QRect(0, 0, 1, height()), edge);
  p.fillRect(QRect(width() - 1, 0, 1, height()), edge);
  p.fillRect(QRect(0, height() - 1, width(), 1), edge);
}

// ---------------------------------------------------------------- the scan

std::u16string CRecoveryConsole::RootLabel() {
  const SourceRecord* source = App().m_sourceList.m_pSelectedSource;
  if (source && source->kind == kSourceVolume && source->partition)
    return source->partition->label + u"(" + source->partition->name + u")";
  return u"Root";
}

void CRecoveryConsole::OnTimer() {
  if (m_bScanStarted) return;
  m_bScanStarted = true;
  m_pStartTimer->stop();
  m_bTypeViewFilled = false;
  CORVANApp& app = App();
  SourceSelection selection = CurrentSelection(app);
  // How the engine of this scan stores its time stamps.
  const SourceRecord* source = selection.source;
  const EngineKind engine = source ? ChooseEngine(source->kind, source->partition ? source->partition->fileSystemKind : 0,
                                                  app.m_nRecoveryMode, app.m_nAdvanceFsChoice)
                                   : EngineKind::None;
  UseStampsOf(engine);
  m_store->SetRootLabel(&CRecoveryConsole::RootLabel);
  m_store->SetGroupByType(app.m_nRecoveryMode != kModeRaw);

  m_pScanDlg = new CScanProcess(this, *m_engines, m_store.get(), MakeScanJob(app, std::move(selection)));
  connect(m_pScanDlg, &QDialog::finished, this, &CRecoveryConsole::OnScanDialogEnded);
  connect(m_pScanDlg, &CScanProcess::WorkerEnded, this, &CRecoveryConsole::RefreshResults, Qt::DirectConnection);
  m_pRefreshTimer->start();
  m_pScanDlg->open();
  m_pScanDlg->Start();
}

void CRecoveryConsole::RefreshResults() {
  for (CFileFolderTree* tree : m_trees) tree->Model()->Refresh();
  // The first folder that appears is the root: show it expanded.
  CFileFolderTree* classic = m_trees[kViewClassic];
  const QModelIndex root = classic->Model()->index(0, 0);
  if (root.isValid() && !classic->isExpanded(root)) classic->expand(root);
  m_pList->Model()->Refresh();
  if (m_store->TakeStatusDue()) UpdateStatusText(0);
  for (CFileFolderTree* tree : m_trees) tree->viewport()->update();
  m_pList->viewport()->update();
}

void CRecoveryConsole::UseStampsOf(EngineKind engine) {
  m_stampKind = StampKindOf(engine);
  m_pList->Model()->SetStampKind(m_stampKind);
}

void CRecoveryConsole::OnScanDialogEnded() {
  if (m_pScanDlg) m_pScanDlg->deleteLater();
  m_pScanDlg = nullptr;
  m_pRefreshTimer->stop();
  // A resumed scan's items are stamped as the engine of the saved scan
  // stamps them; the source selected before the resume (none after a fresh
  // start) does not tell which that is.
  if (const EngineKind built = App().m_pScanSession->Kind(); built != EngineKind::None) UseStampsOf(built);
  m_store->FinishPass();
  RefreshResults();
  UpdateStatusText(0);
  m_strFinalTotalText = m_strScanTotalText;
  m_bScanFinished = true;
  // Shown here for a scan that found nothing too; the view shown below puts
  // its own total over it.
  m_pTotal->setText(m_strFinalTotalText);
  CORVANApp& app = App();
  if (!app.m_bScanInfoLoadOk) {
    // The saved scan could not be loaded (the user was told why): back to
    // the start window's list of saved scans, when there is one to go to.
    app.m_bScanInfoLoadOk = 1;
    if (CanReopenStartWindow()) {
      app.m_bResumeMode = 1;
      ReleaseViews();
      m_bLeaving = true;
      ReopenStartWindow();
      emit ScanEnded();
      return;
    }
  }
  // "?", Back, "-" and the search box act from now on; Find and the mask
  // when there is something to find.
  for (auto* b : {m_pHelp, m_pBack, m_pMinimise, m_pLog}) SetButtonEnabled(b, true);
  m_pSearch->setEnabled(true);
  for (auto* b : {m_pFind, m_pFilterOptions}) SetButtonEnabled(b, app.m_bResultsPresent != 0);
  SetButtonEnabled(m_pFilterNow, app.m_bResultsPresent != 0);
  for (QWidget* w : m_maskControls)
    if (w != m_pFilterOptions && w != m_pFilterNow) w->setEnabled(true);
  m_trees[kViewClassic]->CollapseAllAndSelectCurrent();
  if (!app.m_bResultsPresent) m_pTab->setCurrentIndex(0);
  ShowView(m_nView, true);
  UpdateStatusText(1);
  update();
  emit ScanEnded();
}

// ---------------------------------------------------------------- views

void CRecoveryConsole::ClearPreview() {
  if (m_pPreviewArea) {
    m_pPreviewArea->Clear();
    m_pPreviewArea->hide();
  }
  m_bPreviewShown = false;
  for (QWidget* w : m_placeholders) w->show();
}

void CRecoveryConsole::OnListClick(const QModelIndex& index) {
  CORVANApp& app = App();
  if (!index.isValid() || app.m_bBusy || app.m_bMaskRunning) return;
  // Only a click that left its row selected previews it.
  if (!m_pList->selectionModel()->isRowSelected(index.row(), QModelIndex())) return;
  ShowPreview(m_pList->Model()->HandleAt(index.row()));
}

void CRecoveryConsole::ShowPreview(FoundItemHandle item, bool forceHex) {
  ClearPreview();
  if (item == kNoFoundItem || !m_pPreviewArea) return;
  const StoredItem stored = m_store->Item(item);
  FoundItemInfo record = stored.record;
  if (IsFolderRecord(record)) record.attribute = kItemFolder;
  // The engine of the scan reads the data.
  ScanEngine* engine = App().m_pScanSession->Engine();
  if (m_pPreviewArea->ShowItem(engine, record, stored.name, forceHex) == PreviewPane::Placeholders) return;
  m_bPreviewShown = true;
  for (QWidget* w : m_placeholders) w->hide();
  m_pPreviewArea->show();
  m_pPreviewArea->raise();
}

void CRecoveryConsole::ShowView(int view, bool keepRoot) {
  ClearPreview();
  CORVANApp& app = App();
  if (!app.m_bResultsPresent) {
    m_nView = 0;
    if (m_pTab->currentIndex() != 0) m_pTab->setCurrentIndex(0);
    return;
  }
  if (app.m_bMaskRunning) view = kViewFiltered;
  m_nView = view;
  if (m_pTab->currentIndex() != view) m_pTab->setCurrentIndex(view);
  if (app.m_bMaskRunning) return;
  for (int v = 0; v < kViewCount; ++v) m_trees[static_cast<std::size_t>(v)]->setVisible(v == view);
  for (QWidget* w : m_maskControls) w->setVisible(view == kViewFiltered);

  CFileFolderTree* tree = m_trees[static_cast<std::size_t>(view)];
  if (view == kViewByType && !m_bTypeViewFilled) FillFileTypeView();
  FoundItemHandle shown = tree->CurrentFolder();
  if (shown == kNoFoundItem && !keepRoot && tree->Model()->rowCount() > 0) shown = 0;
  if (shown == kNoFoundItem) m_pList->Model()->Clear();
  else m_pList->Model()->ShowFolderContents(view, shown);

  m_pTotal->setText(view == kViewClassic ? m_strFinalTotalText : view == kViewByType ? m_strTotalByType : m_strTotalFiltered);
  UpdateStatusText(1);
  // The box shows the view's own search, if it has one.
  const FindSearch* search = FindCriteriaOf(view);
  if (search && !search->criteria.m_strNames.empty()) {
    m_pSearch->setText(ToQString(search->criteria.m_strNames).chopped(1));
    m_pSearch->setFont(SharedFontAt(kFontArial14Bold));
  } else {
    m_pSearch->ShowPrompt();
  }
}

void CRecoveryConsole::FillFileTypeView() {
  m_bTypeViewFilled = true;
  CFileFolderTree* tree = m_trees[kViewByType];
  tree->Model()->Refresh();
  tree->CollapseAllAndSelectCurrent();
  m_pTab->update();
}

void CRecoveryConsole::OnFolderSelected(int view, FoundItemHandle folder) {
  if (view != m_nView) return;
  ClearPreview();
  m_pList->Model()->ShowFolderContents(view, folder);
}

void CRecoveryConsole::OnOpenFolder(FoundItemHandle folder) { m_trees[static_cast<std::size_t>(m_nView)]->OpenChildFolder(folder); }

// ---------------------------------------------------------------- checks

void CRecoveryConsole::OnTreeCheck(int view, FoundItemHandle folder) {
  ClearPreview();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_store->ClickTreeCheck(view, folder);
  QApplication::restoreOverrideCursor();
  AfterCheckChange();
}

void CRecoveryConsole::OnListCheck(FoundItemHandle item) {
  m_store->ClickListCheck(m_nView, m_pList->Model()->Folder(), item);
  AfterCheckChange();
}

void CRecoveryConsole::AfterCheckChange() {
  m_trees[static_cast<std::size_t>(m_nView)]->viewport()->update();
  m_pList->viewport()->update();
  UpdateStatusText(1);
}

void CRecoveryConsole::UpdateRecoverButton() {
  // Recover acts once the current view has both marked files and folders.
  const SelectionCounts c = m_store->Selection(m_nView);
  SetButtonEnabled(m_pRecover, c.files != 0 && c.folders != 0 && m_bScanFinished);
}

void CRecoveryConsole::UpdateStatusText(int marked) {
  if (marked == 0) {
    // Totals come from the scan's engine, also of nothing: a Raw scan that
    // carves no file posts no root. Without an engine nothing is built.
    const CORVANApp& app = App();
    if (m_store->Root() == kNoFoundItem && !app.m_pScanSession->Engine()) return;
    const ReceivedTotals t = m_store->Totals();
    m_strScanTotalText = ToQString(FormatStatusLine(StatusPrefix::Total, t.bytes, t.files, t.folders));
    m_strTotalByType = ToQString(FormatStatusLine(StatusPrefix::Total, t.bytes, t.files, m_store->TreeFolderCount()));
    if (m_pScanDlg) m_pScanDlg->SetTotalText(m_strScanTotalText);
    if (m_bScanFinished && m_nView == kViewClassic) m_pTotal->setText(m_strFinalTotalText);
    return;
  }
  const SelectionCounts c = m_store->Selection(m_nView);
  const QString text = ToQString(FormatStatusLine(StatusPrefix::Marked, c.bytes, c.files, c.folders));
  switch (m_nView) {
    case kViewClassic: m_strMarkedClassic = text; break;
    case kViewByType: m_strMarkedByType = text; break;
    default: m_strMarkedFiltered = text; break;
  }
  m_pStatus->setText(text);
  UpdateRecoverButton();
}

QString CRecoveryConsole::TotalText() const { return m_pTotal->text(); }
QString CRecoveryConsole::MarkedText() const { return m_pStatus->text(); }

// ---------------------------------------------------------------- commands

void CRecoveryConsole::OnHelp() { ShowHelpContext(kHelpContext); }

void CRecoveryConsole::OnMinimize() { showMinimized(); }

void CRecoveryConsole::OnMaximizeRestore() {
  if (m_bRestored) {
    if (m_rcInitialWindow.isNull()) m_rcInitialWindow = geometry();
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, kWidth, kHeight);
    setGeometry(QRect(work.topLeft(), work.size()));
    m_bRestored = false;
  } else {
    setGeometry(m_rcInitialWindow);
    m_bRestored = true;
  }
  PublishWorkArea();
}

void CRecoveryConsole::OnBnClickedRecover() { RunRecover(); }

int CRecoveryConsole::RunRecover() {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || !app.m_bResultsPresent) return kIdCancel;
  ClearPreview();
  // Saving reads through the engines: the preview's reads end first.
  m_pPreviewArea->Quiesce();
  app.m_saveChoice.m_bCreateZip = 0;
  app.m_saveChoice.m_bSaveReady = 0;
  app.m_saveChoice.m_nDeletedMode = 0;
  app.m_saveChoice.m_nDestKind = 0;
  app.m_saveChoice.m_nZipMode = 0;
  app.m_saveChoice.m_saveMasks.clear();
  return Parts().runDestination ? Parts().runDestination(*this) : kIdCancel;
}

void CRecoveryConsole::OnRecoverItem(FoundItemHandle item) {
  if (App().m_bBusy) return;
  const FoundItemHandle shown = m_pList->Model()->Folder();
  const bool wasUnchecked = m_store->CheckState(m_nView, item) == kUnchecked;
  m_store->SetListCheck(m_nView, shown, item, true);
  AfterCheckChange();
  // Saving did not start: the row goes back to how it was.
  if (RunRecover() != kIdOk && wasUnchecked) {
    m_store->SetListCheck(m_nView, shown, item, false);
    AfterCheckChange();
  }
}

bool CRecoveryConsole::Leave(bool closing) {
  CORVANApp& app = App();
  if (app.m_bMaskRunning || app.m_bBusy) return false;
  ClearPreview();
  if (!app.m_bFromScanInfo && app.m_bResultsPresent && Parts().saveScanInformation) {
    m_bLeaveConfirmed = true;
    const unsigned question = app.m_bHaveFoundVolumes ? kIdsSaveScanInfo : kIdsSaveScanInfoAndVolumes;
    const int answer = app.GetPrompt().MessageBoxId(question, kPicQuestion, closing ? kMbYesNoCancel : kMbYesNo);
    if (answer == kIdCancel) return false;
    if (answer == kIdYes) m_bLeaveConfirmed = Parts().saveScanInformation(*this);
    if (!m_bLeaveConfirmed) return false;
  } else if (closing) {
    if (app.GetPrompt().MessageBoxId(kIdsSureToExit, kPicQuestion, kMbYesNo) != kIdYes) return false;
  }
  app.m_bFromScanInfo = 0;
  return true;
}

void CRecoveryConsole::OnCancel() {
  if (!Leave(true)) return;
  if (Parts().askforSaveLog) App().AskToSaveLog([this] { return Parts().askforSaveLog(*this); });
  ReleaseViews();
  m_bLeaving = true;
  if (CurrentMainWindow() == this) CloseMainWindow();
  else close();
}

void CRecoveryConsole::OnViewLog() {
  CLogViewer viewer(this);
  viewer.exec();
}

void CRecoveryConsole::OnBack() {
  // Without a start window to go back to, leaving would only empty this one.
  if (!CanReopenStartWindow() || !Leave(false)) return;
  ReleaseViews();
  m_bLeaving = true;
  ReopenStartWindow();
}

void CRecoveryConsole::EnableLeaveCommands(bool on) {
  for (auto* b : {m_pHelp, m_pBack}) SetButtonEnabled(b, on);
}

void CRecoveryConsole::ReleaseViews() {
  // The engines may go once the window does: the preview reads them no more.
  if (m_pPreviewArea) m_pPreviewArea->Quiesce();
  DropFindCriteria();
  m_store->Clear();
  App().m_bResultsPresent = 0;
  for (CFileFolderTree* tree : m_trees) tree->Model()->Refresh();
  m_pList->Model()->Clear();
}

void CRecoveryConsole::closeEvent(QCloseEvent* e) {
  // Closing by the window system is the Close command, with its questions;
  // once Back or Close has decided, the window goes.
  if (m_bLeaving) return QWidget::closeEvent(e);
  e->ignore();
  OnCancel();
}

// ---------------------------------------------------------------- keys

bool CRecoveryConsole::eventFilter(QObject* watched, QEvent* e) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || (widget != this && !isAncestorOf(widget)) || !IsInputEvent(e->type()))
    return QWidget::eventFilter(watched, e);
  // Nothing reaches the window while Ctrl is held.
  if (static_cast<QInputEvent*>(e)->modifiers() & Qt::ControlModifier) return true;
  if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    // Escape never closes the results window.
    if (key == Qt::Key_Escape) return true;
    // F3 continues a search; without results or while the mask runs it is
    // swallowed.
    if (key == Qt::Key_F3) {
      CORVANApp& app = App();
      if (app.m_bMaskRunning || !app.m_bResultsPresent) return true;
      if (e->type() == QEvent::KeyPress &&
          OnFindKey((static_cast<QKeyEvent*>(e)->modifiers() & Qt::ShiftModifier) != 0))
        return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

// ---------------------------------------------------------------- opening

CRecoveryConsole* OpenRecoveryConsole(std::unique_ptr<EngineBackend> engines) {
  auto* console = new CRecoveryConsole(std::move(engines));
  ShowMainWindow(console);
  return console;
}

}  // namespace corvan
