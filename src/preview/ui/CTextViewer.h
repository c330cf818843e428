#pragma once
// The text pane: the first 8 KiB of a found file as text (zero bytes left
// out), UTF-8 when it is valid UTF-8, else Windows-1252; read-only. Keys do not reach it and it has no
// context menu.

#include <QPlainTextEdit>
#include <cstdint>
#include <span>

namespace corvan {

class CTextViewer : public QPlainTextEdit {
  Q_OBJECT
 public:
  static constexpr int kId = 8999;

  explicit CTextViewer(QWidget* parent = nullptr);
  // Shows the text of `bytes` (at most the first 8192); false when no
  // character is left, and the pane then shows nothing. `cutShort`: the
  // file goes on past `bytes`.
  bool ShowText(std::span<const std::uint8_t> bytes, bool cutShort = false);
  // The text the bytes give.
  static QString TextOf(std::span<const std::uint8_t> bytes, bool cutShort = false);

 protected:
  void keyPressEvent(QKeyEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;
};

}  // namespace corvan
