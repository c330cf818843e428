// Which pane a found file gets and which icon its row shows, for the names
// and sizes at the edges of the two stages' tables.

#include <gtest/gtest.h>

#include "app/CORVANApp.h"
#include "preview/PreviewKinds.h"
#include "platform/TextConv.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

TEST(PreviewKinds, TheTwoStagesAgreeOnCaseAndExtensions) {
  // The first stage lower-cases, the second ignores case: photo.JPG is a picture.
  EXPECT_EQ(GetPreviewKind(PreviewExtension(u"photo.JPG")), 2);
  EXPECT_EQ(GetViewerTypeFromExtension(ViewerToken(u"photo.JPG")), 0);
  EXPECT_EQ(ChoosePreview(u"photo.JPG", 100, false, false), PreviewPane::Image);
  // No dot: kind 0, and the second stage's token is the whole name.
  EXPECT_EQ(GetPreviewKind(PreviewExtension(u"README")), 0);
  EXPECT_EQ(ViewerToken(u"README"), "README");
  EXPECT_EQ(ChoosePreview(u"README", 100, false, false), PreviewPane::Hex);
  // A name that is its extension alone ("txt") has no dot either: hex.
  EXPECT_EQ(ChoosePreview(u"txt", 100, false, false), PreviewPane::Hex);
  // Trailing dot: the first stage's extension is empty; the token is "report".
  EXPECT_EQ(PreviewExtension(u"report."), u"");
  EXPECT_EQ(ViewerToken(u"report."), "report");
  EXPECT_EQ(ChoosePreview(u"report.", 100, false, false), PreviewPane::Hex);
  EXPECT_EQ(ChoosePreview(u"photo.jpg.", 100, false, false), PreviewPane::Hex);
  EXPECT_EQ(ViewerToken(u"..."), "");
  // Only the last extension counts.
  EXPECT_EQ(ChoosePreview(u"backup.tar.gz", 100, false, false), PreviewPane::Hex);
  // PDF is kind 9 but type 5 (shared with the documents): the PDF pane.
  EXPECT_EQ(GetPreviewKind(u"pdf"), 9);
  EXPECT_EQ(GetViewerTypeFromExtension("PdF"), 5);
  EXPECT_EQ(ChoosePreview(u"manual.PDF", 100, false, false), PreviewPane::Pdf);
  // Type 1 is never produced; unknown tokens are hex.
  EXPECT_EQ(GetViewerTypeFromExtension("xyz"), -1);
  EXPECT_EQ(GetPreviewKind(u"JPG"), 0);  // the first stage compares exactly
}

TEST(PreviewKinds, EveryKindReachesItsPane) {
  const struct {
    const char16_t* name;
    PreviewPane pane;
  } cases[] = {
      {u"a.bmp", PreviewPane::Image},    {u"a.tiff", PreviewPane::Image},   {u"a.x3f", PreviewPane::Image},
      {u"a.txt", PreviewPane::Text},     {u"a.reg", PreviewPane::Text},     {u"a.CPP", PreviewPane::Text},
      {u"a.rtf", PreviewPane::Rtf},      {u"a.pdf", PreviewPane::Pdf},      {u"a.doc", PreviewPane::Office},
      {u"a.DOCX", PreviewPane::Office},  {u"a.xlw", PreviewPane::Office},   {u"a.potx", PreviewPane::Office},
      {u"a.htm", PreviewPane::Html},     {u"a.mht", PreviewPane::Html},     {u"a.plg", PreviewPane::Html},
      {u"a.wav", PreviewPane::Media},    {u"a.MP3", PreviewPane::Media},    {u"a.au", PreviewPane::Media},
      {u"a.zip", PreviewPane::Archive},  {u"a.csv", PreviewPane::Table},    {u"data.MDF", PreviewPane::Table},
      {u"a.bkf", PreviewPane::Backup},   {u"a.dat", PreviewPane::Hex},      {u"a.exe", PreviewPane::Hex},
  };
  for (const auto& c : cases) EXPECT_EQ(ChoosePreview(c.name, 1000, false, false), c.pane) << Utf16ToUtf8(c.name);
}

