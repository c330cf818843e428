#pragma once
// An image button of a skin window with five looks: normal, disabled,
// hover, pressed and checked (each but the first falls back to normal).

#include <QFont>
#include <array>

#include "ui/CTransWnd.h"

namespace corvan {

enum TransBtnSlot : int { kSlotNormal = 0, kSlotDisabled, kSlotHover, kSlotPressed, kSlotChecked, kSlotCount };

class CTransBtn : public CTransWnd {
  Q_OBJECT
 public:
  explicit CTransBtn(QWidget* parent = nullptr);

  // Image ids per slot, 0 = none. Fails without a normal image; on success
  // shows it and takes its size.
  bool SetImages(unsigned normal, unsigned disabled = 0, unsigned hover = 0, unsigned pressed = 0,
                 unsigned checked = 0);
  // As SetImages with images in hand.
  bool SetImageSet(const std::array<QImage, kSlotCount>& images);

  void SetCheckable(bool checkable) { m_bCheckable = checkable; }
  bool IsChecked() const { return m_bChecked; }
  bool IsHover() const { return m_bHover; }
  bool IsPressed() const { return m_bPressed; }
  int CurrentSlot() const { return m_nCurrent; }

  // The slot to show: hover (pressed within hover), then disabled, then
  // checked; a slot without an image falls back to normal.
  static int PickSlot(bool hover, bool pressed, bool disabled, bool checked,
                      const std::array<bool, kSlotCount>& present);

  void Render(QPainter& painter, const QPoint& topLeft) override;
  void RequestRender() override;

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  int m_nCurrent = -1;  // slot shown; -1 none
  bool m_bHover = false, m_bPressed = false, m_bChecked = false;
  bool m_bCheckable = false;
  QFont m_font;
};

}  // namespace corvan
