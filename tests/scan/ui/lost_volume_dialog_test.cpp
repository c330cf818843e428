// The lost-volume dialog and the options panel's Search Lost Volume over
// the corpus flat MBR disk with its MBR zeroed: the search lists the four
// volumes at the manifest's starts; Stop, Escape, Back, Minimize and the
// repeated search behave as the dialog promises.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/CORVANApp.h"
#include "app/SourceSetup.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/ConsoleTestSupport.h"
#include "core/StringTable.h"
#include "scan/ui/CLostVolume.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "sources/ui/CDataRecovery.h"
#include "support/HeadlessScan.h"
#include "support/TestSupport.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

// The manifest's layout of the MBR disk: NTFS, FAT32, exFAT, FAT16.
const std::uint64_t kStarts[] = {2048, 104448, 188416, 256000};
const char* kFileSystems[] = {"NTFS", "FAT32", "exFAT", "FAT"};

// Holds the reads that `held` picks (first sector, sector count) until
// opened, so the search can be caught while it runs.
class GateSource final : public SectorSource {
 public:
  using Pick = std::function<bool(std::uint64_t sector, std::uint64_t count)>;
  GateSource(std::shared_ptr<SectorSource> inner, Pick held) : inner_(std::move(inner)), held_(std::move(held)) {}
  ~GateSource() override { Open(); }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    if (held_(sector, bytes / 512)) {
      std::unique_lock lock(mutex_);
      waiting_ = true;
      cv_.wait(lock, [this] { return open_; });
    }
    return inner_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }
  bool Waiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::shared_ptr<SectorSource> inner_;
  Pick held_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool waiting_ = false, open_ = false;
};

std::vector<std::uint64_t> Starts(const CXColorListCtrl* list) {
  std::vector<std::uint64_t> starts;
  for (int r = 0; r < list->rowCount(); ++r) starts.push_back(list->item(r, 2)->text().toULongLong());
  return starts;
}

class LostVolumeDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    image = test::CopyFlatDiskWithoutMbr(dir.path());
    ASSERT_TRUE(test::SelectImageVolume(App(), image, 0));
    App().m_pPrompt = &prompt;
    App().m_bBusy = 0;
    App().m_bAbort = 0;
  }
  void TearDown() override {
    App().m_pPrompt = nullptr;
    if (gate) gate->Open();
  }
  // The disk held at the first sector of the second pass (16065): the
  // first pass has found the NTFS volume at 2048 by then.
  void HoldSearch() {
    gate = std::make_shared<GateSource>(App().m_pDisk, [](std::uint64_t sector, std::uint64_t) { return sector == 16065; });
    App().m_pDisk = gate;
  }
  test::TempDir dir;
  fs::path image;
  test::AnsweringPrompt prompt;
  std::shared_ptr<GateSource> gate;
};

TEST_F(LostVolumeDialog, ListsTheVolumesItFindsAndClosesItselfAtTheEnd) {
  const std::uint32_t before = App().m_nFoundVolumeCount;
  int returned = 0;
  CLostVolume dlg(0, CLostVolume::kModeFirst, false, nullptr, [&returned] { ++returned; });
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Searching volume - ") + ToQString(LoadString(102)));
  EXPECT_EQ(GetDlgItemAs<QPushButton>(&dlg, CLostVolume::kIdBack)->text(), QStringLiteral("Back to orignal list"));
  EXPECT_EQ(GetDlgItemAs<QLabel>(&dlg, CLostVolume::kIdHeading)->text(), QStringLiteral("Searched Volume"));
  dlg.show();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 30));
  EXPECT_EQ(dlg.result(), kIdOk);
  EXPECT_EQ(returned, 1);
  EXPECT_EQ(Starts(dlg.List()), std::vector<std::uint64_t>(std::begin(kStarts), std::end(kStarts)));
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(dlg.List()->item(r, 1)->text(), QString::fromLatin1(kFileSystems[r])) << r;
    EXPECT_EQ(dlg.List()->item(r, 0)->text(), QStringLiteral("Std Vol %1 ").arg(before + 1 + r)) << r;
  }
  EXPECT_EQ(App().m_nFoundVolumeCount, before + 4);
  EXPECT_EQ(App().m_bLostVolOnDisk, 1u);
  EXPECT_EQ(App().m_bBusy, 0u);
  // Each listed record is marked as shown by this dialog.
  int marked = 0;
  for (const auto& r : App().m_sourceList.m_sources)
    if (r->kind == kSourceLostVolume) marked += (r->flags & 0xF0) == 0x10;
  EXPECT_EQ(marked, 4);
}

