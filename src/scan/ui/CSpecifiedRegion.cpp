#include "scan/ui/CSpecifiedRegion.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "app/CORVANApp.h"
#include "ui/CDoubleSlider.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
QString Number(std::int64_t n) { return QString::number(n); }
std::int64_t ReadOrZero(const QLineEdit* box) { return ParseSectorText(box->text()).value_or(0); }
}  // namespace

std::optional<std::int64_t> ParseSectorText(const QString& text) {
  bool ok = false;
  const qlonglong n = text.trimmed().toLongLong(&ok, 10);
  if (!ok) return std::nullopt;
  return static_cast<std::int64_t>(n);
}

SectorRegion CheckedRegion(const QString& startText, const QString& endText, std::int64_t mediaFirst,
                           std::int64_t mediaLast) {
  SectorRegion r;
  r.first = std::clamp(ParseSectorText(startText).value_or(mediaFirst), mediaFirst, mediaLast);
  r.last = std::clamp(ParseSectorText(endText).value_or(mediaLast), mediaFirst, mediaLast);
  if (r.first > r.last) r.first = mediaFirst;
  return r;
}

CSpecifiedRegion::CSpecifiedRegion(QWidget* parent) : CSkinnedDialog(parent, QSize(440, 300)) {
  setWindowTitle(QStringLiteral("Select Specified Region"));
  CORVANApp& app = App();
  QLabel* heading = AddStatic(kIdHeading, QStringLiteral("Select Specified Region"), QRect(16, 44, 408, 22));
  heading->setFont(SharedFontAt(kFontArial16Bold));
  QLabel* text = AddStatic(0,
                           QStringLiteral("Specific region of storage media can be selected either by using range "
                                          "selection slider or by directly putting value of starting and ending "
                                          "sector in respective input boxes.\n\nRegion beyond selected range will "
                                          "not be processed."),
                           QRect(16, 70, 408, 84));
  text->setWordWrap(true);
  text->setFont(ArialFont(14));

  m_slider = new CDoubleSlider(this);
  SetDlgCtrlId(m_slider, kIdSlider);
  m_slider->setGeometry(16, 160, 408, 26);
  AddStatic(0, QStringLiteral("Starting Sector:"), QRect(16, 200, 110, 22));
  AddStatic(0, QStringLiteral("Ending Sector:"), QRect(226, 200, 100, 22));
  m_start = new QLineEdit(this);
  SetDlgCtrlId(m_start, kIdStart);
  m_start->setGeometry(116, 199, 100, 24);
  m_end = new QLineEdit(this);
  SetDlgCtrlId(m_end, kIdEnd);
  m_end->setGeometry(322, 199, 102, 24);
  for (QLineEdit* e : {m_start, m_end}) HighlightControl(e);

  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(16, 258, 80, 26));
  QPushButton* ok = AddButton(kIdOk, QStringLiteral("OK"), QRect(252, 258, 80, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(344, 258, 80, 26));
  ok->setDefault(true);

  m_dLower = m_dStart = static_cast<double>(app.m_scanBounds.m_nMediaFirstSector);
  m_dUpper = m_dEnd = static_cast<double>(app.m_scanBounds.m_nMediaLastSector);
  m_start->setText(Number(static_cast<std::int64_t>(app.m_scanBounds.m_nMediaFirstSector)));
  m_end->setText(Number(static_cast<std::int64_t>(app.m_scanBounds.m_nMediaLastSector)));
  m_slider->SetRange(m_dLower, m_dUpper);
  m_slider->SetPositions(m_dStart, m_dEnd);

  connect(m_slider, &CDoubleSlider::SliderChanged, this, &CSpecifiedRegion::OnSliderChanged);
  // textEdited comes only from the user's typing, which is the edit mode of
  // the rules: the boxes' own updates never run them.
  connect(m_start, &QLineEdit::textEdited, this, &CSpecifiedRegion::OnStartChanged);
  connect(m_end, &QLineEdit::textEdited, this, &CSpecifiedRegion::OnEndChanged);
  connect(ok, &QPushButton::clicked, this, &CSpecifiedRegion::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CSpecifiedRegion::OnCancel);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  OpenFlag() = 1;
}

CSpecifiedRegion::~CSpecifiedRegion() { OpenFlag() = 0; }

std::atomic<std::uint8_t>& CSpecifiedRegion::OpenFlag() {
  static std::atomic<std::uint8_t> open{0};
  return open;
}

void CSpecifiedRegion::SetThumbs(double start, double end) {
  // Typed values move the thumbs without rewriting the boxes, unless the
  // slider had to clamp one: then the boxes follow the thumbs.
  m_bSettingThumbs = true;
  m_slider->SetPositions(start, end);
  m_bSettingThumbs = false;
  if (m_slider->Low() != start || m_slider->High() != end) OnSliderChanged(0);
  m_slider->update();
}

void CSpecifiedRegion::OnSliderChanged(int) {
  if (m_bSettingThumbs) return;
  m_dStart = m_slider->Low();
  m_dEnd = m_slider->High();
  // The start box shows one less than the low thumb.
  if (static_cast<std::int64_t>(m_dStart) >= 1) m_dStart -= 1;
  if (m_dEnd == 0) m_dEnd = 1;
  m_start->setText(Number(static_cast<std::int64_t>(m_dStart)));
  m_end->setText(Number(static_cast<std::int64_t>(m_dEnd)));
}

void CSpecifiedRegion::OnStartChanged() {
  if (m_start->text().isEmpty()) m_start->setText(QStringLiteral("0"));
  std::int64_t start = ReadOrZero(m_start);
  const std::int64_t end = ReadOrZero(m_end);
  if (end < start) {
    start = 0;
    m_start->setText(QStringLiteral("0"));
  }
  if (end <= start || static_cast<double>(start) < m_dLower) {
    m_end->setText(Number(static_cast<std::int64_t>(m_dUpper)));
    m_start->setText(QStringLiteral("0"));
    SetThumbs(0, static_cast<double>(end));
  } else {
    SetThumbs(static_cast<double>(start), static_cast<double>(end));
  }
}

void CSpecifiedRegion::OnEndChanged() {
  std::int64_t start = ReadOrZero(m_start);
  std::int64_t end = ReadOrZero(m_end);
  if (end <= start || static_cast<double>(end) > m_dUpper) {
    if (m_dUpper <= static_cast<double>(start)) {
      start = 0;
      m_start->setText(QStringLiteral("0"));
    }
    end = static_cast<std::int64_t>(m_dUpper);
    m_end->setText(Number(end));
  }
  SetThumbs(static_cast<double>(start), static_cast<double>(end));
}

void CSpecifiedRegion::OnOK() {
  CORVANApp& app = App();
  const SectorRegion r = CheckedRegion(m_start->text(), m_end->text(), static_cast<std::int64_t>(app.m_scanBounds.m_nMediaFirstSector),
                                       static_cast<std::int64_t>(app.m_scanBounds.m_nMediaLastSector));
  app.m_scanBounds.m_nRegionFirstSector = static_cast<std::uint64_t>(r.first);
  app.m_scanBounds.m_nRegionLastSector = static_cast<std::uint64_t>(r.last);
  OpenFlag() = 0;
  EndDialog(kIdOk);
}

void CSpecifiedRegion::OnCancel() {
  OpenFlag() = 0;
  EndDialog(kIdCancel);
}

}  // namespace corvan
