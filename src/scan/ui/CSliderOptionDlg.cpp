#include "scan/ui/CSliderOptionDlg.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/ui/CRecoveryConsole.h"
#include "ui/ConsoleArt.h"
#include "scan/ProgramEngines.h"
#include "core/RecoveryMode.h"
#include "scan/ui/CFileType.h"
#include "scan/ui/CLostVolume.h"
#include "scan/ui/CSpecifiedRegion.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

QString Str(unsigned id) { return ToQString(LoadString(id)); }

constexpr const char* kNoTypeSelected =
    "No file type is selected for Raw Recovery.\nClick 'File Type' to choose the types of files to search for.";

void SetColours(QWidget* w, std::uint32_t text, std::uint32_t background) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, FromColorRef(text));
  pal.setColor(QPalette::Window, FromColorRef(background));
  w->setPalette(pal);
}

const SourceRecord* Selected() { return App().m_sourceList.m_pSelectedSource; }

// Every mode button is a 200 x 32 strip at x 15; its caption lies under it
// and its Learn More link at the caption's right.
constexpr int kButtonX = 15, kButtonWidth = 200, kButtonHeight = 32;
constexpr int kQuickY = 82, kDeletedY = 150, kAdvanceY = 218, kRawY = 348, kLostVolumeY = 440;
QRect CaptionRect(int buttonY) { return QRect(kButtonX, buttonY + 34, 128, 30); }
QRect LearnMoreRect(int buttonY) { return QRect(145, buttonY + 50, 75, 16); }

// The captions of Quick, Deleted, Advance and Raw Recovery.
constexpr const char* kModeCaptions[] = {"Files and folders of the volume's directory tree.",
                                         "Deleted files and folders as well.",
                                         "Searches the whole volume for its records.",
                                         "Files found by their signatures."};
constexpr int kModeButtonY[] = {kQuickY, kDeletedY, kAdvanceY, kRawY};

}  // namespace

