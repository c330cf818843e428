// The Office converter: a sample document becomes a PDF in the folder given,
// with the converter's own profile; a conversion that is no longer wanted or
// runs out of time is ended with every process it started, and no process
// of the user's is touched.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "preview/OfficeRenderer.h"
#include "preview/PreviewTempDir.h"
#include "support/PreviewSamples.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

// Processes whose command line names `text` (read from /proc; nothing is
// sent to them).
int ProcessesNaming(const std::string& text) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (cmdline.find(text) != std::string::npos) ++n;
  }
  return n;
}

class OfficeRendering : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    dir_ = test::PreviewSamplesDir(&why);
    if (dir_.empty()) GTEST_SKIP() << why;
    program_ = FindOfficeConverter();
    if (program_.empty()) GTEST_SKIP() << "no office converter: run scripts/setup-deps";
    temp_ = PreviewTempDir::Create();
    ASSERT_TRUE(temp_);
    work_ = temp_->NewSubfolder();
    fs::create_directories(work_ / "out");
    fs::copy_file(dir_ / "files" / "words.docx", work_ / "document.docx");
  }
  OfficeRender Render(std::chrono::milliseconds limit, std::function<bool()> cancelled = {}) {
    return RenderOfficeToPdf(program_, work_ / "document.docx", work_ / "out", temp_->Path() / "profile", limit,
                             std::move(cancelled));
  }

  fs::path dir_, program_, work_;
  std::unique_ptr<PreviewTempDir> temp_;
};

TEST_F(OfficeRendering, ADocumentBecomesAPdfInTheFolderGiven) {
  const OfficeRender r = Render(kOfficeRenderLimit);
  ASSERT_EQ(r.status, OfficeRenderStatus::Rendered);
  EXPECT_EQ(r.pdf, work_ / "out" / "document.pdf");
  const std::string pdf = test::ReadWholeFile(r.pdf);
  ASSERT_GT(pdf.size(), 100u);
  EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
  // Its own profile, in the private folder.
  EXPECT_TRUE(fs::exists(temp_->Path() / "profile"));
  EXPECT_EQ(ProcessesNaming(temp_->Path().string()), 0);
}

TEST_F(OfficeRendering, AConversionNoLongerWantedEndsWithWhatItStarted) {
  // No longer wanted once the converter is at work (it has made its
  // profile): ended by that answer, not by the time limit, and with every
  // process it had started.
  const fs::path profile = temp_->Path() / "profile";
  const OfficeRender r = Render(kOfficeRenderLimit, [&] { return fs::exists(profile); });
  EXPECT_EQ(r.status, OfficeRenderStatus::Cancelled);
  EXPECT_EQ(ProcessesNaming(temp_->Path().string()), 0);

  const OfficeRender late = Render(std::chrono::milliseconds(200));
  EXPECT_EQ(late.status, OfficeRenderStatus::TimedOut);
  EXPECT_EQ(ProcessesNaming(temp_->Path().string()), 0);
}

TEST(OfficeRenderer, WithoutAConverterNothingRuns) {
  test::TempDir dir;
  const OfficeRender r = RenderOfficeToPdf(dir / "no-such-program", dir / "a.doc", dir.path(), dir / "profile",
                                           kOfficeRenderLimit, {});
  EXPECT_EQ(r.status, OfficeRenderStatus::Missing);
  EXPECT_TRUE(r.pdf.empty());  // no file
}

}  // namespace
}  // namespace corvan
