#include "preview/MimeReader.h"

#include <algorithm>
#include <map>

#include "preview/PreviewKinds.h"

namespace corvan {

namespace {

constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxParts = 4096;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// One line from `pos`: its text without the line end; `pos` moves past it.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  const std::size_t nl = text.find('\n', pos);
  std::size_t end = nl == std::string_view::npos ? text.size() : nl;
  pos = nl == std::string_view::npos ? text.size() : nl + 1;
  if (end > start && text[end - 1] == '\r') --end;
  return text.substr(start, end - start);
}

bool LooksLikeHeader(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = line[i];
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

struct Entity {
  std::map<std::string, std::string> headers;  // lower-case names, first of each
  std::string_view body;
};

Entity SplitEntity(std::string_view text) {
  Entity e;
  std::size_t pos = 0;
  std::size_t probe = 0;
  if (!LooksLikeHeader(NextLine(text, probe))) {
    e.body = text;
    return e;
  }
  std::string name, value;
  const auto keep = [&] {
    if (!name.empty()) e.headers.emplace(AsciiLower(name), std::string(Trim(value)));
    name.clear();
    value.clear();
  };
  while (pos < text.size()) {
    const std::string_view line = NextLine(text, pos);
    if (line.empty()) break;
    if ((line[0] == ' ' || line[0] == '\t') && !name.empty()) {
      value += ' ';
      value += Trim(line);
      continue;
    }
    keep();
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    name = std::string(Trim(line.substr(0, colon)));
    value = std::string(line.substr(colon + 1));
  }
  keep();
  e.body = text.substr(pos);
  return e;
}

struct ContentType {
  std::string type;
  std::map<std::string, std::string> params;
};

ContentType ParseContentType(std::string_view value) {
  ContentType ct;
  std::size_t pos = value.find(';');
  ct.type = AsciiLower(Trim(value.substr(0, pos)));
  while (pos != std::string_view::npos && pos < value.size()) {
    ++pos;
    const std::size_t eq = value.find('=', pos);
    if (eq == std::string_view::npos) break;
    const std::string key = AsciiLower(Trim(value.substr(pos, eq - pos)));
    std::size_t v = eq + 1;
    while (v < value.size() && (value[v] == ' ' || value[v] == '\t')) ++v;
    std::string param;
    if (v < value.size() && value[v] == '"') {
      ++v;
      while (v < value.size() && value[v] != '"') {
        if (value[v] == '\\' && v + 1 < value.size()) ++v;
        param.push_back(value[v++]);
      }
      pos = value.find(';', v);
    } else {
      pos = value.find(';', v);
      param = std::string(Trim(value.substr(v, pos == std::string_view::npos ? std::string_view::npos : pos - v)));
    }
    ct.params.emplace(key, param);
  }
  return ct;
}

std::string StripAngles(std::string_view id) {
  id = Trim(id);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return std::string(id);
}

class Reader {
 public:
  explicit Reader(MhtDocument& doc) : doc_(doc) {}

  // Returns the index of the root part of this entity, or npos.
  std::size_t Read(std::string_view text, int depth) {
    if (doc_.parts.size() >= kMaxParts) return std::string::npos;
    const Entity e = SplitEntity(text);
    const auto header = [&](const char* name) -> std::string {
      const auto it = e.headers.find(name);
      return it == e.headers.end() ? std::string() : it->second;
    };
    const std::string typeHeader = header("content-type");
    ContentType ct = ParseContentType(typeHeader);
    if (e.headers.empty() && typeHeader.empty()) ct.type = "text/html";
    if (ct.type.empty()) ct.type = "text/plain";

    const auto boundary = ct.params.find("boundary");
    if (ct.type.rfind("multipart/", 0) == 0 && boundary != ct.params.end() && !boundary->second.empty() &&
        depth < kMaxDepth)
      return ReadMultipart(e.body, ct, boundary->second, depth);

    MimePart part;
    part.contentType = ct.type;
    const auto charset = ct.params.find("charset");
    if (charset != ct.params.end()) part.charset = AsciiLower(charset->second);
    part.location = header("content-location");
    part.contentId = StripAngles(header("content-id"));
    const std::string encoding = AsciiLower(header("content-transfer-encoding"));
    if (encoding == "base64") {
      part.body = DecodeBase64(e.body);
    } else if (encoding == "quoted-printable") {
      part.body = DecodeQuotedPrintable(e.body);
    } else {
      part.body.assign(e.body.begin(), e.body.end());
    }
    doc_.parts.push_back(std::move(part));
    return doc_.parts.size() - 1;
  }

 private:
  std::size_t ReadMultipart(std::string_view body, const ContentType& ct, const std::string& boundary, int depth) {
    const std::string delimiter = "--" + boundary;
    std::vector<std::string_view> bodies;
    std::size_t pos = 0;
    std::size_t partStart = std::string_view::npos;
    bool ended = false;
    while (pos < body.size() && !ended) {
      const std::size_t lineStart = pos;
      const std::string_view line = NextLine(body, pos);
      if (line.substr(0, delimiter.size()) != delimiter) continue;
      const std::string_view rest = Trim(line.substr(delimiter.size()));
      const bool closing = rest.substr(0, 2) == "--";
      if (!rest.empty() && !closing) continue;  // a line that only begins like the delimiter
      if (partStart != std::string_view::npos) {
        // The line end before a delimiter belongs to the delimiter.
        std::size_t end = lineStart;
        if (end > partStart && body[end - 1] == '\n') --end;
        if (end > partStart && body[end - 1] == '\r') --end;
        bodies.push_back(body.substr(partStart, end - partStart));
      }
      partStart = pos;
      ended = closing;
    }
    // A multipart cut off without its closing delimiter keeps its last part.
    if (!ended && partStart != std::string_view::npos && partStart < body.size())
      bodies.push_back(body.substr(partStart));

    const std::size_t first = doc_.parts.size();
    std::vector<std::size_t> roots;
    for (std::string_view b : bodies) {
      const std::size_t r = Read(b, depth + 1);
      if (r != std::string::npos) roots.push_back(r);
    }
    if (roots.empty()) return std::string::npos;
    // The page: the part "start" names, else the first of the type "type"
    // names, else the first HTML part, else the first part.
    const auto start = ct.params.find("start");
    if (start != ct.params.end()) {
      const std::string id = StripAngles(start->second);
      for (std::size_t i = first; i < doc_.parts.size(); ++i)
        if (doc_.parts[i].contentId == id) return i;
    }
    const auto type = ct.params.find("type");
    if (type != ct.params.end()) {
      const std::string wanted = AsciiLower(type->second);
      for (std::size_t r : roots)
        if (doc_.parts[r].contentType == wanted) return r;
    }
    for (std::size_t r : roots)
      if (doc_.parts[r].contentType == "text/html") return r;
    return roots.front();
  }

  MhtDocument& doc_;
};

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view PathTail(std::string_view url) {
  const std::size_t cut = url.find_first_of("?#");
  if (cut != std::string_view::npos) url = url.substr(0, cut);
  const std::size_t slash = url.find_last_of("/\\");
  return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

}  // namespace

std::vector<std::uint8_t> DecodeBase64(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const int v = Base64Value(c);
    if (v < 0) continue;
    acc = (acc << 6 | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
    }
  }
  return out;
}

std::vector<std::uint8_t> DecodeQuotedPrintable(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '=') {
      out.push_back(static_cast<std::uint8_t>(c));
      continue;
    }
    // "=" at a line end (after optional white space) is a soft line break.
    std::size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j < text.size() && (text[j] == '\r' || text[j] == '\n')) {
      if (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ++j;
      i = j;
      continue;
    }
    if (j == text.size()) break;
    const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (hi >= 0 && lo >= 0) {
      out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back('=');  // not an escape: kept as written
    }
  }
  return out;
}

