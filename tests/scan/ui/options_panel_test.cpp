#include <gtest/gtest.h>

#include <QLabel>
#include <algorithm>
#include <vector>
#include <QLineEdit>
#include <QRadioButton>

#include "app/CORVANApp.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/ConsoleTestSupport.h"
#include "core/RecoveryMode.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "scan/ui/CSpecifiedRegion.h"
#include "app/SourceSetup.h"
#include "support/TestSupport.h"
#include "ui/CDoubleSlider.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

class OptionsPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    App().m_bResumeMode = 0;
    SetProgramEndHandler([] {});
    ShowStartWindow();
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(test::SelectImageVolume(App(), test::CorpusDir() / "disks" / "mbr.vmdk", 0));
  }
  void TearDown() override {
    if (QWidget* w = CurrentMainWindow()) w->close();
    test::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetProgramEndHandler(nullptr);
  }
  CSliderOptionDlg* Select(std::uint8_t fsKind) {
    const auto index = test::VolumeOfKind(App(), fsKind);
    EXPECT_TRUE(index);
    SelectSource(App(), *index);
    dlg->ShowOptionsPanel();
    auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
    panel->UpdateForSelectedMedia(0, 0, 0);
    return panel;
  }
  QRadioButton* Radio(CSliderOptionDlg* p, int id) { return GetDlgItemAs<QRadioButton>(p, id); }
  CORVANDlg* dlg = nullptr;
};

TEST_F(OptionsPanel, RadiosFollowTheFileSystemAndAdvanceStoresTheChoice) {
  const struct {
    std::uint8_t kind;
    const char* other;
    bool fatChecked;
    std::uint8_t advance;
  } cases[] = {{kFsFat32, "NTFS", true, kAdvanceFat}, {kFsNtfs, "NTFS", false, kAdvanceNtfs},
               {kFsExFat, "exFAT", false, kAdvanceExFat}};
  for (const auto& c : cases) {
    CSliderOptionDlg* panel = Select(c.kind);
    EXPECT_EQ(Radio(panel, CSliderOptionDlg::kIdRadioFat)->text(), QStringLiteral("FAT"));
    EXPECT_EQ(Radio(panel, CSliderOptionDlg::kIdRadioOther)->text(), QString::fromLatin1(c.other));
    EXPECT_EQ(Radio(panel, CSliderOptionDlg::kIdRadioFat)->isChecked(), c.fatChecked);
    for (int id : {CSliderOptionDlg::kIdQuick, CSliderOptionDlg::kIdDeleted, CSliderOptionDlg::kIdAdvance,
                   CSliderOptionDlg::kIdRaw})
      EXPECT_TRUE(GetDlgItem(panel, id)->isVisible()) << id;
    EXPECT_FALSE(GetDlgItem(panel, CSliderOptionDlg::kIdLostVolume)->isVisible());
    EXPECT_EQ(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdHeading)->text(), QStringLiteral("Recovery From Drive"));
    App().m_nAdvanceFsChoice = 0;
    panel->OnAdvanceRecovery();
    EXPECT_EQ(App().m_nAdvanceFsChoice, c.advance);
    // The results window comes in front and runs Advance Recovery.
    ASSERT_TRUE(test::WaitFor([] { return qobject_cast<CRecoveryConsole*>(CurrentMainWindow()) != nullptr; }, 10));
    auto* console = qobject_cast<CRecoveryConsole*>(CurrentMainWindow());
    EXPECT_EQ(App().m_nRecoveryMode, kModeAdvance);
    ASSERT_TRUE(test::WaitFor([console] { return console->ScanFinished(); }));
    ShowStartWindow();  // as Back does
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
  }
}

TEST_F(OptionsPanel, TheDiskSelectionOffersRawAndTheLostVolumeSearch) {
  SelectSource(App(), 0);
  dlg->ShowOptionsPanel();
  auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
  panel->UpdateForSelectedMedia(0, 1, 0);
  EXPECT_EQ(Radio(panel, CSliderOptionDlg::kIdRadioFat)->text(), QStringLiteral("Quick"));
  EXPECT_EQ(Radio(panel, CSliderOptionDlg::kIdRadioOther)->text(), QStringLiteral("Deep"));
  EXPECT_TRUE(Radio(panel, CSliderOptionDlg::kIdRadioFat)->isChecked());
  EXPECT_EQ(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdHeading)->text(), QStringLiteral("Search Lost Volume"));
  EXPECT_FALSE(GetDlgItem(panel, CSliderOptionDlg::kIdQuick)->isVisible());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdRaw)->isVisible());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdSelectRange)->isVisible());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdRaw)->isEnabled());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdLostVolume)->isEnabled());
  EXPECT_EQ(panel->HelpContextOf(CSliderOptionDlg::kIdLearnAdvance), 136);
  panel->UpdateForSelectedMedia(0, 0, 0);
  EXPECT_EQ(panel->HelpContextOf(CSliderOptionDlg::kIdLearnAdvance), 189);
  EXPECT_EQ(panel->HelpContextOf(CSliderOptionDlg::kIdLearnDeleted), 157);
  // Scan Now does nothing outside the resume page.
  panel->OnScanNow();
  test::Settle();
  EXPECT_TRUE(dlg->IsOptionsPanelOpen());
}

