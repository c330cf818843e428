#include "sources/ui/ImageFileSearch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "sources/VirtualDiskImage.h"

namespace corvan {

namespace fs = std::filesystem;

namespace {

std::string DecodeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string oct = field.substr(i + 1, 3);
      if (oct.size() == 3 && std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out.push_back(static_cast<char>(std::strtol(oct.c_str(), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

using NodeId = std::pair<dev_t, ino_t>;

bool StatId(const fs::path& p, NodeId& id, bool& isDir, bool& isRegular) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  isDir = S_ISDIR(st.st_mode);
  isRegular = S_ISREG(st.st_mode);
  return true;
}

std::string LowerExtension(const fs::path& p) {
  const std::string name = p.filename().string();
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

std::vector<MountEntry> ParseMounts(std::string_view text) {
  std::vector<MountEntry> out;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string device, point, type;
    if (!(fields >> device >> point >> type)) continue;
    out.push_back({DecodeMountField(point), type});
  }
  return out;
}

bool IsPseudoFileSystem(const std::string& t) {
  static const std::set<std::string> pseudo = {
      "proc",     "sysfs",   "devtmpfs",   "devpts",   "tmpfs",      "cgroup",  "cgroup2", "securityfs",
      "pstore",   "bpf",     "debugfs",    "tracefs",  "configfs",   "fusectl", "mqueue",  "hugetlbfs",
      "autofs",   "binfmt_misc", "rpc_pipefs", "nsfs", "efivarfs", "selinuxfs", "ramfs", "overlay",
      "squashfs", "fuse.gvfsd-fuse", "fuse.portal"};
  return pseudo.count(t) != 0;
}

bool IsSystemFolder(const fs::path& path) {
  const fs::path p = path.lexically_normal();
  for (const char* top : {"/proc", "/sys", "/dev"}) {
    const fs::path t(top);
    auto mismatch = std::mismatch(t.begin(), t.end(), p.begin(), p.end());
    if (mismatch.first == t.end()) return true;
  }
  return false;
}

std::vector<fs::path> ImageSearchRoots(const std::vector<MountEntry>& mounts, const fs::path& home) {
  std::vector<fs::path> roots;
  const auto add = [&roots](const fs::path& p) {
    if (p.empty()) return;
    if (std::find(roots.begin(), roots.end(), p) == roots.end()) roots.push_back(p);
  };
  add(home);
  for (const MountEntry& m : mounts) {
    if (IsPseudoFileSystem(m.fsType) || IsSystemFolder(m.mountPoint)) continue;
    add(m.mountPoint);
  }
  return roots;
}

namespace {
std::string ReadMountsText() {
  std::ifstream in("/proc/self/mounts");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

std::vector<fs::path> SystemImageSearchRoots() {
  const char* home = std::getenv("HOME");
  return ImageSearchRoots(ParseMounts(ReadMountsText()), home ? fs::path(home) : fs::path());
}

std::vector<fs::path> ImageFileSearch::SystemSkipMounts() {
  std::vector<fs::path> skip;
  for (const MountEntry& m : ParseMounts(ReadMountsText()))
    if (IsPseudoFileSystem(m.fsType)) skip.push_back(m.mountPoint);
  return skip;
}

std::uint32_t ImageIndexForExtension(std::string ext) {
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".vmdk") return 1;
  if (ext == ".vdi") return 2;
  if (ext == ".vhd") return 3;
  return 0;
}

bool IsImageToList(const fs::path& path) {
  return ImageIndexForExtension(path.extension().string()) != 1 || CVirtualDiskImage::IsDescriptorFile(path);
}

ImageFileSearch::ImageFileSearch(std::vector<fs::path> skipMounts) : skipMounts_(std::move(skipMounts)) {}

std::size_t ImageFileSearch::Walk(const fs::path& folder, const std::string& extension,
                                  const std::atomic<bool>& stop, const FoundFn& found) {
  // Directories never entered: the system folders and the pseudo file
  // systems, by identity, so a link to them is refused too.
  std::set<NodeId> refused;
  for (const char* top : {"/proc", "/sys", "/dev"}) {
    NodeId id;
    bool dir = false, reg = false;
    if (StatId(top, id, dir, reg)) refused.insert(id);
  }
  for (const fs::path& p : skipMounts_) {
    NodeId id;
    bool dir = false, reg = false;
    if (StatId(p, id, dir, reg)) refused.insert(id);
  }

  std::set<NodeId> visited;
  std::size_t count = 0;
  std::vector<fs::path> pending{folder};
  while (!pending.empty() && !stop.load()) {
    const fs::path path = pending.back();
    pending.pop_back();
    NodeId id;
    bool isDir = false, isRegular = false;
    if (!StatId(path, id, isDir, isRegular)) continue;
    if (isDir) {
      if (refused.count(id) || IsSystemFolder(path) || !visited.insert(id).second) continue;
      std::error_code ec;
      fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
      if (ec) continue;
      std::vector<fs::path> children;
      for (; it != fs::directory_iterator() && !stop.load(); it.increment(ec)) {
        if (ec) break;
        children.push_back(it->path());
      }
      // Visited in directory order: the last pushed is taken first.
      pending.insert(pending.end(), children.rbegin(), children.rend());
      continue;
    }
    if (isRegular && LowerExtension(path) == extension) {
      ++count;
      found(path);
    }
  }
  return count;
}

}  // namespace corvan
