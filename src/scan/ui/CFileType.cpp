#include "scan/ui/CFileType.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/XTipComboBox.h"

namespace corvan {

CFileType::CFileType(QWidget* parent) : CSkinnedDialog(parent, QSize(480, 478), ProductCaption()) {
  setWindowTitle(QStringLiteral("File List"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("File List"), QRect(12, 44, 456, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));
  AddStatic(kIdFilterLabel, QStringLiteral("Filter by file group"), QRect(12, 78, 140, 22));
  auto* combo = new XTipComboBox(this);
  SetDlgCtrlId(combo, kIdGroupCombo);
  combo->setGeometry(160, 76, 308, 24);

  m_pList = new CEditList;
  CreateReportList(this, kIdList, QRect(12, 108, 456, 252), *m_pList);

  // User-defined types are added and removed from the settings; the button
  // and its hint that would do it here stay hidden.
  QPushButton* append = AddButton(kIdAppendHeader, QStringLiteral("Append Header File"), QRect(12, 366, 150, 26));
  append->hide();
  QLabel* appendHint = AddStatic(
      kIdAppendHint, QStringLiteral("Please click 'Append Header File' button to add/remove user defined file types."),
      QRect(12, 366, 456, 34));
  appendHint->hide();
  QLabel* settingsHint = AddStatic(kIdSettingsHint,
                                   QStringLiteral("Please select 'Append Header File' option in 'Settings' dialog to "
                                                  "add/remove user defined file types."),
                                   QRect(12, 366, 456, 34));
  settingsHint->setWordWrap(true);
  settingsHint->setFont(ArialFont(13));

  QPushButton* edit = AddButton(kIdEdit, QStringLiteral("Edit"), QRect(12, 404, 80, 26));
  QPushButton* selectAll = AddButton(kIdSelectAll, QStringLiteral("Select All"), QRect(100, 404, 100, 26));
  QPushButton* unselectAll = AddButton(kIdUnselectAll, QStringLiteral("Unselect All"), QRect(208, 404, 100, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(12, 440, 80, 26));
  QPushButton* ok = AddButton(kIdOk, QStringLiteral("OK"), QRect(388, 440, 80, 26));
  for (QPushButton* b : {edit, selectAll, unselectAll, help}) b->setAutoDefault(false);
  ok->setDefault(true);

  m_pChoice = new FileTypeChoice(this, {m_pList, combo, edit, selectAll, unselectAll});

  // Edits are kept with the choice, when OK is pressed.
  connect(edit, &QPushButton::clicked, m_pChoice, &FileTypeChoice::OnEdit);
  connect(ok, &QPushButton::clicked, this, &CFileType::OnOK);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
}

void CFileType::OnOK() {
  CORVANApp& app = App();
  // The choice, and any edits, are kept in the user's signature file, so
  // the next opening (after Raw Recovery has let go of the full list, or
  // after a restart) shows them again. Written before the selected list is
  // built, which may empty the full list.
  FileTypeChoice::StoreChoice(app);
  app.BuildSelectedTypeList();
  done(kIdOk);
}

void CFileType::keyPressEvent(QKeyEvent* e) {
  // Escape never closes the choice.
  if (e->key() == Qt::Key_Escape) return e->accept();
  CSkinnedDialog::keyPressEvent(e);
}

}  // namespace corvan