// Every set-up of the panel lays its buttons out alike: each shown mode
// button is the 200 x 32 strip at x 15 that the volume set-up shows, each
// shown caption lies right under a shown button, and each shown Learn More
// link beside a shown caption.
TEST_F(OptionsPanel, EverySetUpLaysOutItsButtonsAndCaptionsAlike) {
  const int buttons[] = {CSliderOptionDlg::kIdQuick, CSliderOptionDlg::kIdDeleted,    CSliderOptionDlg::kIdAdvance,
                         CSliderOptionDlg::kIdRaw,   CSliderOptionDlg::kIdLostVolume, CSliderOptionDlg::kIdScanNow};
  const int captions[] = {CSliderOptionDlg::kIdLabelQuick, CSliderOptionDlg::kIdLabelDeleted,
                          CSliderOptionDlg::kIdLabelAdvance, CSliderOptionDlg::kIdLabelRaw};
  const int links[] = {CSliderOptionDlg::kIdLearnQuick, CSliderOptionDlg::kIdLearnDeleted,
                       CSliderOptionDlg::kIdLearnAdvance, CSliderOptionDlg::kIdLearnRaw};
  CSliderOptionDlg* panel = Select(kFsNtfs);
  const QRect quick = GetDlgItem(panel, CSliderOptionDlg::kIdQuick)->geometry();
  EXPECT_EQ(quick.size(), QSize(200, 32));
  const QString deletedCaption = GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdLabelDeleted)->text();

  const struct {
    const char* name;
    std::uint8_t mediaKind, selection, page;
  } setUps[] = {{"volume", 0, 0, 0}, {"disk", 0, 1, 0}, {"saved scan", 7, 2, 1}, {"volume again", 0, 0, 0}};
  for (const auto& setUp : setUps) {
    SCOPED_TRACE(setUp.name);
    panel->UpdateForSelectedMedia(setUp.mediaKind, setUp.selection, setUp.page);
    test::Settle();
    std::vector<QRect> shownButtons;
    for (int id : buttons) {
      const QWidget* b = GetDlgItem(panel, id);
      if (b->isHidden()) continue;
      EXPECT_EQ(b->size(), quick.size()) << id;
      EXPECT_EQ(b->x(), quick.x()) << id;
      shownButtons.push_back(b->geometry());
    }
    EXPECT_FALSE(shownButtons.empty());
    std::vector<QRect> shownCaptions;
    for (int id : captions) {
      const auto* caption = GetDlgItemAs<QLabel>(panel, id);
      if (caption->isHidden()) continue;
      const QRect r = caption->geometry();
      const bool underAButton = std::any_of(shownButtons.begin(), shownButtons.end(), [&r](const QRect& b) {
        return b.x() == r.x() && r.top() > b.bottom() && r.top() - b.bottom() <= 4;
      });
      EXPECT_TRUE(underAButton) << caption->text().toStdString() << " at " << r.y();
      // Its whole text fits, and it never overlaps a button.
      EXPECT_LE(caption->heightForWidth(r.width()), r.height()) << caption->text().toStdString();
      for (const QRect& b : shownButtons) EXPECT_FALSE(b.intersects(r)) << caption->text().toStdString();
      shownCaptions.push_back(r);
    }
    for (int id : links) {
      const QWidget* link = GetDlgItem(panel, id);
      if (link->isHidden()) continue;
      const QRect r = link->geometry();
      const bool besideACaption = std::any_of(shownCaptions.begin(), shownCaptions.end(), [&r](const QRect& c) {
        return r.left() > c.right() && r.center().y() >= c.top() && r.center().y() <= c.bottom();
      });
      EXPECT_TRUE(besideACaption) << id << " at " << r.y();
    }
  }
  // The saved scan's Scan Now stands where Quick Recovery stands, with a
  // caption of its own rather than Deleted Recovery's.
  panel->UpdateForSelectedMedia(7, 2, 1);
  EXPECT_EQ(GetDlgItem(panel, CSliderOptionDlg::kIdScanNow)->geometry(), quick);
  EXPECT_NE(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdLabelDeleted)->text(), deletedCaption);
  EXPECT_EQ(panel->HelpContextOf(CSliderOptionDlg::kIdLearnDeleted), 183);
  // Back on a volume, Deleted Recovery has its own caption again.
  panel->UpdateForSelectedMedia(0, 0, 0);
  EXPECT_EQ(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdLabelDeleted)->text(), deletedCaption);
}

