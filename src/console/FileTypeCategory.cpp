#include "console/FileTypeCategory.h"

#include <string>
#include <unordered_map>

#include "platform/TextConv.h"

namespace corvan {

namespace {

struct CategoryKeys {
  int category;
  std::initializer_list<const char*> keys;
};

// An extension listed under two categories belongs to the later one, so the
// table is read in order and later entries overwrite earlier ones.
const std::unordered_map<std::u16string, int>& CategoryTable() {
  static const std::unordered_map<std::u16string, int> table = [] {
    static const CategoryKeys lists[] = {
        {kCategoryGraphics,
         {"bmp",  "jpg",  "jpeg", "png", "tif", "tiff",  "jpe", "gif", "jfif", "dib",  "emf", "wmf", "mng",
          "jng",  "tga",  "pcx",  "jp2", "jbg", "jpc",   "pnm", "pgm", "ppm",  "ras",  "wbmp", "j2k", "j2c",
          "pgx",  "k25",  "erf",  "dng", "kdc", "nef",   "pef", "x3f", "cr2",  "sr2",  "crw", "orf", "psd",
          "indd", "cpt",  "dcr",  "l64", "xbm", "pbm",   "qfx", "raf", "img",  "cap",  "dcx", "dpx", "drw",
          "ds4",  "msp",  "theme", "tpl", "thm", "wpg",  "t64", "sid", "cdr",  "pic",  "pict", "pdd", "pct",
          "pxr",  "psb",  "psf",  "psp", "sct", "srf",   "raw", "skin", "mdi"}},
        {kCategoryDocuments,
         {"doc",     "docx",    "xls",      "ppt",    "xlsx",    "pptx",    "dot",      "dotx",    "ppsx",
          "pot",     "potx",    "pps",      "xlt",    "xltx",    "xlw",     "xlb",      "pdf",     "rtf",
          "chm",     "dochtml", "dothtml",  "wpd",    "docxml",  "docmhtl", "docm",     "dotm",    "wri",
          "wps",     "dotxml",  "dotmhtl",  "wks",    "xlm",     "xlv",     "xlxml",    "xlthtml", "xlshtml",
          "xlsmhtml", "xll",    "xlk",      "xlc",    "xla",     "wk1",     "wk3",      "wk4",     "fmt",
          "fm3",     "slk",     "cnv",      "pothtml", "ppa",    "pwz",     "ppthtml",  "pptmhtml"}},
        {kCategoryAudio,
         {"aif", "aiff", "asf", "asx", "au", "cda", "mid", "midi", "ram", "snd", "wm", "wmd",
          "wax", "m3u",  "mp3", "rm",  "rmi", "wav", "voc", "3gp",  "amr", "aac", "mmf", "ra"}},
        {kCategoryVideo,
         {"avi", "avs", "m1s", "m1v", "m2v", "mmm", "mov", "mp2", "mp4", "mpa",  "mpe", "mpeg", "mpg",
          "mps", "mpv2", "mod", "mpv", "wmv", "wma", "wmx", "wmz", "mp2v", "vob", "flv", "swf"}},
        {kCategoryText,
         {"txt", "cpp", "text", "log", "ini",    "c",   "dsw", "cc",     "hpp", "h",   "inf", "sln", "cs", "cxx",
          "java", "prg", "def", "csproj", "lic", "asm", "vcproj", "dsp", "frm", "xml", "hh",  "cgi", "reg"}},
        {kCategoryArchive,
         {"zip", "rar", "arj", "cab", "tar", "lzh", "alz", "arc", "bag", "bz2",  "bhx", "gz",    "lza",
          "sit", "tgz", "ace", "bz",  "7z",  "hqx", "z",   "iso", "lha", "tbz2", "tbz", "xxe",   "b64",
          "wzmul", "dmp", "dmg", "wzf", "tz", "uu", "uue", "taz"}},
        {kCategoryApplication, {"bat", "jar", "exe", "dll", "arm", "com", "sys", "lib", "msi", "app", "bin", "out"}},
        {kCategoryDatabase,
         {"mdf", "mdb", "dbf", "accdb", "csv", "sql", "qbw", "ldf", "ndf", "ora", "myd", "db", "dbt", "ib"}},
        {kCategoryInternet,
         {"css", "asp",  "php",  "js",   "jsp",   "htm", "html", "xht", "mht", "shtm", "shtml", "plg", "mhtml", "xhtml", "aspx",
          "py",  "pl",   "vbs",  "wml",  "dbx",   "mbx", "ost",  "pst", "dci", "eml",  "msg",   "nsf", "ntf",   "wab",   "cal"}},
        {kCategoryMiscellaneous, {"NoExt"}},
    };
    std::unordered_map<std::u16string, int> t;
    for (const auto& list : lists)
      for (const char* key : list.keys) t[U16(key)] = list.category;
    for (int n = 0; n <= 29; ++n) {  // split archive parts r00 to r29
      const char part[4] = {'r', static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10), 0};
      t[U16(part)] = kCategoryArchive;
    }
    return t;
  }();
  return table;
}

constexpr CategoryFolder kFolders[] = {
    {kCategoryGraphics, -2, u"Graphics & Photos"}, {kCategoryDocuments, -5, u"Documents"},
    {kCategoryAudio, -3, u"Audio"},                {kCategoryVideo, -4, u"Video"},
    {kCategoryText, -6, u"Text"},                  {kCategoryArchive, -7, u"Archive"},
    {kCategoryApplication, -8, u"Application"},    {kCategoryDatabase, -10, u"Database"},
    {kCategoryInternet, -9, u"Mails & Internet"},  {kCategoryMiscellaneous, -11, u"Miscellaneous"},
};

}  // namespace

int GetFileTypeCategory(std::u16string_view extension) {
  const auto& table = CategoryTable();
  const auto it = table.find(std::u16string(extension));
  return it == table.end() ? 0 : it->second;
}

const CategoryFolder& CategoryFolderOf(int category) {
  for (const auto& f : kFolders)
    if (f.category == category) return f;
  return kFolders[std::size(kFolders) - 1];
}

std::u16string ExtensionKey(std::u16string_view name) {
  const auto dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return u"NoExt";
  return FoldCase(name.substr(dot + 1));
}

}  // namespace corvan