TEST_F(LostVolumeDialog, StopAsksThenAbortsAndNothingIsAddedAfterwards) {
  HoldSearch();
  CLostVolume dlg(0, CLostVolume::kModeFirst, false);
  dlg.show();
  ASSERT_TRUE(test::WaitFor([this] { return gate->Waiting(); }, 30));
  dlg.ShowProgress();
  EXPECT_EQ(Starts(dlg.List()), std::vector<std::uint64_t>{2048});
  EXPECT_TRUE(GetDlgItemAs<QLabel>(&dlg, CLostVolume::kIdProgress)->text().startsWith(QStringLiteral("Reading sector ")));
  // Neither Escape nor Back closes it while it runs.
  test::SendKey(&dlg, Qt::Key_Escape);
  dlg.CloseAndReturn();
  dlg.close();
  test::Settle();
  EXPECT_TRUE(dlg.isVisible());
  // No: it goes on.
  prompt.answer = kIdNo;
  dlg.OnStop();
  EXPECT_TRUE(prompt.Asked(284));
  EXPECT_EQ(App().m_bAbort, 0u);
  EXPECT_TRUE(dlg.isVisible());
  // Yes: Stop hides and the search ends at its next position.
  prompt.answer = kIdYes;
  dlg.OnStop();
  EXPECT_EQ(App().m_bAbort, 1u);
  EXPECT_FALSE(GetDlgItem(&dlg, CLostVolume::kIdStop)->isVisible());
  gate->Open();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 30));
  EXPECT_EQ(Starts(dlg.List()), std::vector<std::uint64_t>{2048});
  EXPECT_NE(App().LogViewText().find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(App().m_bAbort, 0u);
  EXPECT_EQ(App().m_bBusy, 0u);
}

TEST_F(LostVolumeDialog, BackReturnsToThePageOnceNothingRuns) {
  // A mode that starts no search: Back is the way out.
  int returned = 0;
  CLostVolume dlg(0, 3, false, nullptr, [&returned] { ++returned; });
  dlg.show();
  test::Settle();
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(App().m_bBusy, 0u);
  test::SendKey(&dlg, Qt::Key_Escape);
  test::Settle();
  EXPECT_TRUE(dlg.isVisible());
  GetDlgItemAs<QPushButton>(&dlg, CLostVolume::kIdBack)->click();
  test::Settle();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), kIdOk);
  EXPECT_EQ(returned, 1);
}

TEST_F(LostVolumeDialog, MinimizeHidesTheMainWindowAndRestoringBringsItBack) {
  HoldSearch();
  QWidget main;
  main.resize(300, 200);
  main.show();
  CLostVolume dlg(0, CLostVolume::kModeFirst, false, &main);
  dlg.show();
  ASSERT_TRUE(test::WaitFor([this] { return gate->Waiting(); }, 30));
  dlg.OnMinimize();
  test::Settle();
  EXPECT_FALSE(main.isVisible());
  dlg.showNormal();
  test::Settle();
  EXPECT_TRUE(main.isVisible());
  gate->Open();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 30));
}

TEST_F(LostVolumeDialog, ARepeatedSearchListsEarlierFindsOnceAndAddsNothingNew) {
  {
    CLostVolume first(0, CLostVolume::kModeFirst, false);
    first.show();
    ASSERT_TRUE(test::WaitFor([&first] { return !first.isVisible(); }, 30));
  }
  const std::uint32_t count = App().m_nFoundVolumeCount;
  const std::size_t records = App().m_sourceList.m_sources.size();
  CLostVolume again(0, CLostVolume::kModeRepeat, false);
  again.show();
  ASSERT_TRUE(test::WaitFor([&again] { return !again.isVisible(); }, 30));
  EXPECT_EQ(Starts(again.List()), std::vector<std::uint64_t>(std::begin(kStarts), std::end(kStarts)));
  EXPECT_EQ(App().m_nFoundVolumeCount, count);
  EXPECT_EQ(App().m_sourceList.m_sources.size(), records);
}

