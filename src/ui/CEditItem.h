#pragma once
// The in-place edit box laid over one cell of a list: it opens with the
// cell's text and the caret at its start, widens as the text grows, and
// reports the end of the edit once (Enter, Escape or losing the focus),
// then goes away. Enter keeps the trimmed text, or the cell's own text when
// nothing is left; Escape cancels.

#include <QLineEdit>

namespace corvan {

class CEditItem : public QLineEdit {
  Q_OBJECT
 public:
  static constexpr int kId = 0x2345;

  // `list` is the list whose cell is edited; the box is a child of its
  // viewport, placed at `bounds` (viewport coordinates).
  CEditItem(QWidget* list, int row, int column, const QString& text, const QRect& bounds,
            Qt::Alignment alignment);

  int Row() const { return m_nRow; }
  int Column() const { return m_nColumn; }
  bool Cancelled() const { return m_bCancelled; }

  // Ends the edit as Enter, Escape or the loss of the focus does.
  void Commit();
  void Cancel();
  void Finish();

 signals:
  // Sent once; a cancelled edit has no text.
  void EndLabelEdit(int row, int column, const QString& text, bool cancelled);

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void FitText();

  QWidget* m_pList;
  int m_nRow;
  int m_nColumn;
  QString m_initial;
  bool m_bCancelled = false;
  bool m_bEnded = false;
};

}  // namespace corvan
