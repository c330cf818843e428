#pragma once
// The program's skinned main window: the skin image with its minimise,
// close and help buttons, and the start screen laid over it.

#include <array>

#include "ui/CTransDlg.h"

namespace corvan {

class CORVANDlg;
class CTransBtn;

class CTransLayerDlg : public CTransDlg {
  Q_OBJECT
 public:
  static constexpr unsigned kBackgroundId = 157;
  static constexpr int kIdMinimise = 1004;
  static constexpr int kIdClose = 1005;
  static constexpr int kIdHelp = 1009;

  explicit CTransLayerDlg(QWidget* parent = nullptr);

  CORVANDlg* MainDialog() const;
  CTransBtn* SkinButton(int id) const;

  void OnMinimise();
  void OnCancel() { close(); }

 protected:
  QWidget* CreateContentDialog() override;
  void InitSkin() override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  std::array<CTransBtn*, 6> m_buttons{};  // 1004 to 1009
};

}  // namespace corvan
