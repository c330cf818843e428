#include "preview/ui/CHexViewer.h"

#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cstring>

#include "ui/DialogLayout.h"

namespace corvan {

namespace {

constexpr int kHeaderY = 3;
constexpr int kRuleY = 18;
constexpr int kOffsetRuleX = 75;
constexpr int kTextRuleX = 372;
constexpr int kOffsetX = 3;
constexpr int kFirstByteX = 80;
constexpr int kFirstDigitX = 86;
constexpr int kColumnStep = 18;
constexpr int kTextX = 375;
constexpr int kFirstRowY = 22;
constexpr int kRowStep = 12;
constexpr int kScrollWidth = 16;
const QColor kBlue(0, 0, 255);

QFont HexFont() {
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::Monospace);
  f.setPointSize(8);
  f.setWeight(QFont::Normal);
  return f;
}

}  // namespace

CHexViewer::CHexViewer(QWidget* parent) : QWidget(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CHexViewer"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_pScroll = new QScrollBar(Qt::Vertical, this);
  SetDlgCtrlId(m_pScroll, kIdScrollBar);
  m_pScroll->setRange(0, 0);
  m_pScroll->setPageStep(1);
  m_pScroll->setSingleStep(1);
  connect(m_pScroll, &QScrollBar::valueChanged, this, &CHexViewer::OnScroll);
}

void CHexViewer::ShowFile(const QString& name, std::uint64_t size) {
  m_name = name;
  m_size = size;
  m_lastPage = size == 0 ? 0 : (size - 1) / kPageBytes;
  m_page = 0;
  m_haveWindow = false;
  m_window.clear();
  m_pendingWindow = ~0ull;
  // A scroll bar over billions of pages stops at the last it can count.
  const int max = static_cast<int>(std::min<std::uint64_t>(m_lastPage, INT_MAX));
  const QSignalBlocker quiet(m_pScroll);
  m_pScroll->setRange(0, max);
  m_pScroll->setValue(0);
  // Disabled rather than hidden when there is nothing to scroll.
  m_pScroll->setEnabled(max > 0);
  ShowPage(0);
}

void CHexViewer::ShowPage(std::uint64_t offset) {
  m_page = std::min(offset / kPageBytes, m_lastPage);
  if (m_pScroll->value() != static_cast<int>(std::min<std::uint64_t>(m_page, INT_MAX))) {
    const QSignalBlocker quiet(m_pScroll);
    m_pScroll->setValue(static_cast<int>(std::min<std::uint64_t>(m_page, INT_MAX)));
  }
  const std::uint64_t start = m_page * kPageBytes;
  // Pages past the file's end hold zeros and need no read.
  if (start >= m_size) {
    m_pageBytes.fill(0);
    m_pageReady = true;
    update();
    emit PageShown(m_page);
    return;
  }
  const std::uint64_t window = start / kWindowBytes * kWindowBytes;
  if (m_haveWindow && m_windowStart == window) {
    FillPage();
    return;
  }
  // The old page stays drawn until the new one is in.
  m_pageReady = false;
  if (m_pendingWindow != window && m_request) {
    m_pendingWindow = window;
    m_request(window);
  }
}

void CHexViewer::SetWindow(std::uint64_t start, std::vector<std::uint8_t> bytes) {
  if (start != m_pendingWindow) return;  // a window scrolled past meanwhile
  m_pendingWindow = ~0ull;
  m_windowStart = start;
  m_window = std::move(bytes);
  m_haveWindow = true;
  if (m_page * kPageBytes / kWindowBytes * kWindowBytes == start) {
    FillPage();
  } else {
    ShowPage(m_page * kPageBytes);
  }
}

void CHexViewer::FillPage() {
  // Bytes past what was read (the file's end, a failed read) show as zeros.
  m_pageBytes.fill(0);
  const std::uint64_t at = m_page * kPageBytes - m_windowStart;
  if (at < m_window.size()) {
    const std::uint64_t n = std::min<std::uint64_t>(kPageBytes, m_window.size() - at);
    std::memcpy(m_pageBytes.data(), m_window.data() + at, static_cast<std::size_t>(n));
  }
  m_pageReady = true;
  update();
  emit PageShown(m_page);
}

void CHexViewer::OnScroll(int value) { ShowPage(static_cast<std::uint64_t>(value) * kPageBytes); }

void CHexViewer::resizeEvent(QResizeEvent*) {
  // 16 pixels wide, one pixel inside the top and bottom, 17 from the right.
  m_pScroll->setGeometry(width() - kScrollWidth - 1, 1, kScrollWidth, std::max(0, height() - 2));
}

QString CHexViewer::OffsetText(int row) const {
  return QStringLiteral("%1").arg(m_page * kPageBytes + static_cast<std::uint64_t>(row) * 16, 10, 16, QChar(u'0')).toUpper();
}

QString CHexViewer::HexText(int row, int column) const {
  const std::uint8_t b = m_pageBytes[static_cast<std::size_t>(row * 16 + column)];
  return QStringLiteral("%1").arg(static_cast<uint>(b), 2, 16, QChar(u'0')).toUpper();
}

QString CHexViewer::AnsiText(int row) const {
  QString text;
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t b = m_pageBytes[static_cast<std::size_t>(row * 16 + i)];
    // Zero and the other control codes would not keep the column: a dot.
    text.append(b < 0x20 || (b >= 0x7F && b < 0xA0) ? QChar(u'.') : QChar(b));
  }
  return text;
}

void CHexViewer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(Qt::black);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.drawLine(0, kRuleY, width(), kRuleY);
  p.drawLine(kOffsetRuleX, 0, kOffsetRuleX, height());
  p.drawLine(kTextRuleX, 0, kTextRuleX, height());
  p.setFont(HexFont());
  const int lineHeight = kRowStep + 2;
  const auto text = [&](int x, int y, const QString& s, const QColor& colour) {
    p.setPen(colour);
    p.drawText(QRect(x, y, 400, lineHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
  };
  text(kOffsetX, kHeaderY, QStringLiteral("Offset"), kBlue);
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i)
    text(kFirstDigitX + i * kColumnStep + (i >= 8 ? 3 : 0), kHeaderY, QString(QChar(kDigits[i])), Qt::black);
  text(kTextX, kHeaderY, QStringLiteral("ANSI TEXT"), Qt::black);
  for (int r = 0; r < 16; ++r) {
    const int y = kFirstRowY + r * kRowStep;
    text(kOffsetX, y, OffsetText(r), kBlue);
    for (int c = 0; c < 16; ++c) text(kFirstByteX + c * kColumnStep + (c >= 8 ? 5 : 0), y, HexText(r, c), Qt::black);
    text(kTextX, y, AnsiText(r), Qt::black);
  }
}

}  // namespace corvan
