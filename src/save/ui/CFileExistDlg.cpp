#include "save/ui/CFileExistDlg.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include <QStyle>

#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr std::uint32_t kMessageBand = 0xCCF7FF;
}  // namespace

CFileExistDlg::CFileExistDlg(const FileExistQuestion& question, QWidget* parent)
    : CSkinnedDialog(parent, QSize(470, 300), ProductCaption()), m_newName(question.proposedName) {
  setWindowTitle(QStringLiteral("File Already Exists"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("File Already Exists"), QRect(12, 44, 446, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));

  QLabel* band = AddStatic(kIdBand, QString(), QRect(12, 74, 446, 84));
  band->setAutoFillBackground(true);
  QPalette pal = band->palette();
  pal.setColor(QPalette::Window, FromColorRef(kMessageBand));
  band->setPalette(pal);
  m_pMessage = AddStatic(kIdMessage, QString(), QRect(64, 78, 388, 76));
  m_pMessage->setFont(SharedFontAt(kFontArial16));
  m_pMessage->setAttribute(Qt::WA_TranslucentBackground);
  QLabel* warning = AddStatic(0, QString(), QRect(20, 92, 36, 36));
  warning->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));

  AddStatic(0, QStringLiteral("File Name:"), QRect(20, 170, 90, 22))->setFont(ArialFont(14));
  QLabel* name = AddStatic(kIdFileName, ToQString(question.name), QRect(112, 170, 346, 22));
  name->setFont(ArialFont(14));
  name->setToolTip(name->text());
  AddStatic(0, QStringLiteral("Rename To:"), QRect(20, 200, 90, 22))->setFont(ArialFont(14));
  m_pRenameTo = new QLineEdit(ToQString(question.proposedName), this);
  SetDlgCtrlId(m_pRenameTo, kIdRenameTo);
  m_pRenameTo->setGeometry(112, 198, 346, 24);

  m_pMessage->setText(ToQString(LoadString(kIdsFileExists)) + QString::number(question.existingSize) +
                      QStringLiteral(" Bytes") + ToQString(LoadString(kIdsCurrentSize)) +
                      QString::number(question.newSize) + QStringLiteral(" Bytes"));

  struct Spec {
    int id;
    const char* text;
    FileExistAnswer answer;
    QRect r;
  };
  const Spec buttons[] = {
      {kIdRename, "Rename", FileExistAnswer::Rename, QRect(20, 240, 100, 24)},
      {kIdRenameAll, "Rename All", FileExistAnswer::RenameAll, QRect(20, 268, 100, 24)},
      {kIdOverwrite, "Overwrite", FileExistAnswer::Overwrite, QRect(185, 240, 100, 24)},
      {kIdOverwriteAll, "Overwrite All", FileExistAnswer::OverwriteAll, QRect(185, 268, 100, 24)},
      {kIdSkip, "Skip", FileExistAnswer::Skip, QRect(350, 240, 100, 24)},
      {kIdSkipAll, "Skip All", FileExistAnswer::SkipAll, QRect(350, 268, 100, 24)},
  };
  for (const Spec& s : buttons) {
    QPushButton* b = AddButton(s.id, QString::fromLatin1(s.text), s.r);
    const FileExistAnswer answer = s.answer;
    const int result = s.id == kIdRename ? kIdOk : kResultOther;
    connect(b, &QPushButton::clicked, this, [this, answer, result] { Finish(answer, result); });
    if (s.id == kIdRename) b->setDefault(true);
  }
  connect(m_pRenameTo, &QLineEdit::textChanged, this, &CFileExistDlg::UpdateRenameButtons);
  UpdateRenameButtons();
}

QString CFileExistDlg::MessageText() const { return m_pMessage->text(); }

void CFileExistDlg::UpdateRenameButtons() {
  // A name of blanks is no name.
  const bool named = !m_pRenameTo->text().trimmed().isEmpty();
  for (int id : {kIdRename, kIdRenameAll})
    if (QWidget* b = GetDlgItem(this, id)) b->setEnabled(named);
}

bool CFileExistDlg::event(QEvent* e) {
  if (e->type() == QEvent::Show) UpdateRenameButtons();
  return CSkinnedDialog::event(e);
}

void CFileExistDlg::Finish(FileExistAnswer answer, int result) {
  m_answer = answer;
  // Only Rename takes the edited text; Rename All keeps the proposal.
  if (answer == FileExistAnswer::Rename) m_newName = ToUtf16(m_pRenameTo->text().left(259));
  done(result);
}

}  // namespace corvan
