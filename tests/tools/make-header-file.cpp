// Writes the signature file installed with the program (HeaderFile.cfg) from
// the table below. The installed file is the only place the preset types
// live; this table is where they are authored, and a test regenerates the
// file from it byte for byte.
//
//   make-header-file OUTPUT

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileTypeRecord.h"

namespace {

using corvan::FileTypeRecord;

enum Group : std::uint8_t {
  kGraphics = 1,
  kArchive = 2,
  kAudioVideo = 3,
  kMails = 4,
  kDatabase = 5,
  kOffice = 6,
  kInternet = 7,
  kMisc = 8,
};

enum Unit : std::uint8_t { kMB = 0, kKB = 1 };

struct Preset {
  const char16_t* name;
  const char16_t* extension;
  std::uint32_t offset;
  std::string_view signature;  // bytes, at most 8
  Group group;
  std::uint32_t size;  // in the unit below
  Unit unit;
  std::uint16_t typeId;
};

using namespace std::string_view_literals;

// Ids 14-19, 48, 52, 57, 113-115, 121, 128, 132, 135-137, 139-141, 143, 165, 176
// and 177 choose a format analyser; every other id is carved up to its size.
// Types sharing a signature are tried in this order, so the plain ZIP comes
// before the Office documents that are ZIP archives too.
constexpr Preset kPresets[] = {
    // Graphics
    {u"JPEG Image", u"jpg", 0, "\xFF\xD8\xFF"sv, kGraphics, 32, kMB, 14},
    {u"TIFF Image (Intel byte order)", u"tif", 0, "II*\0"sv, kGraphics, 256, kMB, 15},
    {u"TIFF Image (Motorola byte order)", u"tif", 0, "MM\0*"sv, kGraphics, 256, kMB, 16},
    {u"Bitmap Image", u"bmp", 0, "BM"sv, kGraphics, 128, kMB, 17},
    {u"GIF Image", u"gif", 0, "GIF8"sv, kGraphics, 32, kMB, 18},
    {u"PNG Image", u"png", 0, "\x89PNG\r\n\x1A\n"sv, kGraphics, 64, kMB, 19},
    {u"Layered Image (PSD)", u"psd", 0, "8BPS"sv, kGraphics, 512, kMB, 67},
    {u"Windows Icon", u"ico", 0, "\0\0\1\0"sv, kGraphics, 1024, kKB, 20},
    {u"Windows Metafile (Placeable)", u"wmf", 0, "\xD7\xCD\xC6\x9A"sv, kGraphics, 16, kMB, 21},
    {u"Enhanced Metafile", u"emf", 40, " EMF"sv, kGraphics, 16, kMB, 22},
    {u"JPEG 2000 Image", u"jp2", 0, "\0\0\0\x0CjP  "sv, kGraphics, 64, kMB, 23},
    {u"WebP Image", u"webp", 8, "WEBPVP8"sv, kGraphics, 32, kMB, 24},
    {u"Encapsulated PostScript", u"eps", 0, "%!PS-Ado"sv, kGraphics, 64, kMB, 25},
    {u"PCX Image", u"pcx", 0, "\x0A\x05\x01"sv, kGraphics, 16, kMB, 26},
    // Archive
    {u"RAR Archive", u"rar", 0, "Rar!\x1A\x07\0"sv, kArchive, 4095, kMB, 48},
    {u"ZIP Archive", u"zip", 0, "PK\3\4"sv, kArchive, 4095, kMB, 52},
    {u"7z Archive", u"7z", 0, "7z\xBC\xAF\x27\x1C"sv, kArchive, 4095, kMB, 49},
    {u"GZIP Archive", u"gz", 0, "\x1F\x8B\x08"sv, kArchive, 1024, kMB, 50},
    {u"BZIP2 Archive", u"bz2", 0, "BZh"sv, kArchive, 1024, kMB, 51},
    {u"Cabinet Archive", u"cab", 0, "MSCF\0\0\0\0"sv, kArchive, 1024, kMB, 53},
    {u"XZ Archive", u"xz", 0, "\xFD" "7zXZ\0"sv, kArchive, 1024, kMB, 54},
    {u"TAR Archive", u"tar", 257, "ustar"sv, kArchive, 1024, kMB, 55},
    // Audio, video and animation
    {u"AU Audio", u"au", 0, ".snd"sv, kAudioVideo, 256, kMB, 57},
    {u"AVI Video", u"avi", 8, "AVI "sv, kAudioVideo, 4095, kMB, 165},
    {u"MP3 Audio (ID3 tag)", u"mp3", 0, "ID3"sv, kAudioVideo, 64, kMB, 111},
    {u"MPEG Video", u"mpg", 0, "\0\0\1\xBA"sv, kAudioVideo, 2048, kMB, 121},
    {u"WAVE Audio", u"wav", 8, "WAVEfmt "sv, kAudioVideo, 1024, kMB, 73},
    {u"MIDI Audio", u"mid", 0, "MThd"sv, kAudioVideo, 4, kMB, 58},
    {u"FLAC Audio", u"flac", 0, "fLaC"sv, kAudioVideo, 512, kMB, 59},
    {u"Ogg Media", u"ogg", 0, "OggS\0\2"sv, kAudioVideo, 512, kMB, 60},
    {u"AIFF Audio", u"aif", 8, "AIFF"sv, kAudioVideo, 1024, kMB, 61},
    {u"MPEG-4 Video", u"mp4", 4, "ftyp"sv, kAudioVideo, 4095, kMB, 62},
    {u"Windows Media (ASF)", u"wmv", 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, kAudioVideo, 4095, kMB, 63},
    {u"Matroska Video", u"mkv", 0, "\x1A\x45\xDF\xA3"sv, kAudioVideo, 4095, kMB, 64},
    {u"Flash Video", u"flv", 0, "FLV\1"sv, kAudioVideo, 1024, kMB, 65},
    {u"Shockwave Flash", u"swf", 0, "FWS"sv, kAudioVideo, 64, kMB, 68},
    {u"Compressed Shockwave Flash", u"swf", 0, "CWS"sv, kAudioVideo, 64, kMB, 69},
    // Mails
    {u"Personal Folders File", u"pst", 0, "!BDN"sv, kMails, 4095, kMB, 80},
    {u"Mail Store (DBX)", u"dbx", 0, "\xCF\xAD\x12\xFE"sv, kMails, 2048, kMB, 81},
    {u"Mail Message", u"eml", 0, "Return-P"sv, kMails, 64, kMB, 82},
    {u"Mail Message (Received)", u"eml", 0, "Received"sv, kMails, 64, kMB, 83},
    {u"Mailbox (mbox)", u"mbox", 0, "From "sv, kMails, 2048, kMB, 84},
    {u"Address Book (WAB)", u"wab", 0, "\x9C\xCB\xCB\x8D\x13\x75\xD2\x11"sv, kMails, 256, kMB, 85},
    {u"Outlook Item (MSG)", u"msg", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kMails, 64, kMB, 176},
    // Database
    {u"Jet Database (MDB)", u"mdb", 4, "Standard"sv, kDatabase, 2048, kMB, 90},
    {u"SQLite Database", u"sqlite", 0, "SQLite f"sv, kDatabase, 2048, kMB, 91},
    // Office documents
    {u"Word Document", u"doc", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 256, kMB, 113},
    {u"Excel Workbook", u"xls", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 256, kMB, 114},
    {u"PowerPoint Presentation", u"ppt", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 512, kMB, 115},
    {u"Word Open XML Document", u"docx", 0, "PK\3\4"sv, kOffice, 256, kMB, 128},
    {u"Excel Open XML Workbook", u"xlsx", 0, "PK\3\4"sv, kOffice, 256, kMB, 132},
    {u"PowerPoint Open XML Presentation", u"pptx", 0, "PK\3\4"sv, kOffice, 512, kMB, 135},
    {u"Works Document", u"wps", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 128, kMB, 136},
    {u"Publisher Document", u"pub", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 256, kMB, 137},
    {u"Visio Drawing", u"vsd", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kOffice, 256, kMB, 177},
    {u"PDF Document", u"pdf", 0, "%PDF-"sv, kOffice, 512, kMB, 66},
    {u"Rich Text Document", u"rtf", 0, "{\\rtf1"sv, kOffice, 128, kMB, 116},
    {u"OpenDocument Text", u"odt", 30, "mimetype"sv, kOffice, 256, kMB, 117},
    {u"PostScript Document", u"ps", 0, "%!PS"sv, kOffice, 256, kMB, 118},
    {u"WordPerfect Document", u"wpd", 0, "\xFFWPC"sv, kOffice, 128, kMB, 119},
    // Internet
    {u"HTML Page (DOCTYPE)", u"htm", 0, "<!DOCTYP"sv, kInternet, 4096, kKB, 139},
    {u"HTML Page (doctype)", u"html", 0, "<!doctyp"sv, kInternet, 4096, kKB, 140},
    {u"HTML Page (html)", u"html", 0, "<html"sv, kInternet, 4096, kKB, 141},
    {u"HTML Page (HTML)", u"htm", 0, "<HTML"sv, kInternet, 4096, kKB, 143},
    {u"XML Document", u"xml", 0, "<?xml ve"sv, kInternet, 16, kMB, 142},
    {u"Internet Shortcut", u"url", 0, "[Interne"sv, kInternet, 4, kKB, 144},
    {u"Web Archive (MHT)", u"mht", 0, "MIME-Ver"sv, kInternet, 64, kMB, 145},
    // Miscellaneous
    {u"Windows Executable", u"exe", 0, "MZ"sv, kMisc, 256, kMB, 150},
    {u"ELF Executable", u"elf", 0, "\x7F" "ELF"sv, kMisc, 256, kMB, 151},
    {u"Java Class", u"class", 0, "\xCA\xFE\xBA\xBE"sv, kMisc, 16, kMB, 152},
    {u"Windows Installer Package", u"msi", 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, kMisc, 1024, kMB, 153},
    {u"Registry Hive", u"reg", 0, "regf"sv, kMisc, 512, kMB, 154},
    {u"Windows Shortcut", u"lnk", 0, "L\0\0\0\1\x14\2\0"sv, kMisc, 64, kKB, 155},
    {u"Windows Help File", u"hlp", 0, "?_\3\0"sv, kMisc, 64, kMB, 156},
    {u"Compiled HTML Help", u"chm", 0, "ITSF"sv, kMisc, 128, kMB, 157},
    {u"TrueType Font", u"ttf", 0, "\0\1\0\0\0"sv, kMisc, 32, kMB, 158},
};

// The types Raw Recovery searches for until the user chooses others.
constexpr std::uint16_t kDefaultRaw[] = {14, 15, 16, 17, 18, 19, 48, 52, 66, 67, 73, 111, 113, 114, 121, 128, 132, 165};

bool IsDefault(std::uint16_t id) {
  for (auto d : kDefaultRaw)
    if (d == id) return true;
  return false;
}

FileTypeRecord Record(const Preset& p) {
  FileTypeRecord r;
  r.softwareName = p.name;
  r.extension = p.extension;
  r.headerOffset = p.offset;
  r.headerLength = static_cast<std::uint8_t>(p.signature.size());
  for (std::size_t i = 0; i < p.signature.size(); ++i) r.header[i] = static_cast<std::uint8_t>(p.signature[i]);
  r.selected = IsDefault(p.typeId) ? 1 : 0;
  r.preset = 1;
  r.maxSize = p.size * (p.unit == kMB ? 1048576u : 1024u);
  r.sizeUnit = p.unit;
  r.group = p.group;
  r.typeId = p.typeId;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-header-file OUTPUT\n");
    return 2;
  }
  std::vector<FileTypeRecord> records;
  for (const auto& p : kPresets) {
    if (p.signature.empty() || p.signature.size() > 8 || p.offset + p.signature.size() > 512) {
      std::fprintf(stderr, "make-header-file: bad signature for type %u\n", p.typeId);
      return 1;
    }
    records.push_back(Record(p));
  }
  if (!corvan::WriteFileTypeRecords(argv[1], records)) {
    std::fprintf(stderr, "make-header-file: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
