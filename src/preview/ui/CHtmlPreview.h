#pragma once
// The HTML pane: a found web page (or a saved web page archive) shown by
// Qt's rich-text browser. The page is untrusted: nothing in it runs, links
// do not open, and it is never given anything but the resources its own
// archive holds: no file of this computer, nothing from the network.

#include <QTextBrowser>
#include <memory>

namespace corvan {

struct MhtDocument;

class CHtmlPreview : public QTextBrowser {
  Q_OBJECT
 public:
  static constexpr int kId = 8992;

  explicit CHtmlPreview(QWidget* parent = nullptr);
  ~CHtmlPreview() override;

  // A page on its own.
  void ShowPage(const QString& html);
  // The page of an archive; its images and style sheets come from it.
  void ShowArchive(const QString& html, std::shared_ptr<const MhtDocument> archive);
  // Resources the page asked for, and how many were given.
  int ResourcesAsked() const { return m_asked; }
  int ResourcesGiven() const { return m_given; }

  QVariant loadResource(int type, const QUrl& name) override;

 protected:
  void keyPressEvent(QKeyEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;

 private:
  std::shared_ptr<const MhtDocument> m_archive;
  int m_asked = 0;
  int m_given = 0;
};

}  // namespace corvan
