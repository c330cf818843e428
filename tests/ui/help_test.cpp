// The program's help: every context a window links to has a page whose
// links lead somewhere, and help asked from a modal dialog can be used
// while the dialog is still open.

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/ui/CORVANDlg.h"
#include "app/ui/CUpdateWizard.h"
#include "console/FoundItemStore.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/CScanProcess.h"
#include "save/ui/CAddFileFilter.h"
#include "save/ui/CSaveProcess.h"
#include "save/ui/CSaveRecovery.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "scan/ui/CSpecifiedRegion.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

// A click through the window system, as the user's: a window that a modal
// dialog blocks does not get it.
void ClickAsTheUser(QWidget* widget, QPoint at) {
  QWindow* window = widget->window()->windowHandle();
  ASSERT_NE(window, nullptr);
  QTest::mouseClick(window, Qt::LeftButton, {}, widget->mapTo(widget->window(), at));
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(HelpPages, EveryContextAWindowLinksToHasAPageAndItsLinksLeadSomewhere) {
  std::set<int> contexts = {CORVANDlg::kHelpContext,     CRecoveryConsole::kHelpContext, CScanProcess::kHelpContext,
                            CSaveProcess::kHelpContext,  CSaveRecovery::kHelpContext,    CAddFileFilter::kHelpContext,
                            CSpecifiedRegion::kHelpContext, CUpdateWizard::kHelpContext};
  // The options panel's Learn More links, for every set-up it has.
  for (int link : {CSliderOptionDlg::kIdLearnQuick, CSliderOptionDlg::kIdLearnDeleted,
                   CSliderOptionDlg::kIdLearnAdvance, CSliderOptionDlg::kIdLearnRaw})
    for (std::uint8_t kind : {0, 7})
      for (std::uint8_t selection : {0, 1, 2})
        if (const int context = LearnMoreHelpContext(link, kind, selection)) contexts.insert(context);
  EXPECT_GE(contexts.size(), 13u);

  std::set<std::filesystem::path> pages = {HelpFolder() / "index.html"};
  for (int context : contexts) {
    const auto page = HelpPagePath(context);
    EXPECT_TRUE(std::filesystem::is_regular_file(page)) << "no page for help context " << context;
    pages.insert(page);
  }
  const QRegularExpression href(QStringLiteral("href=\"([^\"#:]+)\""));
  for (const auto& page : pages) {
    const QString text = QString::fromStdString(ReadText(page));
    EXPECT_TRUE(text.contains(QStringLiteral("<title>")) && text.contains(QStringLiteral("<h1>"))) << page;
    for (auto m = href.globalMatch(text); m.hasNext();) {
      const std::string target = m.next().captured(1).toStdString();
      EXPECT_TRUE(std::filesystem::is_regular_file(HelpFolder() / target)) << page << " links to " << target;
    }
  }
}

TEST(HelpFromADialog, TheHelpWindowCanBeScrolledAndClosedWhileTheDialogIsOpen) {
  FoundItemStore store;
  store.OnInsertRootItem(0);
  CSaveRecovery destination(nullptr, &store, 0);
  bool helpShown = false, scrolled = false, closedByItsButton = false, dialogStillOpen = false;
  test::WhenModal([&](QDialog* dlg) {
    GetDlgItemAs<QPushButton>(dlg, CSaveRecovery::kIdHelp)->click();
    test::Settle();
    HelpViewer* help = HelpViewer::Existing();
    helpShown = help && help->isVisible() && help->Context() == CSaveRecovery::kHelpContext;
    if (helpShown) {
      help->resize(260, 160);  // small enough that the page scrolls
      test::Settle();
      QScrollBar* bar = help->Browser()->verticalScrollBar();
      const int before = bar->value();
      ClickAsTheUser(bar, QPoint(bar->width() / 2, bar->height() - 20));
      test::Settle();
      scrolled = bar->value() > before;
      QWidget* close = GetDlgItem(help, kIdCancel);
      ClickAsTheUser(close, close->rect().center());
      test::Settle();
      closedByItsButton = !help->isVisible();
    }
    dialogStillOpen = dlg->isVisible();
    dlg->reject();
  });
  destination.exec();
  EXPECT_TRUE(helpShown);
  EXPECT_TRUE(scrolled);
  EXPECT_TRUE(closedByItsButton);
  EXPECT_TRUE(dialogStillOpen);
  if (HelpViewer* help = HelpViewer::Existing()) help->close();
  test::Settle();
}

}  // namespace
}  // namespace corvan
