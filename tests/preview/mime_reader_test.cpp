// The MHT reader: the sample archive's page and resources, the two transfer
// decodings, and archives that are damaged or built to hurt.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "preview/MimeReader.h"
#include "preview/TextDecode.h"
#include "support/Md5.h"
#include "support/PreviewSamples.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Text(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(MimeReader, TheSampleArchiveGivesItsPageAndPictures) {
  std::string why;
  const auto dir = test::PreviewSamplesDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  const std::string archive = test::ReadWholeFile(dir / "files" / "archive.mht");
  MhtDocument doc;
  ASSERT_TRUE(ReadMht(Bytes(archive), doc));
  ASSERT_EQ(doc.parts.size(), 3u);
  const MimePart* page = doc.Root();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->contentType, "text/html");
  EXPECT_EQ(page->charset, "windows-1252");
  const std::u16string html = DecodeText(Text(page->body), page->charset);
  EXPECT_NE(html.find(u"Caf\u00e9 menu"), std::u16string::npos);
  // The pictures by the page's relative link and by Content-ID, byte for byte.
  const MimePart* chart = doc.Find("page_files/chart.png");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(test::Md5Hex(chart->body), test::Md5Hex(Bytes(test::ReadWholeFile(dir / "files" / "chart.png"))));
  const MimePart* still = doc.Find("cid:still@sample");
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(test::Md5Hex(still->body), test::Md5Hex(Bytes(test::ReadWholeFile(dir / "files" / "still.gif"))));
  EXPECT_EQ(doc.Find("http://127.0.0.1/other.png"), nullptr);
  EXPECT_EQ(doc.Find("cid:nothing"), nullptr);
}

TEST(MimeReader, TransferDecodings) {
  // Published examples: RFC 4648's base64 vectors, RFC 2045's soft breaks.
  EXPECT_EQ(Text(DecodeBase64("Zm9vYmFy")), "foobar");
  EXPECT_EQ(Text(DecodeBase64("Zm9v\r\nYmE=")), "fooba");
  EXPECT_EQ(Text(DecodeBase64("Zg==")), "f");
  EXPECT_EQ(Text(DecodeBase64("!!Zm9v**")), "foo");
  EXPECT_EQ(Text(DecodeQuotedPrintable("Caf=E9 =\r\nmenu=3D1")), "Caf\xE9 menu=1");
  EXPECT_EQ(Text(DecodeQuotedPrintable("soft=  \nbreak")), "softbreak");
  // Not an escape: kept as written; a lone '=' at the end is dropped.
  EXPECT_EQ(Text(DecodeQuotedPrintable("a=ZZb=")), "a=ZZb");
}

TEST(MimeReader, PlainPagesDamagedAndHostileArchives) {
  MhtDocument doc;
  // No MIME headers: one HTML page.
  ASSERT_TRUE(ReadMht(Bytes("<html><body>x</body></html>"), doc));
  ASSERT_EQ(doc.parts.size(), 1u);
  EXPECT_EQ(doc.Root()->contentType, "text/html");
  // A single part, headers folded over lines.
  ASSERT_TRUE(ReadMht(Bytes("Content-Type: text/html;\r\n\tcharset=\"utf-8\"\r\n\r\n<p>y</p>"), doc));
  EXPECT_EQ(doc.Root()->charset, "utf-8");
  EXPECT_EQ(Text(doc.Root()->body), "<p>y</p>");
  // Cut off before the closing delimiter: the last part is kept.
  ASSERT_TRUE(ReadMht(Bytes("Content-Type: multipart/related; boundary=B\r\n\r\n--B\r\nContent-Type: text/html\r\n\r\n"
                            "<p>z</p>\r\n--B\r\nContent-Type: image/png\r\nContent-Location: a.png\r\n\r\nPNG"),
                      doc));
  ASSERT_EQ(doc.parts.size(), 2u);
  EXPECT_EQ(Text(doc.Root()->body), "<p>z</p>");
  EXPECT_EQ(Text(doc.Find("a.png")->body), "PNG");
  // "start" names the page.
  ASSERT_TRUE(ReadMht(Bytes("Content-Type: multipart/related; boundary=B; start=\"<p2>\"\r\n\r\n"
                            "--B\r\nContent-Type: text/html\r\n\r\none\r\n--B\r\nContent-Type: text/html\r\n"
                            "Content-ID: <p2>\r\n\r\ntwo\r\n--B--\r\n"),
                      doc));
  EXPECT_EQ(Text(doc.Root()->body), "two");

  // Multiparts nested a thousand deep: read to the depth kept, no further.
  std::string nested;
  for (int i = 0; i < 1000; ++i)
    nested += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i) + "\r\n";
  nested += "Content-Type: text/plain\r\n\r\nleaf";
  EXPECT_TRUE(ReadMht(Bytes(nested), doc));
  EXPECT_LE(doc.parts.size(), 1u);
  // Tens of thousands of parts: bounded.
  std::string many = "Content-Type: multipart/mixed; boundary=X\r\n\r\n";
  for (int i = 0; i < 20000; ++i) many += "--X\r\nContent-Type: text/plain\r\n\r\np\r\n";
  ASSERT_TRUE(ReadMht(Bytes(many), doc));
  EXPECT_LE(doc.parts.size(), 4096u);
  // A boundary that never comes, and nothing at all.
  EXPECT_FALSE(ReadMht(Bytes("Content-Type: multipart/related; boundary=Q\r\n\r\nno parts here"), doc));
  EXPECT_FALSE(ReadMht(Bytes(""), doc));
}

