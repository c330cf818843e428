#pragma once
// A combo box that shows the whole text of a truncated item (in the box and
// in its drop-down list) in a tooltip over it.

#include <QComboBox>
#include <QRect>
#include <QTimer>

namespace corvan {

// The box's text needs a tip when it is wider than its area less 6 pixels;
// a list item's when it is wider than its rectangle less 3.
bool ComboTextNeedsTip(int textWidth, int areaWidth);
bool ListTextNeedsTip(int textWidth, int itemWidth);

class XTipComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit XTipComboBox(QWidget* parent = nullptr);

  // The area of the text: the box less its drop-down button.
  QRect TextArea() const;
  bool IsTipShown() const { return m_bTipShown; }
  QString TipText() const { return m_tipText; }

 protected:
  void mouseMoveEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showPopup() override;

 private:
  void ShowTip(const QString& text, const QPoint& globalTopLeft, const QRect& trackArea);
  void HideTip();
  void OnTimer();

  QTimer m_timer;
  bool m_bTipShown = false;
  QString m_tipText;
  QRect m_trackArea;  // global; the tip goes once the cursor leaves it
};

}  // namespace corvan
