#include <gtest/gtest.h>

#include <QLabel>
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