TEST(TextDecode, CharsetsOfPagesAndDocuments) {
  EXPECT_EQ(DecodeText("Caf\xC3\xA9", "UTF-8"), u"Caf\u00e9");
  EXPECT_EQ(DecodeText("Caf\xE9 \x80", "iso-8859-1"), u"Caf\u00e9 \u20ac");  // pages mean Windows-1252
  EXPECT_EQ(DecodeText("\xC0", "windows-1251"), u"\u0410");
  EXPECT_EQ(DecodeText("\x82\xA0", "shift_jis"), u"\u3042");
  // Malformed UTF-8 and an unknown charset: one mark per bad byte, no overrun.
  EXPECT_EQ(DecodeText("a\xC3", "utf-8"), u"a\uFFFD");
  EXPECT_EQ(DecodeText("a\xF0\x9F\x98\x80", "no-such-charset"), u"a\U0001F600");
  const std::string page = "<html><head><meta charset=\"windows-1250\"></head>";
  EXPECT_EQ(HtmlCharset(Bytes(page)), "windows-1250");
  const std::string old = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-2\">";
  EXPECT_EQ(HtmlCharset(Bytes(old)), "iso-8859-2");
  EXPECT_EQ(HtmlCharset(Bytes("\xEF\xBB\xBF<p>")), "utf-8");
  EXPECT_EQ(HtmlCharset(Bytes("<p>none</p>")), "");
}

// Text without a charset: "Grüße" as UTF-8 encodes it, and as Windows-1252
// does; the start of a longer text may end inside a UTF-8 sequence.
TEST(TextDecode, Utf8WhenValidElseWindows1252) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e";
  EXPECT_EQ(DecodeUtf8OrCp1252(utf8), u"Gr\u00FC\u00DFe");
  EXPECT_EQ(DecodeUtf8OrCp1252("Gr\xFC\xDF" "e \x80"), u"Gr\u00FC\u00DFe \u20AC");
  // Cut after the lead byte of "ß": left out when the text goes on, else
  // the bytes are not UTF-8.
  EXPECT_EQ(DecodeUtf8OrCp1252(utf8.substr(0, 5), true), u"Gr\u00FC");
  EXPECT_EQ(DecodeUtf8OrCp1252(utf8.substr(0, 5)), u"Gr\u00C3\u00BC\u00C3");
  // "€" (E2 82 AC) cut after one and after two bytes; whole, it stays.
  EXPECT_EQ(DecodeUtf8OrCp1252("a\xE2", true), u"a");
  EXPECT_EQ(DecodeUtf8OrCp1252("a\xE2\x82", true), u"a");
  EXPECT_EQ(DecodeUtf8OrCp1252("a\xE2\x82\xAC", true), u"a\u20AC");
  // Windows-1252 text that was cut keeps its last letter.
  EXPECT_EQ(DecodeUtf8OrCp1252("\xE9t\xE9", true), u"\u00E9t\u00E9");
}
}  // namespace
}  // namespace corvan