TEST_F(LostVolumeDialog, TheDeepSearchListsEveryVolumeOfTheDisk) {
  CLostVolume dlg(0, CLostVolume::kModeFirst, true);
  dlg.show();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 60));
  // Every volume at its start; rows rebuilt from folders may come too.
  const std::vector<std::uint64_t> starts = Starts(dlg.List());
  for (std::uint64_t start : kStarts)
    EXPECT_NE(std::find(starts.begin(), starts.end(), start), starts.end()) << start;
  EXPECT_EQ(App().m_bBusy, 0u);
}

TEST_F(LostVolumeDialog, AGuessedSizeIsShownAsItEndsAtTheNextVolumeFound) {
  // The FAT32 volume's first 1292 sectors (boot, reserved, both FATs), the
  // exFAT volume's boot regions and the FAT16 volume's first 132 sectors
  // zeroed: both FAT volumes are guessed from their folders, the first one
  // found while nothing after it is listed yet.
  test::TempDir lost;
  const fs::path damaged =
      test::CopyFlatDiskWithoutMbr(lost.path(), {{104448, 1292}, {188416, 24}, {256000, 132}});
  ASSERT_TRUE(test::SelectImageVolume(App(), damaged, 0));
  CLostVolume dlg(0, CLostVolume::kModeFirst, true);
  dlg.show();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 60));
  std::vector<std::pair<std::uint64_t, QString>> rows;
  for (int r = 0; r < dlg.List()->rowCount(); ++r)
    rows.emplace_back(dlg.List()->item(r, 2)->text().toULongLong(), dlg.List()->item(r, 3)->text());
  std::sort(rows.begin(), rows.end());
  // The FAT32 guess starts in front of that volume's data area (104448 +
  // 1292) and ends where the FAT16 guess after it begins.
  const auto fat32 = std::find_if(rows.begin(), rows.end(), [](const auto& row) {
    return row.first >= 104448 && row.first < 104448 + 1292;
  });
  ASSERT_NE(fat32, rows.end());
  ASSERT_NE(fat32 + 1, rows.end());
  EXPECT_EQ(fat32->second, ToQString(FormatSizeText((fat32 + 1)->first - fat32->first)));
}

TEST_F(LostVolumeDialog, TheDeepSearchShowsItsProgressWhileItChecksTheFatVolumesItFound) {
  // The FAT32 volume's boot sector and its backup zeroed as well: the deep
  // search rebuilds it from its folders, reading back from its data area
  // for the FAT copies (fsstat: 32 reserved sectors, two FATs of 630).
  constexpr std::uint64_t kFat32 = 104448, kDataArea = kFat32 + 32 + 2 * 630;
  test::TempDir lost;
  const fs::path damaged = test::CopyFlatDiskWithoutMbr(lost.path(), {{kFat32, 1}, {kFat32 + 6, 1}});
  ASSERT_TRUE(test::SelectImageVolume(App(), damaged, 0));
  // Held at the first read of that check, the one that ends at the data area.
  gate = std::make_shared<GateSource>(
      App().m_pDisk, [](std::uint64_t sector, std::uint64_t count) { return sector + count == kDataArea; });
  App().m_pDisk = gate;
  CLostVolume dlg(0, CLostVolume::kModeFirst, true);
  dlg.show();
  ASSERT_TRUE(test::WaitFor([this] { return gate->Waiting(); }, 60));
  dlg.ShowProgress();
  auto* label = GetDlgItemAs<QLabel>(&dlg, CLostVolume::kIdProgress);
  EXPECT_TRUE(label->isVisible());
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Verifying volumes \\d+ $")).match(label->text()).hasMatch())
      << label->text().toStdString();
  EXPECT_TRUE(GetDlgItem(&dlg, CLostVolume::kIdBar)->isVisible());
  // Stop went with the sweep of the disk.
  EXPECT_FALSE(GetDlgItem(&dlg, CLostVolume::kIdStop)->isVisible());
  gate->Open();
  ASSERT_TRUE(test::WaitFor([&dlg] { return !dlg.isVisible(); }, 60));
  EXPECT_FALSE(GetDlgItem(&dlg, CLostVolume::kIdBar)->isVisibleTo(&dlg));
  EXPECT_FALSE(label->isVisibleTo(&dlg));
  const std::vector<std::uint64_t> starts = Starts(dlg.List());
  EXPECT_NE(std::find(starts.begin(), starts.end(), kFat32), starts.end());
}

// ---- the options panel's command ----

