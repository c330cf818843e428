// The preview area and its panes on found files of the corpus volumes and of
// the disk the tests lay every previewed kind on: the hex pane's pages are
// the file's bytes, pictures decode to their own size, PDFs show their page
// count, sound and video load, Office documents render their first page,
// RTF, HTML, MHT and text show their text; what a pane cannot show ends in
// the hex pane, a newer selection ends an older one, and nothing is left in
// the temporary folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QImage>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPdfDocument>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <cmath>
#include <fstream>
#include <map>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "preview/OfficeRenderer.h"
#include "preview/ui/CHexViewer.h"
#include "preview/ui/CHtmlPreview.h"
#include "preview/ui/CImagePreview.h"
#include "preview/ui/CMediaViewer.h"
#include "preview/ui/CPdfViewer.h"
#include "preview/ui/CPreviewArea.h"
#include "preview/ui/CRTFViewer.h"
#include "preview/ui/CReportList.h"
#include "preview/ui/CTablePane.h"
#include "preview/ui/CTextViewer.h"
#include "save/SaveTestSupport.h"
#include "support/PreviewSamples.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

ScanEngine* EngineOf(CORVANApp& app) {
  return app.m_pScanSession->Engine();
}

std::map<std::string, FoundItemHandle> ByPath(const FoundItemStore& store) {
  std::map<std::string, FoundItemHandle> out;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) out.emplace(Utf16ToUtf8(store.PathOf(h)), h);
  return out;
}

// Every page of the hex pane, as it shows them, cut to the file's size; the
// bytes past the end of the last page must be zeros.
std::string HexPages(CHexViewer& hex, std::uint64_t size) {
  std::string bytes;
  for (std::uint64_t page = 0; page <= hex.LastPage(); ++page) {
    hex.ShowPage(page * CHexViewer::kPageBytes);
    if (!hex.PageReady() && !WaitFor([&] { return hex.PageReady(); }, 20000)) {
      ADD_FAILURE() << "page " << page << " did not come";
      return {};
    }
    EXPECT_EQ(hex.CurrentPage(), page);
    const auto& b = hex.PageBytes();
    bytes.append(reinterpret_cast<const char*>(b.data()), b.size());
  }
  for (std::size_t i = size; i < bytes.size(); ++i)
    if (bytes[i] != 0) {
      ADD_FAILURE() << "byte " << i << " past the end is not zero";
      break;
    }
  bytes.resize(static_cast<std::size_t>(size));
  return bytes;
}

