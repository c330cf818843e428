#pragma once
// A button drawn from a horizontal strip of four state images: 0 normal,
// 1 selected or hover, 2 pressed, 3 disabled or a fourth look set by the
// owner. The button is one state image in size. Hand cursor and a tooltip.

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

namespace corvan {

class CTButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit CTButton(QWidget* parent = nullptr);

  // Stores the texts, sizes and position, sets state 0, loads the strip of
  // image `bitmapId` and moves the button to (x, y, width, height).
  void LoadBitmaps(unsigned bitmapId, int width, int height, int x, int y,
                   const QString& text1 = QString(), const QString& text2 = QString());
  // As LoadBitmaps, with a strip already in hand (tests, generated looks).
  void SetStrip(const QPixmap& strip, int width, int height, int x, int y);

  // 0 to 3; any other value leaves the state as it is.
  void SetState(int state);
  int State() const { return m_nState; }
  // An empty text changes nothing.
  void SetTooltipText(const QString& text, bool activate = true);

  // Rectangle of state `n` in the strip.
  QRect StateRect(int n) const;
  QSize sizeHint() const override { return {m_nWidth, m_nHeight}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;

  int m_nState = 0;
  unsigned m_nBitmapId = 0;
  int m_nSrcX = 0, m_nSrcY = 0;
  int m_nWidth = 0, m_nHeight = 0;
  int m_nX = 0, m_nY = 0;
  QString m_strText1, m_strText2;
  QPixmap m_Bitmap;
};

}  // namespace corvan