TEST(PreviewKinds, SizesFoldersAndShowAsHex) {
  // Exactly 1 GiB still previews by kind; one byte more is hex.
  EXPECT_EQ(ChoosePreview(u"big.txt", kPreviewSizeLimit, false, false), PreviewPane::Text);
  EXPECT_EQ(ChoosePreview(u"big.txt", kPreviewSizeLimit + 1, false, false), PreviewPane::Hex);
  // Empty files and folders leave the placeholders.
  EXPECT_EQ(ChoosePreview(u"empty.bmp", 0, false, false), PreviewPane::Placeholders);
  EXPECT_EQ(ChoosePreview(u"Photos", 4096, true, false), PreviewPane::Placeholders);
  // Show As Hex wins over every kind.
  EXPECT_EQ(ChoosePreview(u"photo.jpg", 100, false, true), PreviewPane::Hex);
}

TEST(PreviewKinds, OfficeApplicationsAndMediaIgnoreCase) {
  EXPECT_EQ(OfficeAppKind(DottedExtension(u"Report.DOC")), 1);
  EXPECT_EQ(OfficeAppKind(u".xltx"), 2);
  EXPECT_EQ(OfficeAppKind(u".ppsx"), 3);
  EXPECT_EQ(OfficeAppKind(u".html"), 4);
  EXPECT_TRUE(IsMediaExtension(u".MP3"));
  EXPECT_FALSE(IsMediaExtension(u".mp4"));
  // A video is a video whatever the case of its name.
  EXPECT_TRUE(IsVideoExtension(u".AVI"));
  EXPECT_TRUE(IsVideoExtension(u".mpeg"));
  EXPECT_FALSE(IsVideoExtension(u".wav"));
}

TEST(PreviewKinds, IconKeysAndIndices) {
  const auto& keys = IconKeyTable();
  EXPECT_EQ(GetFileIconIndex(keys, u"Letter.doc", kItemFile, false), 20);
  EXPECT_EQ(GetFileIconIndex(keys, u"Letter.doc", kItemFile, true), 3);
  EXPECT_EQ(GetFileIconIndex(keys, u"Photos", kItemFolder, false), 0);
  EXPECT_EQ(GetFileIconIndex(keys, u"Photos", kItemFolder, true), 1);
  EXPECT_EQ(GetFileTypeIconKey(u"favicon.ico"), u"unknown");
  EXPECT_EQ(GetFileIconIndex(keys, u"favicon.ico", kItemFile, false), 56);
  EXPECT_EQ(GetFileTypeIconKey(u"thing.xyz"), u".xyz");
  EXPECT_EQ(GetFileIconIndex(keys, u"thing.xyz", kItemFile, false), 2);
  EXPECT_EQ(GetFileTypeIconKey(u"README"), u"unknown");
  // Members of two groups take the earlier one.
  EXPECT_EQ(GetFileTypeIconKey(u"raw.CRW"), u".bmp");
  EXPECT_EQ(GetFileTypeIconKey(u"index.cdx"), u".bsc");
  EXPECT_EQ(GetFileTypeIconKey(u"a.ldb"), u".bsc");
  EXPECT_EQ(GetFileTypeIconKey(u"a.msp"), u".bmp");
  EXPECT_EQ(GetFileTypeIconKey(u"backup.tar.gz"), u".rar");
  // Split archive parts .r00 to .r29, and no further.
  EXPECT_EQ(GetFileTypeIconKey(u"part.r00"), u".rar");
  EXPECT_EQ(GetFileTypeIconKey(u"part.r29"), u".rar");
  EXPECT_EQ(GetFileTypeIconKey(u"part.r30"), u".r30");
  // Keys no group produces are reached by the extension itself.
  EXPECT_EQ(GetFileIconIndex(keys, u"tape.bkf", kItemFile, false), 10);
  EXPECT_EQ(GetFileIconIndex(keys, u"setup.REG", kItemFile, false), 46);
  EXPECT_EQ(GetFileIconIndex(keys, u"clip.mov", kItemFile, false), 7);
}

}  // namespace
}  // namespace corvan