class SearchLostVolumeCommand : public LostVolumeDialog {
 protected:
  void SetUp() override {
    SetProgramEndHandler([] {});
    ShowStartWindow();
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
    LostVolumeDialog::SetUp();
    page = dlg->findChild<CDataRecovery*>();
    ASSERT_NE(page, nullptr);
    page->RefreshLists();
    page->SetListLayout(1);
  }
  void TearDown() override {
    LostVolumeDialog::TearDown();
    if (QWidget* w = CurrentMainWindow()) w->close();
    test::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetProgramEndHandler(nullptr);
  }
  CSliderOptionDlg* SelectDisk() {
    page->OnClickDiskList(0);
    return qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
  }
  std::vector<QString> VolumeNames() const {
    std::vector<QString> names;
    for (int r = 0; r < page->VolumeList()->rowCount(); ++r) names.push_back(page->VolumeList()->item(r, 0)->text());
    return names;
  }
  CORVANDlg* dlg = nullptr;
  CDataRecovery* page = nullptr;
};

TEST_F(SearchLostVolumeCommand, FindsVolumesIntoThePageAndAsksBeforeSearchingAgain) {
  // The zeroed MBR lists no volume.
  EXPECT_EQ(page->VolumeList()->rowCount(), 0);
  CSliderOptionDlg* panel = SelectDisk();
  ASSERT_NE(panel, nullptr);
  QWidget* button = GetDlgItem(panel, CSliderOptionDlg::kIdLostVolume);
  EXPECT_TRUE(button->isVisible());
  EXPECT_TRUE(button->isEnabled());
  const std::uint32_t before = App().m_nFoundVolumeCount;
  panel->OnSearchLostVolume();
  EXPECT_EQ(App().m_bQuickVolumeSearch, 1u);
  EXPECT_EQ(App().m_nRecoveryMode, 507u);
  ASSERT_TRUE(test::WaitFor([this, before] {
    return App().m_nFoundVolumeCount == before + 4 && !QApplication::activeModalWidget() && page->isVisible() &&
           page->VolumeList()->rowCount() == 4;
  }, 30));
  EXPECT_FALSE(prompt.Asked(419));
  const std::vector<QString> names = VolumeNames();
  for (int r = 0; r < 4; ++r) EXPECT_EQ(names[r], QStringLiteral("Std Vol %1 ").arg(before + 1 + r)) << r;
  EXPECT_EQ(page->VolumeList()->item(0, 2)->text(), QStringLiteral("FIXED_LOST"));
  EXPECT_EQ(page->VolumeList()->item(1, 1)->text(), QStringLiteral("Disk_0_Sec_104448"));
  EXPECT_EQ(page->ListLayout(), 0);

  // The second time the question comes first; No leaves everything.
  page->SetListLayout(1);
  panel = SelectDisk();
  ASSERT_NE(panel, nullptr);
  prompt.answer = kIdNo;
  panel->OnSearchLostVolume();
  test::Settle();
  EXPECT_TRUE(prompt.Asked(419));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(dlg->IsOptionsPanelOpen());

  // Yes: the search runs again and adds nothing new.
  prompt.answer = kIdYes;
  panel->OnSearchLostVolume();
  ASSERT_TRUE(test::WaitFor([this] {
    return !QApplication::activeModalWidget() && page->isVisible() && !dlg->IsOptionsPanelOpen();
  }, 30));
  test::Settle();
  EXPECT_EQ(App().m_nFoundVolumeCount, before + 4);
  EXPECT_EQ(VolumeNames(), names);
}

TEST_F(SearchLostVolumeCommand, DeepIsTakenFromTheRadio) {
  CSliderOptionDlg* panel = SelectDisk();
  ASSERT_NE(panel, nullptr);
  GetDlgItemAs<QRadioButton>(panel, CSliderOptionDlg::kIdRadioOther)->setChecked(true);
  const std::uint32_t before = App().m_nFoundVolumeCount;
  panel->OnSearchLostVolume();
  EXPECT_EQ(App().m_bQuickVolumeSearch, 0u);
  ASSERT_TRUE(test::WaitFor([this] { return !QApplication::activeModalWidget() && page->isVisible(); }, 60));
  // The deep search ran: it found the disk's volumes.
  EXPECT_GE(App().m_nFoundVolumeCount, before + 4);
}

}  // namespace
}  // namespace corvan
