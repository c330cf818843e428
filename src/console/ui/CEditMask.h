#pragma once
// The mask box of the results window: patterns "*.ext" separated by ';' or
// ','. Enter applies a text that begins with "*." as a new file mask (all
// other criteria reset); the box empties when it takes the focus and shows
// "*.*" again when it is left empty.

#include <QLineEdit>
#include <functional>

#include "console/FileMask.h"

namespace corvan {

class CEditMask : public QLineEdit {
  Q_OBJECT
 public:
  static constexpr int kTextLimit = 125;

  explicit CEditMask(QWidget* parent = nullptr);

  // Starts the mask thread; false when it was refused (one runs already).
  void SetMaskStarter(std::function<bool(MaskCriteria)> start) { m_start = std::move(start); }
  // Criteria reset, the patterns of `text`, and the thread started.
  bool ApplyMask(const QString& text);
  // A text the mask box applies: trimmed, not empty, beginning with "*.".
  static bool IsMaskText(const QString& trimmed);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  std::function<bool(MaskCriteria)> m_start;
};

}  // namespace corvan