CSliderOptionDlg::CSliderOptionDlg(QWidget& owner, std::function<void()> closePanel)
    : CSlider(&owner, kWidth), m_pOwnerDlg(&owner), m_closePanel(std::move(closePanel)) {
  setObjectName(QStringLiteral("CSliderOptionDlg"));
  m_nSide = 1;
  m_nStepDelay = 3;
  const QFont& arial14 = SharedFontAt(kFontArial16);
  const QFont& bold14 = SharedFontAt(kFontArial14Bold);
  const QFont small = ArialFont(13);

  const auto label = [this](int id, const QString& text, const QRect& r, const QFont& f) {
    auto* l = new QLabel(text, this);
    SetDlgCtrlId(l, id);
    l->setGeometry(r);
    l->setFont(f);
    return l;
  };
  m_heading = label(kIdHeading, Str(kIdsRecoveryFromDrive), QRect(8, 8, 214, 20), bold14);
  m_mediaLine = label(kIdMediaLine, QString(), QRect(8, 30, 214, 20), small);
  m_hint = label(kIdHint, QStringLiteral("Click desired button to continue"), QRect(8, 52, 214, 18), small);

  const auto button = [this](int id, const QString& text, int y) {
    auto* b = new CXBitmapButton(this);
    SetDlgCtrlId(b, id);
    b->SetStrip(ButtonStrip(ButtonLook::Small, kButtonWidth, kButtonHeight, text), kButtonWidth, kButtonHeight,
                kButtonX, y);
    b->setAccessibleName(text);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
  };
  m_btnQuick = button(kIdQuick, QStringLiteral("Quick Recovery"), kQuickY);
  m_btnDeleted = button(kIdDeleted, QStringLiteral("Deleted Recovery"), kDeletedY);
  m_btnAdvance = button(kIdAdvance, QStringLiteral("Advance Recovery"), kAdvanceY);
  m_btnRaw = button(kIdRaw, QStringLiteral("Raw Recovery"), kRawY);
  m_btnLostVolume = button(kIdLostVolume, QStringLiteral("Search Lost Volume"), kLostVolumeY);
  // The resume page offers Scan Now alone, in the first button's place.
  m_btnScanNow = button(kIdScanNow, QStringLiteral("Scan Now"), kQuickY);

  const int labelIds[] = {kIdLabelQuick, kIdLabelDeleted, kIdLabelAdvance, kIdLabelRaw};
  for (int i = 0; i < 4; ++i) {
    m_labels[i] = label(labelIds[i], QString(), QRect(), small);
    m_labels[i]->setWordWrap(true);
  }
  const int linkIds[] = {kIdLearnQuick, kIdLearnDeleted, kIdLearnAdvance, kIdLearnRaw, kIdFileType, kIdSelectRange};
  // The Learn More links are placed with their captions (HideAll).
  const QRect linkRects[] = {QRect(), QRect(), QRect(), QRect(), QRect(kButtonX, kRawY + 70, 80, 16),
                             QRect(110, kRawY + 70, 100, 16)};
  const char* linkTexts[] = {"Learn More", "Learn More", "Learn More", "Learn More", "File Type", "Select Range"};
  for (int i = 0; i < 6; ++i) {
    m_links[i] = label(linkIds[i], QString::fromLatin1(linkTexts[i]), linkRects[i], SharedFontAt(kFontArial14Underline));
    SetColours(m_links[i], 0xFF0000, 0xDFFFF4);
    m_links[i]->setCursor(Qt::PointingHandCursor);
    m_links[i]->installEventFilter(this);
  }

  m_group = new QGroupBox(Str(kIdsScanAs), this);
  SetDlgCtrlId(m_group, kIdGroup);
  m_group->setGeometry(15, 286, 200, 52);
  m_group->setFont(bold14);
  m_radioFat = new QRadioButton(QStringLiteral("FAT"), this);
  SetDlgCtrlId(m_radioFat, kIdRadioFat);
  m_radioFat->setGeometry(28, 308, 80, 20);
  m_radioOther = new QRadioButton(QStringLiteral("NTFS"), this);
  SetDlgCtrlId(m_radioOther, kIdRadioOther);
  m_radioOther->setGeometry(118, 308, 90, 20);
  for (QRadioButton* r : {m_radioFat, m_radioOther}) r->setFont(arial14);
  m_radioFat->setChecked(true);

  m_btnCancel = new QPushButton(QStringLiteral("Close"), this);
  SetDlgCtrlId(m_btnCancel, kIdCancel);
  m_btnCancel->setGeometry(15, height() - 40, 200, 28);

  connect(m_btnQuick, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnQuickRecovery);
  connect(m_btnDeleted, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnDeletedRecovery);
  connect(m_btnAdvance, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnAdvanceRecovery);
  connect(m_btnRaw, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnRawRecovery);
  connect(m_btnScanNow, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnScanNow);
  connect(m_btnLostVolume, &QAbstractButton::clicked, this, &CSliderOptionDlg::OnSearchLostVolume);
  connect(m_btnCancel, &QPushButton::clicked, this, [this] {
    if (m_pOwnerDlg) QMetaObject::invokeMethod(m_pOwnerDlg, m_closePanel, Qt::QueuedConnection);
  });
  HideAll();
}

void CSliderOptionDlg::HideAll() {
  for (QWidget* w : {static_cast<QWidget*>(m_btnQuick), static_cast<QWidget*>(m_btnDeleted),
                     static_cast<QWidget*>(m_btnAdvance), static_cast<QWidget*>(m_btnRaw),
                     static_cast<QWidget*>(m_btnLostVolume), static_cast<QWidget*>(m_btnScanNow),
                     static_cast<QWidget*>(m_group), static_cast<QWidget*>(m_radioFat),
                     static_cast<QWidget*>(m_radioOther)})
    w->hide();
  for (QLabel* l : m_labels) l->hide();
  for (QLabel* l : m_links) l->hide();
  for (int i = 0; i < 4; ++i) PlaceCaption(i, kModeButtonY[i], QString::fromLatin1(kModeCaptions[i]));
}

