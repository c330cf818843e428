#pragma once
// The PDF pane: a PDF file in the preview's private folder (the copy of a
// found PDF, or the rendering of an Office document) shown page after page
// across the pane's width. Qt PDF reads the file as it needs it, so even a
// large document is not held in memory whole.

#include <QString>
#include <QWidget>

class QPdfDocument;
class QPdfView;

namespace corvan {

class CPdfViewer : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kId = 9000;

  explicit CPdfViewer(QWidget* parent = nullptr);
  ~CPdfViewer() override;

  // Starts loading the file `pdf`; Loaded() follows.
  void LoadPdf(const QString& pdf);
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
  bool m_loaded = false;
  bool m_reported = false;
};

}  // namespace corvan