std::string Md5(const std::string& s) {
  return test::Md5Hex({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

// What a program prints for `file`, one line each, "" when it could not run.
std::vector<std::string> ToolLines(const std::string& command, const fs::path& file) {
  std::vector<std::string> lines;
  FILE* out = ::popen((command + " '" + file.string() + "'").c_str(), "r");
  if (!out) return lines;
  std::string line;
  for (int c; (c = std::fgetc(out)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  ::pclose(out);
  return lines;
}

// Python's zipfile: name, size and compressed size of each member, in order.
constexpr const char* kZipMembers =
    "python3 -c \"import sys, zipfile\n"
    "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename, i.file_size, i.compress_size, sep='\\t')\"";
// The text pane's share of a text file as Python decodes it: the first 8 KiB
// as UTF-8 (a sequence cut at the end left out), CR LF as one line end.
constexpr const char* kTextStart =
    "python3 -c \"import sys\n"
    "t = open(sys.argv[1], 'rb').read()[:8192].decode('utf-8', 'ignore')\n"
    "sys.stdout.buffer.write((t.replace('\\r\\n', '\\n') + '\\n').encode('utf-8'))\"";
// Python's csv module: each row's cells joined by tabs.
constexpr const char* kCsvRows =
    "python3 -c \"import csv, sys\n"
    "for r in csv.reader(open(sys.argv[1], newline='', encoding='latin-1')): print('\\t'.join(r))\"";

std::vector<std::string> RowOf(const CReportList& list, int row) {
  std::vector<std::string> cells;
  for (int c = 0; c < list.Model().columnCount(); ++c) cells.push_back(list.Cell(row, c).toStdString());
  while (!cells.empty() && cells.back().empty()) cells.pop_back();
  return cells;
}

class PreviewPanes : public ::testing::Test {
 protected:
  void SetUp() override {
    App().m_pPrompt = &prompt;
    area = std::make_unique<CPreviewArea>();
    area->resize(628, 250);
    area->show();
  }
  void TearDown() override {
    area.reset();
    App().m_pPrompt = nullptr;
  }
  // Shows `item` and waits until its pane has it.
  PreviewPane Show(ScanEngine* engine, const FoundItemInfo& item, const std::string& name, bool hex = false,
                   int ms = 120000) {
    const PreviewPane chosen = area->ShowItem(engine, item, Utf8ToUtf16(name), hex);
    if (chosen == PreviewPane::Placeholders) return chosen;
    EXPECT_TRUE(WaitFor([&] { return area->Ready(); }, ms)) << name;
    return area->Shown();
  }

  test::AnsweringPrompt prompt;
  std::unique_ptr<CPreviewArea> area;
};

// Page by page, the hex pane shows each live file of a corpus volume as the
// truth has it, and each deleted one the reference tool recovers whole.
TEST_F(PreviewPanes, HexPagesAreTheTruthsBytesOnEveryCorpusVolume) {
  for (const auto& [name, index] : {std::pair{"ntfs", 1}, {"fat32", 2}, {"exfat", 3}, {"fat16", 4}}) {
    for (std::uint32_t mode : {kModeQuick, kModeDeleted}) {
      test::ScannedVolume volume;
      ASSERT_EQ(volume.Scan("disks/mbr.vmdk", static_cast<std::uint16_t>(index), mode), "");
      const auto paths = ByPath(volume.store);
      std::map<std::string, std::pair<std::uint64_t, std::string>> expected;  // path -> size, md5
      std::map<std::string, std::uint64_t> sizes;
      for (const auto& row : test::ReadTruth(test::CorpusDir() / (std::string(name) + ".truth.tsv"))) {
        sizes[row.path] = row.size;
        if (mode == kModeQuick && row.type == "file" && row.state == "live") expected[row.path] = {row.size, row.md5};
      }
      if (mode == kModeDeleted)
        for (const auto& row : test::ReadReference(test::SaveDataDir() / (std::string(name) + ".tsk-deleted.tsv")))
          if (paths.count(row[0])) expected[row[0]] = {sizes[row[0]], row[1]};  // FAT's renamed ones are read elsewhere
      ASSERT_FALSE(expected.empty());
      for (const auto& [path, want] : expected) {
        const auto it = paths.find(path);
        ASSERT_NE(it, paths.end()) << path;
        const StoredItem item = volume.store.Item(it->second);
        ASSERT_EQ(Show(EngineOf(volume.app), item.record, Utf16ToUtf8(item.name), true), PreviewPane::Hex) << path;
        auto* hex = area->PaneAs<CHexViewer>();
        ASSERT_NE(hex, nullptr);
        EXPECT_EQ(hex->LastPage(), want.first == 0 ? 0 : (want.first - 1) / 256) << path;
        EXPECT_EQ(Md5(HexPages(*hex, want.first)), want.second) << name << " " << path;
      }
    }
  }
}

// The samples of every kind on one volume of the preview disk, live and
// deleted: each in its own pane, showing what the file holds.
class PreviewSamplePanes : public PreviewPanes, public ::testing::WithParamInterface<int> {};

TEST_P(PreviewSamplePanes, EveryKindShowsInItsPane) {
  std::string why;
  const fs::path dir = test::PreviewSamplesDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  std::map<std::string, test::PreviewSample> samples;
  for (const auto& s : test::ReadPreviewSamples(dir)) samples[s.name] = s;
  const std::uint16_t v = static_cast<std::uint16_t>(GetParam());
  for (std::uint32_t mode : {kModeQuick, kModeDeleted}) {
    if (v == 2 && mode == kModeDeleted) continue;  // the NTFS volume has no deleted files
    test::ScannedVolume volume;
    ASSERT_EQ(volume.Scan((dir / "preview.vmdk").string(), v, mode), "");
    int shown = 0;
    for (FoundItemHandle h = 1; h < volume.store.Count(); ++h) {
      const StoredItem item = volume.store.Item(h);
      if (IsFolderRecord(item.record) || item.record.IsDeleted() != (mode == kModeDeleted)) continue;
      std::string name = Utf16ToUtf8(item.name);
      if (name[0] == '$') continue;  // NTFS's own files
      // A deleted FAT short name has lost its first character.
      auto it = samples.find(name);
      for (auto s = samples.begin(); it == samples.end() && s != samples.end(); ++s)
        if (s->first.size() == name.size() && s->first.substr(1) == name.substr(1)) it = s;
      ASSERT_NE(it, samples.end()) << name;
      const test::PreviewSample& s = it->second;
      const std::string what = std::to_string(v) + " " + Utf16ToUtf8(volume.store.PathOf(h));
      const PreviewPane pane = Show(EngineOf(volume.app), item.record, name);
      ++shown;
      if (s.pane == "image") {
        ASSERT_EQ(pane, PreviewPane::Image) << what;
        EXPECT_EQ(area->PaneAs<CImagePreview>()->ImageSize(), QSize(s.width, s.height)) << what;
      } else if (s.pane == "pdf") {
        ASSERT_EQ(pane, PreviewPane::Pdf) << what;
        EXPECT_EQ(area->PaneAs<CPdfViewer>()->PageCount(), s.pages) << what;
        // Qt PDF reads the one copy, a file in the private folder that only
        // its owner may read, not a copy in memory.
        std::vector<fs::path> copies;
        for (const auto& e : fs::recursive_directory_iterator(area->TempFolder()))
          if (e.path().extension() == ".pdf") copies.push_back(e.path());
        ASSERT_EQ(copies.size(), 1u) << what;
        EXPECT_EQ(Md5(test::ReadWholeFile(copies[0])), s.md5) << what;
        EXPECT_EQ(fs::status(copies[0]).permissions() & (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none) << what;
      } else if (s.pane == "media") {
        ASSERT_EQ(pane, PreviewPane::Media) << what;
        auto* media = area->PaneAs<CMediaViewer>();
        EXPECT_TRUE(media->IsLoaded()) << what;
        if (!s.name.ends_with(".avi")) {
          // Sound: the play bar and the length, whether or not this machine
          // has a sound output; without one a line says so.
          ASSERT_NE(media->PlayButton(), nullptr) << what;
          EXPECT_TRUE(media->PlayButton()->isVisibleTo(media)) << what;
          EXPECT_TRUE(media->PositionBar()->isVisibleTo(media)) << what;
          const bool noSound = QMediaDevices::audioOutputs().isEmpty();
          EXPECT_EQ(media->NoSoundLine()->isVisibleTo(media), noSound) << what;
          EXPECT_EQ(media->PlayButton()->isEnabled(), !noSound) << what;
          if (s.name.ends_with(".wav")) {
            // sox's own reading of the length, to the nearest second.
            const auto soxi = ToolLines("soxi -D", s.path);
            ASSERT_EQ(soxi.size(), 1u) << what;
            const long seconds = std::lround(std::stod(soxi[0]));
            const QString length = QStringLiteral(" / %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
            EXPECT_TRUE(WaitFor([&] { return media->TimeLabel()->text().endsWith(length); }, 10000))
                << what << " " << media->TimeLabel()->text().toStdString();
          }
        }
      } else if (s.pane == "office") {
        ASSERT_EQ(pane, PreviewPane::Office) << what;
        auto* pdf = area->PaneAs<CPdfViewer>();
        ASSERT_GE(pdf->PageCount(), 1) << what;
        // The first page is rendered: some of it is drawn, not all paper.
        const QImage page = pdf->Document()->render(0, QSize(300, 400));
        int inked = 0;
        for (int y = 0; y < page.height(); ++y)
          for (int x = 0; x < page.width(); ++x) inked += qGray(page.pixel(x, y)) < 160;
        EXPECT_GT(inked, 20) << what;
      } else if (s.pane == "rtf") {
        ASSERT_EQ(pane, PreviewPane::Rtf) << what;
        EXPECT_TRUE(area->PaneAs<CRTFViewer>()->toPlainText().startsWith(QStringLiteral("Recovered letter"))) << what;
      } else if (s.pane == "html") {
        ASSERT_EQ(pane, PreviewPane::Html) << what;
        auto* html = area->PaneAs<CHtmlPreview>();
        const QString text = html->toPlainText();
        if (s.name == "archive.mht") {
          EXPECT_TRUE(text.contains(QString::fromUtf8("Caf\xC3\xA9 menu"))) << what;
          EXPECT_EQ(html->ResourcesGiven(), 2) << what;
        } else {
          // The script did not run, and the page was given nothing it asked for.
          EXPECT_TRUE(text.contains(QStringLiteral("Text of the page."))) << what;
          EXPECT_FALSE(text.contains(QStringLiteral("SCRIPT RAN"))) << what;
          EXPECT_GE(html->ResourcesAsked(), 2) << what;
          EXPECT_EQ(html->ResourcesGiven(), 0) << what;
        }
      } else if (s.pane == "text") {
        ASSERT_EQ(pane, PreviewPane::Text) << what;
        // The first 8 KiB as Python decodes UTF-8, the letter cut at the end
        // left out.
        const auto lines = ToolLines(kTextStart, s.path);
        ASSERT_FALSE(lines.empty());
        QStringList expected;
        for (const auto& line : lines) expected << QString::fromStdString(line);
        const QString shown = area->PaneAs<CTextViewer>()->toPlainText();
        EXPECT_EQ(shown, expected.join(QChar(u'\n'))) << what;
        EXPECT_TRUE(shown.contains(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln"))) << what;
      } else if (s.pane == "archive") {
        ASSERT_EQ(pane, PreviewPane::Archive) << what;
        const CReportList& list = *area->PaneAs<CReportList>();
        const auto members = ToolLines(kZipMembers, s.path);
        // Names as Info-ZIP's own lister reads them (Python takes names
        // without the UTF-8 flag as code page 437).
        const auto names = ToolLines("zipinfo -1", s.path);
        ASSERT_FALSE(members.empty());
        ASSERT_EQ(names.size(), members.size());
        ASSERT_EQ(list.RowCount(), static_cast<int>(members.size())) << what;
        // The last member found is shown first.
        for (std::size_t i = 0; i < members.size(); ++i) {
          const auto want = test::PreviewFields(members[members.size() - 1 - i]);
          const auto row = RowOf(list, static_cast<int>(i));
          ASSERT_GE(row.size(), 4u) << what;
          EXPECT_EQ(row[0], names[members.size() - 1 - i]) << what;
          EXPECT_EQ(row[1], want[1] != "0" && want[2] != "0" ? "File" : "Folder") << what << " " << want[0];
          EXPECT_EQ(row[2], want[1]) << what << " " << want[0];
          EXPECT_EQ(row[3], want[2]) << what << " " << want[0];
        }
      } else if (s.pane == "table") {
        ASSERT_EQ(pane, PreviewPane::Table) << what;
        auto* table = area->PaneAs<CTablePane>();
        const CReportList& grid = *table->Grid();
        std::vector<std::vector<std::string>> want;
        std::vector<std::string> headings;
        if (s.name == "people.csv") {
          for (const auto& line : ToolLines(kCsvRows, s.path)) want.push_back(test::PreviewFields(line));
          headings = {"A", "B", "C", "D"};
        } else if (s.name == "stock.dbf") {
          // The fields as make-preview-samples wrote them, padding kept; the
          // record marked deleted is shown too.
          headings = {"CODE", "ITEM", "QTY"};
          want = {{"A100  ", "Hammer        ", "   12"},
                  {"A101  ", "Saw           ", "    3"},
                  {"B200  ", "Nails         ", " 1500"},
                  {"B201  ", "Glue          ", "    7"}};
        } else {
          // shop.mdf: its user tables by name, the first chosen; its columns
          // last found first.
          headings = {"Name", "Data type", "Size", "NULL"};
          ASSERT_TRUE(table->TableCombo()->isVisibleTo(table)) << what;
          ASSERT_EQ(table->TableCombo()->count(), 2) << what;
          EXPECT_EQ(table->TableCombo()->itemText(0), QStringLiteral("Customers"));
          EXPECT_EQ(table->TableCombo()->itemText(1), QStringLiteral("Orders"));
          want = {{"Since", "61", "8", "Allow Null"}, {"Name", "231", "100", "Allow Null"},
                  {"CustomerID", "56", "4", "Not Null"}};
          table->TableCombo()->setCurrentIndex(1);
          EXPECT_EQ(RowOf(grid, 0), (std::vector<std::string>{"Total", "60", "8", "Allow Null"})) << what;
          EXPECT_EQ(RowOf(grid, 2), (std::vector<std::string>{"OrderID", "56", "4", "Not Null"})) << what;
          table->TableCombo()->setCurrentIndex(0);
        }
        if (s.name != "shop.mdf") EXPECT_FALSE(table->TableCombo()->isVisibleTo(table)) << what;
        ASSERT_EQ(grid.Model().columnCount(), static_cast<int>(headings.size())) << what;
        for (std::size_t c = 0; c < headings.size(); ++c)
          EXPECT_EQ(grid.Model().Columns()[c].heading.toStdString(), headings[c]) << what;
        ASSERT_EQ(grid.RowCount(), static_cast<int>(want.size())) << what;
        for (std::size_t r = 0; r < want.size(); ++r) EXPECT_EQ(RowOf(grid, static_cast<int>(r)), want[r]) << what;
      } else if (s.pane == "backup") {
        ASSERT_EQ(pane, PreviewPane::Backup) << what;
        const CReportList& list = *area->PaneAs<CReportList>();
        // The files make-preview-samples backed up, the last first.
        const std::vector<std::vector<std::string>> want = {
            {"notes.txt", "512 Bytes", "14:3:7  11/5/2008", "14:3:7  11/5/2008", "0:0:0  1/1/2009"},
            {"budget.xls", "1.50 MB", "23:59:59  2/28/2009", "7:5:9  12/24/2008", "12:0:30  3/2/2009"},
            {"report.doc", "18.50 KB", "9:26:53  3/14/2009", "8:0:0  3/1/2009", "17:45:2  3/15/2009"}};
        ASSERT_EQ(list.RowCount(), 3) << what;
        for (std::size_t r = 0; r < want.size(); ++r) EXPECT_EQ(RowOf(list, static_cast<int>(r)), want[r]) << what;
      } else {
        ADD_FAILURE() << "no check for " << s.pane;
      }
      // Show As Hex: the same file's bytes, page by page.
      ASSERT_EQ(Show(EngineOf(volume.app), item.record, name, true), PreviewPane::Hex) << what;
      EXPECT_EQ(Md5(HexPages(*area->PaneAs<CHexViewer>(), s.size)), s.md5) << what;
    }
    EXPECT_EQ(shown, static_cast<int>(samples.size())) << v << " " << mode;
  }
  // Nothing is left behind.
  const fs::path temp = area->TempFolder();
  area.reset();
  if (!temp.empty()) {
    EXPECT_FALSE(fs::exists(temp));
  }
}

INSTANTIATE_TEST_SUITE_P(PreviewDisk, PreviewSamplePanes, ::testing::Values(1, 2, 3),
                         [](const auto& info) { return std::string(info.param == 1 ? "fat32" : info.param == 2 ? "ntfs" : "exfat"); });

class PreviewFallbacks : public PreviewPanes {
 protected:
  void SetUp() override {
    PreviewPanes::SetUp();
    std::string why;
    dir = test::PreviewSamplesDir(&why);
    if (dir.empty()) GTEST_SKIP() << why;
    ASSERT_EQ(volume.Scan((dir / "preview.vmdk").string(), 1, kModeQuick), "");
    paths = ByPath(volume.store);
  }
  FoundItemInfo Record(const std::string& path) { return volume.store.Item(paths.at(path)).record; }
  ScanEngine* Engine() { return EngineOf(volume.app); }

  fs::path dir;
  test::ScannedVolume volume;
  std::map<std::string, FoundItemHandle> paths;
};

TEST_F(PreviewFallbacks, WhatAPaneCannotShowEndsInTheHexPane) {
  // Bytes that are no picture, no RTF, no PDF, no sound.
  const FoundItemInfo notes = Record("live/notes.txt");
  for (const char* name : {"notes.jpg", "notes.rtf", "notes.pdf", "notes.wav"})
    EXPECT_EQ(Show(Engine(), notes, name), PreviewPane::Hex) << name;
  // The image pane's limit: a picture of 20 MiB or more is not decoded.
  FoundItemInfo photo = Record("live/photo.jpg");
  photo.size = kImageSizeLimit - 1;
  EXPECT_EQ(Show(Engine(), photo, "photo.jpg"), PreviewPane::Image);
  photo.size = kImageSizeLimit;
  EXPECT_EQ(Show(Engine(), photo, "photo.jpg"), PreviewPane::Hex);
  // Documents above 5 MiB: message 278, then hex.
  FoundItemInfo page = Record("live/page.html");
  page.size = kDocumentSizeLimit + 1;
  EXPECT_EQ(Show(Engine(), page, "page.html"), PreviewPane::Hex);
  EXPECT_TRUE(prompt.Asked(kIdsTooLarge));
  // Without the Office converter, Office documents are shown as hex.
  area->SetOfficeConverter({});
  EXPECT_EQ(Show(Engine(), Record("live/letter.doc"), "letter.doc"), PreviewPane::Hex);
  // Folders and empty files: nothing is shown.
  FoundItemInfo empty = notes;
  empty.size = 0;
  EXPECT_EQ(area->ShowItem(Engine(), empty, u"empty.txt"), PreviewPane::Placeholders);
  EXPECT_EQ(area->Pane(), nullptr);
}

TEST_F(PreviewFallbacks, APaneThatLoadedStays) {
  EXPECT_EQ(Show(Engine(), Record("live/page.html"), "page.html"), PreviewPane::Html);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(area->Shown(), PreviewPane::Html);
  EXPECT_NE(area->PaneAs<CHtmlPreview>(), nullptr);
}

TEST_F(PreviewFallbacks, ANewerSelectionEndsAnOlderOne) {
  if (FindOfficeConverter().empty()) GTEST_SKIP() << "no office converter: run scripts/setup-deps";
  // An Office rendering is under way (the converter has made its profile)
  // when the next file is clicked: the text shows, and the converter it
  // had started is gone.
  area->ShowItem(Engine(), Record("live/slides.ppt"), u"slides.ppt");
  const fs::path temp = area->TempFolder();
  ASSERT_FALSE(temp.empty());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(temp / "profile"); }, 120000));
  // The worker reads the text after the older task has ended, and what
  // that task left queued came first: the text pane stays.
  EXPECT_EQ(Show(Engine(), Record("live/notes.txt"), "notes.txt"), PreviewPane::Text);
  QApplication::processEvents();
  EXPECT_EQ(area->Shown(), PreviewPane::Text);
  int named = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    named += cmdline.find(temp.string()) != std::string::npos;
  }
  EXPECT_EQ(named, 0);
  // The copies of the older item are gone; the folder goes with the area.
  for (const auto& entry : fs::directory_iterator(temp)) EXPECT_EQ(entry.path().filename(), "profile");
  area.reset();
  EXPECT_FALSE(fs::exists(temp));
}

TEST_F(PreviewFallbacks, HexPaneLayoutAndScrolling) {
  EXPECT_EQ(Show(Engine(), Record("live/notes.txt"), "notes.txt", true), PreviewPane::Hex);
  auto* hex = area->PaneAs<CHexViewer>();
  ASSERT_NE(hex, nullptr);
  const std::string notes = test::ReadWholeFile(dir / "files" / "notes.txt");
  // The text column of 16 bytes of the file: control codes as dots.
  const auto ansi = [&notes](std::size_t at) {
    QString text;
    for (std::size_t i = at; i < at + 16; ++i) {
      const unsigned char c = static_cast<unsigned char>(notes[i]);
      text.append(c < 0x20 || (c >= 0x7F && c < 0xA0) ? QChar(u'.') : QChar(c));
    }
    return text;
  };
  // More than 8 KiB and less than 9 KiB: pages 0 to 35.
  ASSERT_GT(notes.size(), 35u * 256);
  ASSERT_LE(notes.size(), 36u * 256);
  EXPECT_EQ(hex->LastPage(), 35u);
  EXPECT_EQ(hex->ScrollBar()->maximum(), 35);
  EXPECT_EQ(hex->OffsetText(0), QStringLiteral("0000000000"));
  EXPECT_EQ(hex->HexText(0, 0), QStringLiteral("%1").arg(static_cast<unsigned char>(notes[0]), 2, 16, QChar(u'0')).toUpper());
  EXPECT_EQ(hex->AnsiText(0), ansi(0));
  // Scrolling to page 16 shows offset 0000001000.
  hex->ScrollBar()->setValue(16);
  ASSERT_TRUE(WaitFor([&] { return hex->PageReady(); }, 10000));
  EXPECT_EQ(hex->OffsetText(0), QStringLiteral("0000001000"));
  EXPECT_EQ(hex->AnsiText(0), ansi(4096));
  // The last page: what is left past 35 pages, zeros after it.
  const std::size_t tail = notes.size() - 35 * 256;
  hex->ScrollBar()->setValue(hex->ScrollBar()->maximum());
  ASSERT_TRUE(WaitFor([&] { return hex->PageReady(); }, 10000));
  EXPECT_EQ(hex->PageBytes()[tail - 1], static_cast<std::uint8_t>(notes.back()));
  EXPECT_EQ(hex->PageBytes()[tail], 0);
  EXPECT_EQ(hex->HexText(15, 15), QStringLiteral("00"));
  EXPECT_EQ(hex->AnsiText(15), QString(16, QChar(u'.')));
  // The pane sits one pixel in from the right and five up from the bottom.
  EXPECT_EQ(hex->geometry(), QRect(0, 0, 627, 245));
}

TEST(PreviewGeometry, PicturesAndMoviesFitAndCentre) {
  // A 200 x 100 picture in a 100 x 100 area: 100 x 50 at (0, 25).
  EXPECT_EQ(CImagePreview::FitRect({200, 100}, {100, 100}), QRect(0, 25, 100, 50));
  // Smaller than the area: its own size, centred.
  EXPECT_EQ(CImagePreview::FitRect({40, 20}, {100, 100}), QRect(30, 40, 40, 20));
  // A 320 x 240 movie in a 640 x 480 pane: natural size at (160, 120); a
  // 1280 x 480 one: 640 x 240 at (0, 120).
  EXPECT_EQ(CMediaViewer::MovieRect({320, 240}, {640, 480}), QRect(160, 120, 320, 240));
  EXPECT_EQ(CMediaViewer::MovieRect({1280, 480}, {640, 480}), QRect(0, 120, 640, 240));
  EXPECT_EQ(CMediaViewer::MovieRect({480, 1280}, {640, 480}), QRect(230, 0, 180, 480));
}

}  // namespace
}  // namespace corvan
