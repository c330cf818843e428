#pragma once
// The program's help: one HTML page per context id in the install folder's
// help/ folder (help/<id>.html, help/index.html for the contents), shown in
// one help window inside the program.

#include <QWidget>
#include <filesystem>

class QTextBrowser;
class QPushButton;

namespace corvan {

// The folder of the help pages: the one the program set at start, else the
// install folder's.
void SetHelpFolder(std::filesystem::path folder);
std::filesystem::path HelpFolder();
std::filesystem::path HelpPagePath(int contextId);

class HelpViewer : public QWidget {
  Q_OBJECT
 public:
  // The one help window, made on first use.
  static HelpViewer* Instance();
  // The help window when it exists, else null.
  static HelpViewer* Existing();

  // Shows the page of `contextId` (or says that it is missing).
  void ShowContext(int contextId);
  int Context() const { return m_nContext; }
  QTextBrowser* Browser() const { return m_browser; }

 protected:
  // Opens over the dialog it was asked from (or in the middle of the
  // screen), wholly on the screen.
  void showEvent(QShowEvent* e) override;

 private:
  HelpViewer();
  QTextBrowser* m_browser;
  int m_nContext = 0;
};

// Opens the help window at the page of `contextId`, in front.
void ShowHelpContext(int contextId);

}  // namespace corvan