void CSliderOptionDlg::PlaceCaption(int caption, int buttonY, const QString& text) {
  m_labels[caption]->setText(text);
  m_labels[caption]->setGeometry(CaptionRect(buttonY));
  m_links[caption]->setGeometry(LearnMoreRect(buttonY));
}

void CSliderOptionDlg::SetRadios(const QString& first, const QString& second, bool checkFirst) {
  m_radioFat->setText(first);
  m_radioOther->setText(second);
  (checkFirst ? m_radioFat : m_radioOther)->setChecked(true);
}

void CSliderOptionDlg::UpdateForSelectedMedia(std::uint8_t mediaKind, std::uint8_t selection, std::uint8_t page) {
  m_nMediaKind = mediaKind;
  m_nSelection = selection;
  m_nPage = page;
  HideAll();
  const SourceRecord* source = Selected();
  const PartitionRecord* p = source ? source->partition.get() : nullptr;
  const QString prefix = Str(kIdsSelectedMedia);

  const auto radiosByFileSystem = [this, p] {
    m_group->setTitle(Str(kIdsScanAs));
    if (!p) return;
    const QString fs = ToQString(p->fileSystemText);
    if (fs == QStringLiteral("NTFS")) SetRadios(QStringLiteral("FAT"), QStringLiteral("NTFS"), false);
    else if (fs == QStringLiteral("exFAT")) SetRadios(QStringLiteral("FAT"), QStringLiteral("exFAT"), false);
    else if (fs == QStringLiteral("RAW") || fs.left(3) == QStringLiteral("FAT"))
      SetRadios(QStringLiteral("FAT"), QStringLiteral("NTFS"), true);
  };
  const auto showVolumeModes = [this] {
    for (QWidget* w : {static_cast<QWidget*>(m_btnQuick), static_cast<QWidget*>(m_btnDeleted),
                       static_cast<QWidget*>(m_btnAdvance), static_cast<QWidget*>(m_btnRaw),
                       static_cast<QWidget*>(m_group), static_cast<QWidget*>(m_radioFat),
                       static_cast<QWidget*>(m_radioOther)})
      w->show();
    for (QLabel* l : m_labels) l->show();
    for (int i = 0; i < 5; ++i) m_links[i]->show();
  };

  if (page == 0 && selection == 0) {
    showVolumeModes();
    radiosByFileSystem();
    m_heading->setText(Str(kIdsRecoveryFromDrive));
    if (p)
      m_mediaLine->setText(prefix + ToQString(p->name).left(3) + QStringLiteral(" Drive (%1)").arg(ToQString(p->fileSystemText)));
  } else if (page == 0 && selection == 1) {
    // The third caption and its link (the lost-volume search's help) go
    // under Search Lost Volume: no caption stands where no button is.
    PlaceCaption(2, kLostVolumeY, QStringLiteral("Finds volumes that were lost."));
    for (QWidget* w : {static_cast<QWidget*>(m_btnRaw), static_cast<QWidget*>(m_btnLostVolume),
                       static_cast<QWidget*>(m_group), static_cast<QWidget*>(m_radioFat),
                       static_cast<QWidget*>(m_radioOther), static_cast<QWidget*>(m_labels[2]),
                       static_cast<QWidget*>(m_labels[3])})
      w->show();
    for (int i = 2; i < 6; ++i) m_links[i]->show();
    SetRadios(Str(kIdsQuickScan), Str(kIdsDeepScan), true);
    m_group->setTitle(Str(kIdsSelectScanType));
    m_heading->setText(Str(kIdsSearchLostVolume));
    if (source && source->disk)
      m_mediaLine->setText(prefix + QStringLiteral("Disk No %1").arg(static_cast<int>(source->disk->driveNumber) - 0x80));
  } else if (page == 1 && selection == 0) {
    showVolumeModes();
    radiosByFileSystem();
    m_heading->setText(Str(kIdsRecoveryFromImage));
    if (p) m_mediaLine->setText(prefix + ToQString(p->name));
  } else if (page == 1 && selection == 2) {
    // Scan Now with its own caption and the saved scan's Learn More.
    PlaceCaption(1, kQuickY, QStringLiteral("Opens the saved scan's results."));
    m_labels[1]->show();
    m_links[1]->show();
    m_btnScanNow->show();
    m_heading->setText(Str(kIdsRecoveryFromSavedScan));
    m_mediaLine->setText(prefix + Str(kIdsSavedScanInfo));
  } else {
    m_heading->clear();
    m_mediaLine->clear();
  }
  // Radios are hidden and shown again so that they repaint.
  for (QRadioButton* r : {m_radioFat, m_radioOther}) r->update();
}

