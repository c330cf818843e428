#include "preview/PreviewKinds.h"

#include <initializer_list>

namespace corvan {

namespace {

using Literals = std::initializer_list<const char*>;

bool Equals(std::u16string_view a, const char* b) {
  std::size_t i = 0;
  for (; b[i] != '\0'; ++i)
    if (i >= a.size() || a[i] != static_cast<unsigned char>(b[i])) return false;
  return i == a.size();
}

char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char16_t AsciiLowerChar16(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualsNoCase(std::string_view a, const char* b) {
  std::size_t i = 0;
  for (; b[i] != '\0'; ++i)
    if (i >= a.size() || AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return i == a.size();
}

bool InList(std::u16string_view text, Literals list) {
  for (const char* l : list)
    if (Equals(text, l)) return true;
  return false;
}

bool InListNoCase(std::string_view text, Literals list) {
  for (const char* l : list)
    if (EqualsNoCase(text, l)) return true;
  return false;
}

struct KindGroup {
  int kind;
  Literals extensions;
};

// In the order the first stage tests them; a later match would win, but no
// extension stands in two groups.
const KindGroup kKindGroups[] = {
    {1, {"zip", "rar", "arj", "cab", "tar", "lzh", "alz"}},
    {2, {"bmp", "jpg", "jpeg", "png", "tif", "tiff", "jpe", "gif", "jfif", "dib", "emf", "wmf", "mng", "jng", "tga",
         "pcx", "jp2", "jbg", "jpc", "pnm", "pgm", "ppm", "ras", "wbmp", "j2k", "j2c", "pgx", "k25", "erf", "dng",
         "kdc", "nef", "pef", "x3f"}},
    {3, {"htm", "html", "xht", "mht", "shtm", "shtml", "plg", "mhtml", "xhtml", "doc", "docx", "xls", "ppt", "xlsx",
         "pptx", "dot", "dotx", "ppsx", "pot", "potx", "pps", "xlt", "xltx", "xlw", "xlb"}},
    {4, {"avi", "mp3", "wav", "asf", "wmv", "mpeg", "mpg", "wma", "midi", "mid", "rmi", "au"}},
    {5, {"mdf", "dbf", "csv"}},
    {6, {"bkf"}},
    {7, {"rtf"}},
    {8, {"txt", "cpp", "text", "log", "ini", "c", "bat", "dsw", "cc", "css", "hpp", "h", "inf", "sln", "cs", "asp",
         "cxx", "java", "prg", "def", "csproj", "lic", "asm", "vcproj", "dsp", "php", "js", "frm", "xml", "hh", "jsp",
         "cgi", "reg"}},
    {9, {"pdf"}},
};

const KindGroup kViewerGroups[] = {
    {0, {"BMP", "WBMP", "WMF", "EMF", "PNG", "MNG", "JNG", "JFIF", "DIB", "GIF", "TIF", "TIFF", "TGA", "PCX", "JPG",
         "JPE", "J2K", "JP2", "JBG", "J2C", "JPC", "PGX", "PNM", "PGM", "PPM", "RAS", "X3F", "PEF", "NEF", "KDC", "K25",
         "ERF", "DNG", "JPEG"}},
    {2, {"ZIP", "RAR", "CAB", "ARJ", "LZH", "ALZ", "TAR"}},
    {3, {"MDF", "DBF", "CSV"}},
    {4, {"RTF"}},
    {5, {"DOC", "DOT", "DOCX", "DOTX", "XLS", "XLT", "XLW", "XLB", "XLSX", "XLTX", "PPT", "PPS", "POT", "PPTX", "PPSX",
         "POTX", "HTM", "HTML", "PDF", "SHTML", "SHTM", "MHTML", "MHT", "XHTML", "XHT", "PLG"}},
    {6, {"BKF"}},
    {7, {"MP3", "AVI", "ASF", "MPEG", "MID", "RMI", "WAV", "WMV", "MPG", "WMA", "MIDI", "AU"}},
    {8, {"TXT", "CPP", "H", "BAT", "C", "PRG", "TEXT", "CXX", "HPP", "XML", "CC", "HH", "ASM", "JS", "PHP", "ASP",
         "LIC", "DEF", "CSPROJ", "VCPROJ", "SLN", "CSS", "DSP", "DSW", "CS", "JAVA", "INF", "INI", "LOG", "CGI", "JSP",
         "REG", "FRM"}},
};

struct IconGroup {
  const char* key;
  Literals members;
};

// Tested in this order; the first group holding the extension gives its key.
const IconGroup kIconGroups[] = {
    {".asm", {".asm", ".asmx", ".vsz", ".vsprops", ".s"}},
    {".asp", {".asp", ".aspx", ".asa", ".asax"}},
    {".au", {".aif", ".aiff", ".asf", ".asx", ".au", ".cda", ".mid", ".midi", ".ram", ".snd", ".wm", ".wmd", ".wax",
             ".m3u", ".mp3", ".rm", ".rmi", ".wav", ".voc", ".3gp", ".amr", ".aac", ".mmf", ".ra"}},
    {".avi", {".avi", ".avs", ".m1s", ".m1v", ".m2v", ".mmm", ".mov", ".mp2", ".mp4", ".mpa", ".mpe", ".mpeg", ".mpg",
              ".mps", ".mpv2", ".mod", ".mpv", ".wmv", ".wma", ".wmx", ".wmz", ".mp2v", ".vob", ".flv"}},
    {".bas", {".bas", ".cls", ".cd", ".ctl", ".mad", ".maw", ".vbz", ".xdr"}},
    {".bat", {".bat", ".cmd", ".scf", ".sys", ".mak", ".prg", ".fxp", ".app", ".class", ".mk", ".btm", ".pmk"}},
    {".bmp", {".bmp", ".cpt", ".cr2", ".crw", ".dcr", ".indd", ".k25", ".kdc", ".l64", ".mng", ".nef", ".orf", ".qfx",
              ".raf", ".ras", ".img", ".cap", ".dcx", ".dpx", ".dib", ".drw", ".ds4", ".msp", ".pcx", ".xbm", ".ppm",
              ".pbm", ".pgm", ".wbmp", ".pnm", ".tga", ".erf"}},
    {".bsc", {".bsc", ".cdx", ".clp", ".inl", ".ldb", ".mny", ".ncb", ".nff", ".nsf", ".obj", ".obs", ".o", ".opt",
              ".yxx", ".pl", ".py", ".y", ".java", ".a", ".inc", ".map", ".lst", ".def", ".lic", ".tli", ".sbr", ".dic",
              ".exc"}},
    {".c", {".c", ".cc"}},
    {".cfg", {".cfg", ".config", ".pst", ".xst", ".rwz", ".ost", ".otm", ".det", ".nk2", ".fdm", ".epf", ".nick"}},
    {".chm", {".chm", ".hxe", ".hxk", ".hxs"}},
    {".cpp", {".cpp", ".cxx"}},
    {".cs", {".cs", ".csproj", ".csdproj"}},
    {".dbf", {".dbf", ".pdb", ".fpt", ".dct", ".dbc", ".cdx"}},
    {".dll", {".dll", ".db"}},
    {".doc", {".doc", ".dochtml", ".dot", ".dothtml", ".rtf", ".wpd", ".docxml", ".docmhtl", ".docx", ".docm", ".dotm",
              ".dotx", ".wri", ".wps", ".dotxml", ".dotmhtl"}},
    {".dsp", {".dsp", ".vcproj", ".vcp"}},
    {".eml", {".eml", ".dbx", ".mbx", ".msg", ".oft", ".mapimail"}},
    {".exe", {".exe", ".bin", ".com", ".scr", ".hta", ".out"}},
    {".fon", {".fon", ".ttf", ".font"}},
    {".frm", {".frm", ".frx", ".frt"}},
    {".gif", {".gif", ".emf", ".wmf", ".png", ".theme", ".tpl", ".thm", ".x3f", ".wpg", ".t64", ".sr2", ".sid"}},
    {".h", {".h", ".hh", ".pch", ".hxx", ".hpp"}},
    {".hlp", {".hlp", ".hpj", ".hxct"}},
    {".htm", {".htm", ".html", ".cgi", ".htt", ".jsp", ".php", ".plg", ".url", ".shtm", ".shtml", ".xht", ".xhtml",
              ".mht", ".mhtml", ".pub", ".pubhtml"}},
    {".ini", {".ini", ".css", ".inf", ".info", ".drv"}},
    {".jpg", {".jpg", ".jpe", ".jpeg", ".jfif", ".cdr", ".crw", ".pic", ".pict", ".jp2", ".jbg", ".jpc", ".jng",
              ".dng"}},
    {".js", {".js", ".jse", ".mat", ".awk", ".rgs", ".jsx", ".vbs", ".wsc"}},
    {".lib", {".lib", ".exp", ".ocx"}},
    {".mdb", {".mdb", ".mda", ".ade", ".adn", ".adp", ".ldb", ".mdf", ".ldf", ".mas", ".mde", ".mdhtml", ".mdn", ".mdt",
              ".mdw", ".mdz", ".udl"}},
    {".msi", {".msi", ".msp", ".zap"}},
    {".pdf", {".pdf", ".ppd", ".ps", ".akf", ".apf", ".clx", ".env", ".fdf", ".hyp", ".joboption", ".pdx", ".rmf",
              ".sequ", ".udc", ".xdp", ".xfdf", ".jdf", ".mjd", ".pdp"}},
    {".pps", {".pps", ".ppsx"}},
    {".ppt", {".ppt", ".pot", ".pothtml", ".ppa", ".pwz", ".ppthtml", ".pptmhtml", ".potx", ".pptx"}},
    {".psd", {".psd", ".pdd", ".pct", ".pef", ".psb", ".psf", ".psp", ".pxr", ".sct", ".srf", ".raw"}},
    {".rar", {".rar", ".arc", ".arj", ".bag", ".bz2", ".bhx", ".gz", ".jar", ".lza", ".sit", ".tar", ".tgz", ".ace",
              ".bz", ".7z", ".hqx", ".iso", ".lha", ".tbz2", ".tbz", ".xxe", ".lzh", ".b64", ".wzmul", ".wzf", ".tz",
              ".uu", ".uue", ".taz"}},  // and ".r00" to ".r29", below
    {".rc", {".rc", ".res", ".rc2", ".rct", ".resx", ".vct", ".vcx", ".dsm", ".pag"}},
    {".sln", {".sln", ".dsw", ".vcw", ".suo"}},
    {".swf", {".swf", ".fla"}},
    {".tif", {".tif", ".tiff", ".skin", ".mdi"}},
    {".txt", {".txt", ".text", ".dat", ".lnk", ".log", ".pwl", ".bak", ".lgc", ".asc", ".cas"}},
    {".vb", {".vb", ".vbp", ".vbproj", ".vbg", ".vbdproj"}},
    {".xls", {".xls", ".csv", ".wks", ".xlb", ".xlm", ".xlv", ".xlw", ".xlxml", ".xlthtml", ".xlt", ".xlshtml",
              ".xlsmhtml", ".xll", ".xlk", ".xlc", ".xla", ".xltx", ".xlsx", ".wk1", ".wk3", ".wk4", ".fmt", ".fm3",
              ".slk", ".cnv"}},
    {".xml", {".xml", ".xrb", ".dtd", ".xsl", ".xslt", ".xoml", ".xmta", ".xaml"}},
    {".zip", {".zip", ".cab", ".z", ".dmp"}},
    {"unknown", {".ico", ".cur", ".ani"}},
};

// ".r00" to ".r29", the split parts of an archive.
bool IsSplitArchivePart(std::u16string_view ext) {
  return ext.size() == 4 && ext[0] == u'.' && ext[1] == u'r' && ext[2] >= u'0' && ext[2] <= u'2' && ext[3] >= u'0' &&
         ext[3] <= u'9';
}

}  // namespace

std::u16string FromAscii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLowerChar16(a[i]) != AsciiLowerChar16(b[i])) return false;
  return true;
}

bool NameEndsWith(std::u16string_view name, std::u16string_view suffix) {
  return name.size() >= suffix.size() && EqualsNoCase(name.substr(name.size() - suffix.size()), suffix);
}

std::u16string AsciiLower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = AsciiLowerChar16(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

std::u16string DottedExtension(std::u16string_view name) {
  const std::size_t dot = name.rfind(u'.');
  return dot == std::u16string_view::npos ? std::u16string() : AsciiLower(name.substr(dot));
}

int GetPreviewKind(std::u16string_view extension) {
  int kind = 0;
  for (const KindGroup& g : kKindGroups)
    if (InList(extension, g.extensions)) kind = g.kind;
  return kind;
}

int GetViewerTypeFromExtension(std::string_view extension) {
  for (const KindGroup& g : kViewerGroups)
    if (InListNoCase(extension, g.extensions)) return g.kind;
  return -1;
}

std::u16string PreviewExtension(std::u16string_view name) {
  const std::size_t dot = name.rfind(u'.');
  // No '.': a text no table holds (tables hold no '.' of their own).
  if (dot == std::u16string_view::npos) return u".";
  return AsciiLower(name.substr(dot + 1));
}

std::string ViewerToken(std::u16string_view name) {
  std::size_t end = name.size();
  while (end > 0 && name[end - 1] == u'.') --end;
  if (end == 0) return {};
  const std::size_t dot = name.substr(0, end).rfind(u'.');
  const std::u16string_view token = dot == std::u16string_view::npos ? name.substr(0, end)
                                                                      : name.substr(dot + 1, end - dot - 1);
  std::string out;
  out.reserve(token.size());
  for (char16_t c : token) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

std::u16string GetFileTypeIconKey(std::u16string_view name) {
  const std::u16string lower = AsciiLower(name);
  const std::size_t dot = lower.rfind(u'.');
  if (dot == std::u16string::npos) return u"unknown";
  const std::u16string ext = lower.substr(dot);
  for (const IconGroup& g : kIconGroups) {
    if (InList(ext, g.members)) return FromAscii(g.key);
    if (Equals(u".rar", g.key) && IsSplitArchivePart(ext)) return u".rar";
  }
  return ext;
}

const std::array<std::u16string, 60>& IconKeyTable() {
  static const std::array<std::u16string, 60> keys = {
      u"Fol",  u"DelFol", u"File", u"DelFile", u".asm", u".asp", u".au",     u".avi",     u".bas",     u".bat",
      u".bkf", u".bmp",   u".bsc", u".c",      u".cfg", u".chm", u".cpp",    u".cs",      u".dbf",     u".dll",
      u".doc", u".dsp",   u".dsr", u".eml",    u".exe", u".fnd", u".fon",    u".frm",     u".gif",     u".h",
      u".hlp", u".htm",   u".ini", u".jpg",    u".js",  u".lib", u".mdb",    u".msi",     u".nfo",     u".pdf",
      u".pfm", u".ppt",   u".pps", u".psd",    u".rar", u".rc",  u".reg",    u".sln",     u".swf",     u".tif",
      u".txt", u".vb",    u".wab", u".xls",    u".xml", u".zip", u"unknown", u"reserve2", u"reserve3", u"reserve4"};
  return keys;
}

int GetFileIconIndex(const std::array<std::u16string, 60>& keys, std::u16string_view name, std::uint8_t attribute,
                     bool deleted) {
  if (attribute & 0x10) return deleted ? 1 : 0;
  if (deleted) return 3;
  const std::u16string key = GetFileTypeIconKey(name);
  for (int i = 4; i < 60; ++i)
    if (keys[static_cast<std::size_t>(i)] == key) return i;
  return 2;
}

PreviewPane ChoosePreview(std::u16string_view name, std::uint64_t size, bool isFolder, bool forceHex) {
  if (forceHex) return PreviewPane::Hex;
  if (isFolder || size == 0) return PreviewPane::Placeholders;
  if (size > kPreviewSizeLimit) return PreviewPane::Hex;
  const int kind = GetPreviewKind(PreviewExtension(name));
  // The second stage decides again from the name's last token; a name
  // without '.' is always hex.
  if (name.find(u'.') == std::u16string_view::npos) return PreviewPane::Hex;
  const std::string token = ViewerToken(name);
  const int type = token.empty() ? -1 : GetViewerTypeFromExtension(token);
  switch (kind) {
    case 1: return type == 2 ? PreviewPane::Archive : PreviewPane::Hex;
    case 2: return type == 0 ? PreviewPane::Image : PreviewPane::Hex;
    case 3: {
      if (type != 5) return PreviewPane::Hex;
      return OfficeAppKind(DottedExtension(name)) == 4 ? PreviewPane::Html : PreviewPane::Office;
    }
    case 4: return type == 7 ? PreviewPane::Media : PreviewPane::Hex;
    case 5: return type == 3 ? PreviewPane::Table : PreviewPane::Hex;
    case 6: return type == 6 ? PreviewPane::Backup : PreviewPane::Hex;
    case 7: return type == 4 ? PreviewPane::Rtf : PreviewPane::Hex;
    case 8: return type == 8 ? PreviewPane::Text : PreviewPane::Hex;
    case 9: return type == 5 ? PreviewPane::Pdf : PreviewPane::Hex;
    default: return PreviewPane::Hex;
  }
}

int OfficeAppKind(std::u16string_view dottedExtension) {
  if (InList(dottedExtension, {".doc", ".docx", ".dot", ".dotx"})) return 1;
  if (InList(dottedExtension, {".xls", ".xlsx", ".xlt", ".xltx", ".xlb", ".xlw"})) return 2;
  if (InList(dottedExtension, {".ppt", ".pptx", ".pps", ".ppsx", ".pot", ".potx"})) return 3;
  return 4;
}

bool IsMediaExtension(std::u16string_view dottedExtension) {
  return InList(AsciiLower(dottedExtension),
                {".mp3", ".wav", ".avi", ".asf", ".mpeg", ".wmv", ".au", ".wma", ".mpg", ".midi", ".mid", ".rmi"});
}

bool IsVideoExtension(std::u16string_view dottedExtension) {
  return InList(AsciiLower(dottedExtension), {".avi", ".asf", ".wmv", ".mpg", ".mpeg"});
}

}  // namespace corvan