// ---- the region dialog ----

TEST(RegionText, CheckedRegionKeepsInsideTheMedia) {
  EXPECT_EQ(CheckedRegion("100", "900", 0, 1000).first, 100);
  EXPECT_EQ(CheckedRegion("100", "900", 0, 1000).last, 900);
  // Text that is no number stands for the media's bound, not 0.
  EXPECT_EQ(CheckedRegion("abc", "", 50, 1000).first, 50);
  EXPECT_EQ(CheckedRegion("abc", "", 50, 1000).last, 1000);
  // Below the first sector, past the last, start after end.
  EXPECT_EQ(CheckedRegion("49", "2000", 50, 1000).first, 50);
  EXPECT_EQ(CheckedRegion("49", "2000", 50, 1000).last, 1000);
  EXPECT_EQ(CheckedRegion("800", "700", 50, 1000).first, 50);
  EXPECT_EQ(CheckedRegion("800", "700", 50, 1000).last, 700);
  EXPECT_FALSE(ParseSectorText("12x"));
  EXPECT_EQ(ParseSectorText(" 42 "), 42);
}

class RegionDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    App().m_scanBounds.m_nMediaFirstSector = 0;
    App().m_scanBounds.m_nMediaLastSector = 81920;
    App().m_scanBounds.m_nRegionFirstSector = 0;
    App().m_scanBounds.m_nRegionLastSector = 81920;
  }
  void Type(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->setText(QString());
    for (QChar c : text) test::SendKey(box, Qt::Key_0 + (c.unicode() - '0'), QString(c));
  }
};

TEST_F(RegionDialog, OpensOnTheMediaAndTheSliderWritesTheBoxes) {
  CSpecifiedRegion dlg;
  EXPECT_TRUE(CSpecifiedRegion::IsOpen());
  EXPECT_EQ(dlg.StartBox()->text(), QStringLiteral("0"));
  EXPECT_EQ(dlg.EndBox()->text(), QStringLiteral("81920"));
  EXPECT_EQ(dlg.Slider()->Low(), 0);
  EXPECT_EQ(dlg.Slider()->High(), 81920);
  // A drag moves a thumb and tells the dialog.
  dlg.Slider()->SetPositions(100, 5000);
  dlg.OnSliderChanged(0);
  EXPECT_EQ(dlg.StartBox()->text(), QStringLiteral("99"));
  EXPECT_EQ(dlg.EndBox()->text(), QStringLiteral("5000"));
  dlg.Slider()->SetPositions(0, 5000);
  dlg.OnSliderChanged(0);
  EXPECT_EQ(dlg.StartBox()->text(), QStringLiteral("0"));
  dlg.OnCancel();
  EXPECT_FALSE(CSpecifiedRegion::IsOpen());
  EXPECT_EQ(App().m_scanBounds.m_nRegionLastSector, 81920u);
}

TEST_F(RegionDialog, TypedValuesAreReplacedAndOkStoresACheckedRegion) {
  CSpecifiedRegion dlg;
  dlg.show();
  Type(dlg.EndBox(), QStringLiteral("99999"));  // above the last sector
  EXPECT_EQ(dlg.EndBox()->text(), QStringLiteral("81920"));
  Type(dlg.StartBox(), QStringLiteral("5000"));
  Type(dlg.EndBox(), QStringLiteral("1"));  // not above the start
  EXPECT_EQ(dlg.EndBox()->text(), QStringLiteral("81920"));
  Type(dlg.StartBox(), QStringLiteral("0"));
  Type(dlg.EndBox(), QStringLiteral("40000"));
  EXPECT_EQ(dlg.EndBox()->text(), QStringLiteral("40000"));
  Type(dlg.StartBox(), QStringLiteral("2048"));
  EXPECT_EQ(dlg.StartBox()->text(), QStringLiteral("2048"));
  EXPECT_EQ(dlg.Slider()->Low(), 2048);
  EXPECT_EQ(dlg.Slider()->High(), 40000);
  dlg.OnOK();
  EXPECT_EQ(dlg.result(), kIdOk);
  EXPECT_EQ(App().m_scanBounds.m_nRegionFirstSector, 2048u);
  EXPECT_EQ(App().m_scanBounds.m_nRegionLastSector, 40000u);
  EXPECT_FALSE(CSpecifiedRegion::IsOpen());

  // Text that is no number is not stored as sector 0.
  CSpecifiedRegion again;
  again.StartBox()->setText(QStringLiteral("12a"));
  again.EndBox()->setText(QStringLiteral("-5"));
  again.OnOK();
  EXPECT_EQ(App().m_scanBounds.m_nRegionFirstSector, 0u);
  EXPECT_EQ(App().m_scanBounds.m_nRegionLastSector, 0u);
}

}  // namespace
}  // namespace corvan