void CSliderOptionDlg::ApplyResumeFlagRule() {
  CORVANApp& app = App();
  const SourceRecord* s = Selected();
  if (s && app.m_bResumeMode != 1) app.m_bResumeMode = (s->kind >= 6 && s->kind <= 14) ? 1 : 0;
}

void CSliderOptionDlg::CloseAndRun(std::uint32_t mode, bool rawRegion) {
  m_bLaunching = true;
  QPointer<QWidget> owner = m_pOwnerDlg;
  QMetaObject::invokeMethod(
      qApp,
      [owner, close = m_closePanel, mode, rawRegion] {
        if (owner) close();
        CORVANApp& app = App();
        app.m_nRecoveryMode = mode;
        if (rawRegion) {
          app.m_scanBounds.m_nMediaFirstSector = app.m_scanBounds.m_nRegionFirstSector;
          app.m_scanBounds.m_nMediaLastSector = app.m_scanBounds.m_nRegionLastSector;
        }
        OpenRecoveryConsole(MakeProgramEngines());
      },
      Qt::QueuedConnection);
}

void CSliderOptionDlg::OnQuickRecovery() {
  if (m_bModalOpen || m_bLaunching) return;
  ApplyResumeFlagRule();
  CloseAndRun(kModeQuick, false);
}

void CSliderOptionDlg::OnDeletedRecovery() {
  if (m_bModalOpen || m_bLaunching) return;
  ApplyResumeFlagRule();
  CloseAndRun(kModeDeleted, false);
}

void CSliderOptionDlg::OnAdvanceRecovery() {
  if (m_bModalOpen || m_bLaunching) return;
  CORVANApp& app = App();
  ApplyResumeFlagRule();
  if (m_radioFat->isChecked()) app.m_nAdvanceFsChoice = kAdvanceFat;
  else if (m_radioOther->isChecked())
    app.m_nAdvanceFsChoice = m_radioOther->text() == QStringLiteral("NTFS")    ? kAdvanceNtfs
                             : m_radioOther->text() == QStringLiteral("exFAT") ? kAdvanceExFat
                                                                                : 0;
  if (app.m_selectedTypeList.empty()) {
    app.LoadUserHeaders();
    app.LoadDefaultRawTypes();
  }
  CloseAndRun(kModeAdvance, false);
}

void CSliderOptionDlg::OnRawRecovery() {
  CORVANApp& app = App();
  if (m_bModalOpen || m_bLaunching || CSpecifiedRegion::IsOpen()) return;
  if (app.m_selectedTypeList.empty()) {
    app.LoadUserHeaders();
    app.BuildSelectedTypeList();
    app.m_fileTypeList.clear();
  }
  // With no type chosen (and no default set asked for in the settings) the
  // search would find nothing at all: say so instead of scanning.
  if (app.m_selectedTypeList.empty()) {
    app.GetPrompt().MessageBox(kNoTypeSelected, kPicInformation, kMbOk);
    return;
  }
  ApplyResumeFlagRule();
  CloseAndRun(kModeRaw, true);
}

void CSliderOptionDlg::OnScanNow() {
  if (m_bModalOpen || m_bLaunching || m_nPage != 1) return;
  App().m_bResumeMode = 1;
  CloseAndRun(kModeScanNow, false);
}

