#pragma once
// A panel that slides out from behind its owner's edge and stays beside it:
// x = owner right - 3 (side 1) or owner left - width + 3 (side 0),
// y = owner top + 102, height = owner height - 116.

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <vector>

namespace corvan {

class CSlider : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDefaultWidth = 230;

  // The panel is a window of its own, kept with `owner`'s window.
  explicit CSlider(QWidget* owner, int width = kDefaultWidth);

  int m_nSide = 1;       // 1 out to the right of the owner, 0 to the left
  int m_nStepDelay = 3;  // milliseconds between two slide steps

  void SlideOpen();
  void SlideClose();
  void PlaceBesideOwner();
  virtual void OnOK();
  virtual void OnCancel();

  QWidget* Owner() const { return m_pOwner; }
  // The owner's rectangle on the screen.
  QRect OwnerRect() const;
  // The final rectangle beside an owner at `owner`.
  static QRect PlaceFor(const QRect& owner, int width, int side);
  // The x positions of a slide, one per step: floor(width / 5) + 1 steps of
  // 5 pixels, from behind the owner out (opening) or back.
  static std::vector<int> SlideSteps(const QRect& owner, int width, int side, bool opening);

 signals:
  // The panel was closed by OK or Cancel.
  void PanelClosed();

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void Step(const std::vector<int>& xs, const QRect& owner, bool hideAtEnd);

  QPointer<QWidget> m_pOwner;
  QRect m_rcOwner, m_rcPanel;
};

}  // namespace corvan
