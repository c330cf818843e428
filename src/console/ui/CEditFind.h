#pragma once
// The search box of the results window: Enter searches the current view
// for the typed patterns (a new search from the top). The box empties when
// it takes the focus and shows "Search File…" again when it is left empty.

#include <QLineEdit>
#include <functional>

namespace corvan {

class CEditFind : public QLineEdit {
  Q_OBJECT
 public:
  static constexpr int kTextLimit = 250;

  explicit CEditFind(QWidget* parent = nullptr);

  // The search of the trimmed text (CEditFind::RunSearch of the window).
  void SetSearcher(std::function<void(const QString&)> run) { m_run = std::move(run); }
  // Taking the focus stops F3 continuing the current view's search.
  void SetFocusHandler(std::function<void()> focused) { m_focused = std::move(focused); }
  // "Search File…" in the regular font.
  void ShowPrompt();
  // Whether the box holds something to search for.
  bool HasSearchText() const;

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  std::function<void(const QString&)> m_run;
  std::function<void()> m_focused;
};

}  // namespace corvan