void CSliderOptionDlg::OnSearchLostVolume() {
  if (m_bModalOpen || m_bLaunching) return;
  CORVANApp& app = App();
  SourceRecord* disk = app.m_sourceList.m_pSelectedSource;
  if (!disk) return;
  app.m_bResumeMode = disk->kind >= 6 && disk->kind <= 14 ? 1 : 0;
  std::uint8_t mode = CLostVolume::kModeFirst;
  if ((disk->flags >> 4) == 1) {
    if (app.GetPrompt().MessageBoxId(kIdsSearchAgain, kPicQuestion, kMbYesNo) != kIdYes) return;
    mode = CLostVolume::kModeRepeat;
  } else {
    disk->flags = static_cast<std::uint8_t>((disk->flags & 0x0F) | 0x10);
  }
  app.m_nRecoveryMode = kModeLostVolume;
  const bool deep = m_radioOther->isChecked();
  app.m_bQuickVolumeSearch = deep ? 0 : 1;
  if (m_pageHooks.hide) m_pageHooks.hide();
  m_bLaunching = true;
  // After this handler: closing the panel deletes it.
  QPointer<QWidget> owner = m_pOwnerDlg;
  QMetaObject::invokeMethod(
      qApp,
      [owner, close = m_closePanel, back = m_pageHooks.back, mode, deep] {
        if (owner) close();
        CLostVolume dlg(0, mode, deep, owner ? owner->window() : nullptr, back);
        dlg.exec();
      },
      Qt::QueuedConnection);
}

void CSliderOptionDlg::OnFileType() {
  if (m_bModalOpen) return;
  m_bModalOpen = true;
  {
    CFileType dlg(m_pOwnerDlg ? m_pOwnerDlg->window() : nullptr);
    dlg.exec();
  }
  m_bModalOpen = false;
}

void CSliderOptionDlg::OnSelectRange() {
  if (m_bModalOpen || CSpecifiedRegion::IsOpen()) return;
  m_bModalOpen = true;
  {
    CSpecifiedRegion dlg(m_pOwnerDlg ? m_pOwnerDlg->window() : nullptr);
    dlg.exec();
  }
  m_bModalOpen = false;
}

int LearnMoreHelpContext(int linkId, std::uint8_t mediaKind, std::uint8_t selection) {
  switch (linkId) {
    case CSliderOptionDlg::kIdLearnQuick:
      return 162;
    case CSliderOptionDlg::kIdLearnDeleted:
      return mediaKind == 7 && selection == 2 ? 183 : 157;
    case CSliderOptionDlg::kIdLearnAdvance:
      return selection == 0 ? 189 : selection == 1 ? 136 : 0;
    case CSliderOptionDlg::kIdLearnRaw:
      return 114;
    default:
      return 0;
  }
}

int CSliderOptionDlg::HelpContextOf(int linkId) const { return LearnMoreHelpContext(linkId, m_nMediaKind, m_nSelection); }

void CSliderOptionDlg::OnLearnMore(int linkId) {
  if (const int context = HelpContextOf(linkId)) ShowHelpContext(context);
}

void CSliderOptionDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(196, 218, 190));
  p.fillRect(QRect(0, 0, width(), 74), FromColorRef(0xCCF7FF));
  p.setPen(FromColorRef(0x3D6B1C));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool CSliderOptionDlg::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    auto* w = qobject_cast<QWidget*>(watched);
    const int id = w && w->isEnabled() ? DlgCtrlId(w) : 0;
    if (id == kIdFileType) {
      // After this event: the file-type dialog runs its own loop.
      QMetaObject::invokeMethod(this, &CSliderOptionDlg::OnFileType, Qt::QueuedConnection);
      return true;
    }
    if (id == kIdSelectRange) {
      // After this event: the region dialog runs its own loop.
      QMetaObject::invokeMethod(this, &CSliderOptionDlg::OnSelectRange, Qt::QueuedConnection);
      return true;
    }
    if (id >= kIdLearnQuick && id <= kIdLearnRaw) {
      OnLearnMore(id);
      return true;
    }
  }
  return CSlider::eventFilter(watched, e);
}

}  // namespace corvan
