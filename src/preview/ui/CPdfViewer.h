#pragma once
// The PDF pane: a PDF held in memory (a found PDF file, or the rendering of
// an Office document) shown page after page across the pane's width.

#include <QByteArray>
#include <QWidget>

class QBuffer;
class QPdfDocument;
class QPdfView;

namespace corvan {

class CPdfViewer : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kId = 9000;

  explicit CPdfViewer(QWidget* parent = nullptr);
  ~CPdfViewer() override;

  // Starts loading `pdf`; Loaded() follows.
  void LoadPdf(QByteArray pdf);
  bool IsLoaded() const { return m_loaded; }
  int PageCount() const;
  QPdfDocument* Document() const { return m_pDocument; }

 signals:
  // The document is ready (true) or cannot be read (false).
  void Loaded(bool ok);

 private:
  void OnStatus();

  QPdfDocument* m_pDocument = nullptr;
  QPdfView* m_pView = nullptr;
  QBuffer* m_pBuffer = nullptr;
  QByteArray m_bytes;
  bool m_loaded = false;
  bool m_reported = false;
};

}  // namespace corvan