bool ReadMht(std::span<const std::uint8_t> data, MhtDocument& out) {
  out = MhtDocument{};
  if (data.empty()) return false;
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  Reader reader(out);
  const std::size_t root = reader.Read(text, 0);
  if (root == std::string::npos || out.parts.empty()) return false;
  out.root = root;
  return true;
}

const MimePart* MhtDocument::Find(std::string_view url) const {
  url = Trim(url);
  if (url.empty()) return nullptr;
  if (AsciiLower(url.substr(0, 4)) == "cid:") {
    const std::string id = StripAngles(url.substr(4));
    for (const MimePart& p : parts)
      if (!p.contentId.empty() && p.contentId == id) return &p;
    return nullptr;
  }
  for (const MimePart& p : parts)
    if (!p.location.empty() && p.location == url) return &p;
  // Relative to the page's own location.
  const MimePart* page = Root();
  if (page && url.find(':') == std::string_view::npos) {
    const std::size_t slash = page->location.find_last_of('/');
    std::string_view rel = url;
    while (rel.substr(0, 2) == "./") rel.remove_prefix(2);
    const std::string full = (slash == std::string::npos ? std::string() : page->location.substr(0, slash + 1)) +
                             std::string(rel);
    for (const MimePart& p : parts)
      if (!p.location.empty() && p.location == full) return &p;
  }
  // Last: the same file name.
  const std::string_view tail = PathTail(url);
  if (tail.empty()) return nullptr;
  for (const MimePart& p : parts)
    if (!p.location.empty() && PathTail(p.location) == tail) return &p;
  return nullptr;
}

}  // namespace corvan
