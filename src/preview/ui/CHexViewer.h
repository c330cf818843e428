#pragma once
// The hex pane: a found file 256 bytes a page, with the page's offset, its
// bytes in hexadecimal and as text, and a scroll bar over the pages. It
// holds no file data of its own: pages come from windows of the file that
// the preview area reads on its worker and hands in (SetWindow), so a page
// of a file of any size is shown without waiting for the rest.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QScrollBar;

namespace corvan {

class CHexViewer : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kId = 8993, kIdScrollBar = 8994;
  static constexpr std::uint64_t kPageBytes = 256;
  // Bytes read at once around a page: scrolling within stays local.
  static constexpr std::uint64_t kWindowBytes = 64 * 1024;

  explicit CHexViewer(QWidget* parent = nullptr);

  // Asks for the window of the file that starts at this offset.
  void SetWindowRequest(std::function<void(std::uint64_t start)> request) { m_request = std::move(request); }
  // Shows the first page of a file of `size` bytes.
  void ShowFile(const QString& name, std::uint64_t size);
  // The file's bytes from `start` (a multiple of kWindowBytes); fewer than a
  // window at the file's end, or where nothing could be read.
  void SetWindow(std::uint64_t start, std::vector<std::uint8_t> bytes);
  // Shows the page holding byte `offset` (0 at the start).
  void ShowPage(std::uint64_t offset);

  QString FileName() const { return m_name; }
  std::uint64_t FileSize() const { return m_size; }
  std::uint64_t LastPage() const { return m_lastPage; }
  std::uint64_t CurrentPage() const { return m_page; }
  // Whether the current page's bytes are in (else the page waits for them).
  bool PageReady() const { return m_pageReady; }
  const std::array<std::uint8_t, 256>& PageBytes() const { return m_pageBytes; }
  QScrollBar* ScrollBar() const { return m_pScroll; }

  // The text of one row of the current page: offset, 16 bytes, text column.
  QString OffsetText(int row) const;
  QString HexText(int row, int column) const;
  QString AnsiText(int row) const;

 signals:
  // The current page's bytes are in and drawn.
  void PageShown(quint64 page);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void OnScroll(int value);
  void FillPage();

  std::function<void(std::uint64_t)> m_request;
  QScrollBar* m_pScroll = nullptr;
  QString m_name;
  std::uint64_t m_size = 0;
  std::uint64_t m_lastPage = 0;
  std::uint64_t m_page = 0;
  bool m_pageReady = false;
  std::array<std::uint8_t, 256> m_pageBytes{};
  std::uint64_t m_windowStart = 0;
  std::vector<std::uint8_t> m_window;
  bool m_haveWindow = false;
  std::uint64_t m_pendingWindow = ~0ull;
};

}  // namespace corvan
