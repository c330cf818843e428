#include "app/ui/CTransLayerDlg.h"

#include <QKeyEvent>

#include "core/StringTable.h"
#include "app/ui/CORVANDlg.h"
#include "ui/CTransBtn.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
struct SkinButtonSpec {
  int id;
  unsigned normal;
  unsigned hover;
  QPoint pos;
  bool shown;  // 1006 to 1008 have no command and are not shown
};
constexpr std::array<SkinButtonSpec, 6> kSkinButtons = {{
    {1004, 158, 159, {588, 10}, true},
    {1005, 153, 154, {612, 10}, true},
    {1006, 151, 152, {516, 10}, false},
    {1007, 160, 161, {540, 10}, false},
    {1008, 149, 150, {492, 10}, false},
    {1009, 155, 156, {564, 10}, true},
}};
}  // namespace

CTransLayerDlg::CTransLayerDlg(QWidget* parent) : CTransDlg(kBackgroundId, parent) {
  InitSharedLook();
  setWindowTitle(ToQString(LoadString(102)));
  setWindowIcon(QIcon(LoadBitmapResource(128)));
  for (std::size_t i = 0; i < kSkinButtons.size(); ++i) {
    m_buttons[i] = new CTransBtn(this);
    SetDlgCtrlId(m_buttons[i], kSkinButtons[i].id);
  }
}

CORVANDlg* CTransLayerDlg::MainDialog() const { return qobject_cast<CORVANDlg*>(Content()); }

CTransBtn* CTransLayerDlg::SkinButton(int id) const {
  for (CTransBtn* b : m_buttons)
    if (DlgCtrlId(b) == id) return b;
  return nullptr;
}

QWidget* CTransLayerDlg::CreateContentDialog() { return new CORVANDlg(this); }

void CTransLayerDlg::InitSkin() {
  for (std::size_t i = 0; i < kSkinButtons.size(); ++i) {
    const SkinButtonSpec& s = kSkinButtons[i];
    CTransBtn* b = m_buttons[i];
    // The skin buttons look the same when disabled or pressed.
    b->SetImages(s.normal, s.normal, s.hover, s.normal, 0);
    b->move(s.pos);
    b->setVisible(s.shown);
    AddChild(b);
  }
  SkinButton(kIdMinimise)->setToolTip(ToQString(LoadString(213)));
  SkinButton(kIdHelp)->setToolTip(ToQString(LoadString(104)));
  SkinButton(kIdClose)->setToolTip(QStringLiteral("Close"));
  connect(SkinButton(kIdMinimise), &CTransBtn::clicked, this, &CTransLayerDlg::OnMinimise);
  connect(SkinButton(kIdClose), &CTransBtn::clicked, this, &CTransLayerDlg::OnCancel);
  connect(SkinButton(kIdHelp), &CTransBtn::clicked, this, [] { ShowHelpContext(CORVANDlg::kHelpContext); });
}

void CTransLayerDlg::OnMinimise() {
  if (CORVANDlg* dlg = MainDialog()) dlg->CloseOptionsPanel();
  showMinimized();
}

void CTransLayerDlg::keyPressEvent(QKeyEvent* e) {
  // Escape, Enter and Space never close the window or press its buttons.
  const int key = e->key();
  if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
    return e->accept();
  CTransDlg::keyPressEvent(e);
}

}  // namespace corvan
