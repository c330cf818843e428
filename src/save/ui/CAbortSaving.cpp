#include "save/ui/CAbortSaving.h"

#include <QLabel>
#include <QPushButton>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

CAbortSaving::CAbortSaving(const std::u16string& fileName, QWidget* parent)
    : CSkinnedDialog(parent, QSize(440, 190), ProductCaption()) {
  setWindowTitle(QStringLiteral("Abort saving"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("Abort saving"), QRect(12, 44, 416, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));
  QLabel* message =
      AddStatic(kIdMessage, ToQString(fileName) + ToQString(LoadString(kIdsNotSavedCompletely)), QRect(20, 76, 400, 60));
  message->setWordWrap(true);
  message->setFont(ArialFont(14));

  QPushButton* cont = AddButton(kIdContinue, QStringLiteral("Continue Saving"), QRect(20, 148, 125, 26));
  QPushButton* keep = AddButton(kIdSaveAndAbort, QStringLiteral("Save File && Abort"), QRect(157, 148, 125, 26));
  QPushButton* now = AddButton(kIdAbortNow, QStringLiteral("Abort Immediately"), QRect(294, 148, 126, 26));
  cont->setDefault(true);
  connect(cont, &QPushButton::clicked, this, [this] {
    m_answer = AbortAnswer::ContinueSaving;
    done(kIdOk);
  });
  connect(keep, &QPushButton::clicked, this, [this] {
    m_answer = AbortAnswer::SaveFileAndAbort;
    done(kResultOther);
  });
  connect(now, &QPushButton::clicked, this, &CAbortSaving::reject);
}

QString CAbortSaving::MessageText() const { return GetDlgItemAs<QLabel>(this, kIdMessage)->text(); }

void CAbortSaving::reject() {
  m_answer = AbortAnswer::AbortImmediately;
  done(kIdCancel);
}

}  // namespace corvan
