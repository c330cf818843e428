#include "scan/ui/CAddHeader.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

constexpr std::size_t kMaxTextUnits = 256;
constexpr std::uint64_t kMB = 1048576, kKB = 1024;

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

bool AllDigits(const QString& text) {
  for (const QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

}  // namespace

HeaderTextFault CheckHeaderText(const QString& text) {
  if (text.size() >= 25) return HeaderTextFault::Length;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool separator = (i + 1) % 3 == 0;
    if (separator ? text[i] != QLatin1Char(' ') : HexDigit(text[i]) < 0) return HeaderTextFault::Format;
  }
  // A byte of one digit, or no byte at all.
  if (text.isEmpty() || text.size() % 3 == 1) return HeaderTextFault::Length;
  return HeaderTextFault::None;
}

ParsedHeader ParseHeaderText(const QString& text) {
  ParsedHeader h;
  for (qsizetype i = 0; 3 * i + 1 < text.size() && h.length < 8; ++i) {
    const int hi = HexDigit(text[3 * i]), lo = HexDigit(text[3 * i + 1]);
    if (hi < 0 || lo < 0) break;
    h.bytes[h.length++] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return h;
}

QString HeaderText(const FileTypeRecord& record) {
  QStringList bytes;
  for (std::size_t i = 0; i < record.headerLength && i < record.header.size(); ++i)
    bytes << QStringLiteral("%1").arg(record.header[i], 2, 16, QLatin1Char('0'));
  return bytes.join(QLatin1Char(' '));
}

QString UnmatchedSignatureNote(const FileTypeRecord& record) {
  if (SignatureInFirstSector(record)) return {};
  return ToQString(LoadString(kIdsSignaturePastFirstSector));
}

std::optional<std::uint32_t> ParseHeaderOffset(const QString& text) {
  if (text.isEmpty() || text.size() > 3 || !AllDigits(text)) return std::nullopt;
  const std::uint32_t value = text.toUInt();
  if (value >= 512) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> MaxSizeFromText(const QString& text, bool kb) {
  if (text.isEmpty() || !AllDigits(text)) return std::nullopt;
  const std::uint64_t unit = kb ? kKB : kMB;
  std::uint64_t value = 0;
  for (const QChar c : text) {
    value = value * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
    // The record holds the size in 32 bits: 4096 MB and more do not fit.
    if (value * unit > 0xFFFFFFFFull) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<std::uint32_t>(value * unit);
}

CAddHeader::CAddHeader(QWidget* parent, FileTypeRecord* record)
    : CSkinnedDialog(parent, QSize(440, 404), ProductCaption()), m_pRecord(record) {
  setWindowTitle(QStringLiteral("Add/Edit Header File"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("Add/Edit Header File"), QRect(12, 44, 416, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));
  QLabel* text = AddStatic(0,
                           QStringLiteral("Specify signature by entering header(maximum 8 bytes, Ex: 01 ff 0c d1 f4 00 "
                                          "03 05) in hexadecimal format and its corresponding offset in decimal "
                                          "format; the header must end within the first 512 bytes"),
                           QRect(12, 70, 416, 50));
  text->setWordWrap(true);
  text->setFont(ArialFont(14));

  const auto box = [this](int id, const QRect& r) {
    auto* e = new QLineEdit(this);
    SetDlgCtrlId(e, id);
    e->setGeometry(r);
    HighlightControl(e);
    return e;
  };
  AddStatic(0, QStringLiteral("Software Name"), QRect(12, 130, 130, 22));
  m_pName = box(kIdName, QRect(150, 128, 278, 24));
  AddStatic(0, QStringLiteral("File Extension"), QRect(12, 162, 130, 22));
  m_pExtension = box(kIdExtension, QRect(150, 160, 120, 24));
  AddStatic(0, QStringLiteral("Max File Size"), QRect(12, 194, 130, 22));
  m_pSize = box(kIdSize, QRect(150, 192, 120, 24));
  m_pUnit = new QLineEdit(QStringLiteral("MB"), this);
  SetDlgCtrlId(m_pUnit, kIdUnit);
  m_pUnit->setGeometry(274, 192, 38, 24);
  m_pUnit->setReadOnly(true);
  m_pUnit->setAlignment(Qt::AlignCenter);
  // The up-down control beside the unit: either arrow swaps MB and KB.
  auto* spin = new QWidget(this);
  SetDlgCtrlId(spin, kIdUnitSpin);
  spin->setGeometry(312, 192, 16, 24);
  auto* arrows = new QVBoxLayout(spin);
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->setSpacing(0);
  for (const Qt::ArrowType a : {Qt::UpArrow, Qt::DownArrow}) {
    auto* b = new QToolButton(spin);
    b->setArrowType(a);
    b->setFixedSize(16, 12);
    arrows->addWidget(b);
    connect(b, &QToolButton::clicked, this, &CAddHeader::OnUnitToggle);
  }
  AddStatic(0, QStringLiteral("Group"), QRect(12, 226, 130, 22));
  m_pGroup = new QComboBox(this);
  SetDlgCtrlId(m_pGroup, kIdGroup);
  m_pGroup->setGeometry(150, 224, 278, 24);
  HighlightControl(m_pGroup);
  for (unsigned id = 266; id <= 274; ++id) m_pGroup->addItem(ToQString(LoadString(id)));
  AddStatic(0, QStringLiteral("Header\n(in hexadecimal)"), QRect(12, 256, 130, 38));
  m_pHeader = box(kIdHeader, QRect(150, 262, 278, 24));
  AddStatic(0, QStringLiteral("At Offset\n(in decimal)"), QRect(12, 298, 130, 38));
  m_pOffset = box(kIdOffset, QRect(150, 304, 120, 24));
  m_pNote = AddStatic(0, QString(), QRect(12, 330, 416, 30));
  m_pNote->setWordWrap(true);
  m_pNote->setFont(ArialFont(12));
  m_pNote->hide();

  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(12, 362, 80, 26));
  m_pOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(256, 362, 80, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(348, 362, 80, 26));
  m_pOk->setDefault(true);
  m_pOk->setEnabled(false);

  if (m_pRecord) {
    const FileTypeRecord& r = *m_pRecord;
    m_pName->setText(ToQString(r.softwareName));
    m_pExtension->setText(ToQString(r.extension));
    m_pHeader->setText(HeaderText(r));
    m_pOffset->setText(QString::number(r.headerOffset));
    // A size that is no whole number of MB is shown in KB, so OK does not
    // cut it down.
    const bool kb = r.sizeUnit == 1 || r.maxSize % kMB != 0;
    m_pSize->setText(QString::number(kb ? r.maxSize / kKB : r.maxSize / kMB));
    m_pUnit->setText(kb ? QStringLiteral("KB") : QStringLiteral("MB"));
    if (r.preset)
      for (QWidget* w : {static_cast<QWidget*>(m_pName), static_cast<QWidget*>(m_pExtension),
                         static_cast<QWidget*>(m_pHeader), static_cast<QWidget*>(m_pOffset),
                         static_cast<QWidget*>(m_pGroup)})
        w->setEnabled(false);
    m_pGroup->setCurrentIndex(r.group <= 8 ? r.group : 0);
  } else {
    m_pGroup->setCurrentIndex(0);
  }
  OnBoxChanged();

  for (QLineEdit* e : {m_pName, m_pExtension, m_pHeader, m_pOffset})
    connect(e, &QLineEdit::textChanged, this, &CAddHeader::OnBoxChanged);
  connect(m_pOk, &QPushButton::clicked, this, &CAddHeader::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CAddHeader::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
}

void CAddHeader::OnBoxChanged() {
  bool all = true;
  for (const QLineEdit* e : {m_pName, m_pExtension, m_pHeader, m_pOffset}) all = all && !e->text().isEmpty();
  m_pOk->setEnabled(all);
  // What the boxes say, also for a stored record that OK would now refuse.
  QString note;
  const QString offsetText = m_pOffset->text();
  if (!offsetText.isEmpty() && AllDigits(offsetText) && CheckHeaderText(m_pHeader->text()) == HeaderTextFault::None) {
    bool fits = false;
    const qulonglong offset = offsetText.toULongLong(&fits);
    FileTypeRecord typed;
    typed.headerOffset = fits && offset <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(offset) : 0xFFFFFFFFu;
    typed.headerLength = ParseHeaderText(m_pHeader->text()).length;
    note = UnmatchedSignatureNote(typed);
  }
  m_pNote->setText(note);
  m_pNote->setVisible(!note.isEmpty());
}

bool CAddHeader::UnitIsKb() const { return m_pUnit->text() != QStringLiteral("MB"); }

void CAddHeader::OnUnitToggle() {
  const std::int64_t n = m_pSize->text().toLongLong();
  if (UnitIsKb()) {
    m_pUnit->setText(QStringLiteral("MB"));
    m_pSize->setText(QString::number(n / 1024));
  } else {
    m_pUnit->setText(QStringLiteral("KB"));
    m_pSize->setText(QString::number(n * 1024));
  }
}

void CAddHeader::Refuse(const char* text, QWidget* focus) {
  App().GetPrompt().MessageBox(text, kPicInformation, kMbOk);
  if (focus) focus->setFocus();
}

void CAddHeader::OnOK() {
  static constexpr const char* kLength = "Invalid header length. Follow instructions given on top of the dialog box.";
  if (!m_pRecord || !m_pRecord->preset) {
    const QString header = m_pHeader->text();
    switch (CheckHeaderText(header)) {
      case HeaderTextFault::Length:
        return Refuse(kLength, nullptr);
      case HeaderTextFault::Format:
        return Refuse("Invalid header format. Follow instructions given on top of the dialog box.", m_pHeader);
      case HeaderTextFault::None:
        break;
    }
    const std::optional<std::uint32_t> offset = ParseHeaderOffset(m_pOffset->text());
    if (!offset) return Refuse("Invalid offset, re-enter value", nullptr);
    const ParsedHeader parsed = ParseHeaderText(header);
    if (!SignatureInFirstSector(*offset, parsed.length))
      return Refuse("Invalid offset, the header must end within the first 512 bytes. Re-enter value", nullptr);
    m_nOffset = *offset;
    m_header = parsed;
  }
  const std::optional<std::uint32_t> maxSize = MaxSizeFromText(m_pSize->text(), UnitIsKb());
  if (!maxSize) return Refuse("Invalid size. Re-enter value", m_pSize);
  const auto checkText = [this](QLineEdit* box, const char* tooLong, const char* empty) {
    if (static_cast<std::size_t>(box->text().size()) > kMaxTextUnits) {
      Refuse(tooLong, box);
      return false;
    }
    if (box->text().trimmed().isEmpty()) {
      Refuse(empty, nullptr);
      box->clear();
      m_pOk->setEnabled(false);
      box->setFocus();
      return false;
    }
    return true;
  };
  if (!checkText(m_pName, "File name length can't exceed 256 characters.", "Invalid software name. Re-enter name."))
    return;
  if (!checkText(m_pExtension, "File extension length can't exceed 256 characters.",
                 "Invalid software extension. Re-enter extension."))
    return;

  if (!m_pRecord) {
    if (!AppendHeaderRecord()) App().GetPrompt().MessageBox("Unable to append header file", kPicInformation, kMbOk);
    done(kIdOk);
    return;
  }
  FileTypeRecord& r = *m_pRecord;
  if (!r.preset) {
    r.header.fill(0);
    r.headerLength = m_header.length;
    r.headerOffset = m_nOffset;
    r.softwareName = ToUtf16(m_pName->text());
    r.extension = ToUtf16(m_pExtension->text());
    r.header = m_header.bytes;
    r.group = static_cast<std::uint8_t>(qMax(0, m_pGroup->currentIndex()));
  }
  r.maxSize = *maxSize;
  r.sizeUnit = UnitIsKb() ? 1 : 0;
  done(kIdOk);
}

bool CAddHeader::AppendHeaderRecord() {
  const std::optional<std::uint32_t> maxSize = MaxSizeFromText(m_pSize->text(), UnitIsKb());
  if (!maxSize) return false;
  FileTypeRecord r;
  r.softwareName = ToUtf16(m_pName->text());
  r.extension = ToUtf16(m_pExtension->text());
  r.headerOffset = m_nOffset;
  r.headerLength = m_header.length;
  r.header = m_header.bytes;
  r.group = static_cast<std::uint8_t>(qMax(0, m_pGroup->currentIndex()));
  r.maxSize = *maxSize;
  r.sizeUnit = UnitIsKb() ? 1 : 0;
  // Not searched for until the user ticks it in the type choice.
  r.selected = 0;
  r.preset = 0;
  r.typeId = 0;
  return App().AppendUserHeader(r);
}

}  // namespace corvan
