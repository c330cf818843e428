#include "console/ui/LogDialogs.h"

#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/FileHandle.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

// ---------------------------------------------------------------- the question

CAskforSaveLog::CAskforSaveLog(QWidget* parent) : CSkinnedDialog(parent, QSize(380, 150), ProductCaption()) {
  setWindowTitle(ProductCaption());
  auto* picture = AddStatic(kIdPicture, QString(), QRect(16, 50, 40, 40));
  picture->setPixmap(LoadBitmapResource(kPicQuestion));
  QLabel* text =
      AddStatic(kIdText, QStringLiteral("Do you want to save log before closing application?"), QRect(66, 50, 300, 44));
  text->setWordWrap(true);
  text->setFont(ArialFont(14));
  QPushButton* always = AddButton(kIdAlways, QStringLiteral("Always"), QRect(66, 110, 90, 26));
  QPushButton* later = AddButton(kIdAskLater, QStringLiteral("Ask Me later"), QRect(166, 110, 100, 26));
  QPushButton* never = AddButton(kIdNever, QStringLiteral("Never"), QRect(276, 110, 90, 26));
  always->setDefault(true);
  connect(always, &QPushButton::clicked, this, [this] { done(kIdAlways); });
  connect(later, &QPushButton::clicked, this, [this] { done(kIdAskLater); });
  connect(never, &QPushButton::clicked, this, [this] { done(kIdNever); });
  SkinnedDialogCtlColor(this);
}

SaveLogAnswer CAskforSaveLog::Ask() {
  switch (exec()) {
    case kIdAlways: return SaveLogAnswer::Always;
    case kIdNever: return SaveLogAnswer::Never;
    default: return SaveLogAnswer::AskMeLater;
  }
}

// ---------------------------------------------------------------- the viewer

CLogViewer::CLogViewer(QWidget* parent) : CSkinnedDialog(parent, QSize(520, 420), ProductCaption()) {
  setWindowTitle(QStringLiteral("Log Viewer"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("Log Viewer"), QRect(12, 44, 496, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));

  m_pText = new QPlainTextEdit(this);
  SetDlgCtrlId(m_pText, kIdText);
  m_pText->setGeometry(12, 72, 496, 296);
  // The box shows the log; what Save writes is the log itself, its last
  // line ended as the log file's lines are.
  m_pText->setReadOnly(true);
  m_pText->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pText->setFont(ArialFont(13));
  HighlightControl(m_pText);

  QPushButton* clear = AddButton(kIdClear, QStringLiteral("Clear Log"), QRect(12, 380, 90, 26));
  QPushButton* save = AddButton(kIdSave, QStringLiteral("Save Log"), QRect(110, 380, 90, 26));
  QPushButton* close = AddButton(kIdClose, QStringLiteral("Close"), QRect(418, 380, 90, 26));
  // Enter does not close the viewer: no button is the default.
  for (QPushButton* b : {clear, save, close}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(clear, &QPushButton::clicked, this, &CLogViewer::OnClearLog);
  connect(save, &QPushButton::clicked, this, &CLogViewer::OnSaveLog);
  connect(close, &QPushButton::clicked, this, &CLogViewer::reject);

  m_strLogView = App().LogViewText();
  ShowLogText();
}

void CLogViewer::ShowLogText() { m_pText->setPlainText(ToQString(m_strLogView)); }

CLogViewer::FileChooser& CLogViewer::SaveChooser() {
  static FileChooser chooser = [](QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
  };
  return chooser;
}

void CLogViewer::OnSaveLog() {
  const QString filter = ToQString(LoadString(kIdsTextFile)) + QStringLiteral("(*.TXT *.txt)");
  const QString chosen = SaveChooser()(this, filter);
  if (chosen.isEmpty()) return;
  const std::filesystem::path path(chosen.toStdString());
  // Every line ends in CR LF, the last one too, as in the log file.
  std::string text = m_strLogView;
  if (!text.ends_with("\r\n")) text += "\r\n";
  auto f = FileHandle::Open(path, FileHandle::Mode::CreateTruncate);
  // A file that could not be written is said so, not passed over.
  if (!f || !f.WriteAt(text.data(), text.size(), 0))
    App().GetPrompt().MessageBox(LoadString(kIdsCantOpenFile) + path.string(), kPicError, kMbOk);
}

void CLogViewer::OnClearLog() {
  if (App().GetPrompt().MessageBoxId(kIdsClearLog, kPicQuestion, kMbYesNo) != kIdYes) return;
  // Only the viewer's entries go; those not yet written still reach the file.
  App().ClearLogView();
  m_strLogView = App().LogViewText();
  ShowLogText();
}

}  // namespace corvan
