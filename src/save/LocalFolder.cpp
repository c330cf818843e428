#include "save/LocalFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace corvan {

LocalFolder::~LocalFolder() {
  if (fd_ >= 0) ::close(fd_);
}

LocalFolder::LocalFolder(LocalFolder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

LocalFolder& LocalFolder::operator=(LocalFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool LocalFolder::OpenRoot(const std::filesystem::path& path, int& err) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  *this = LocalFolder();
  fd_ = fd;
  path_ = path;
  return true;
}

bool LocalFolder::OpenSubfolder(const LocalFolder& parent, const std::string& name, int& err) {
  if (::mkdirat(parent.fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
    err = errno;
    return false;
  }
  const int fd = ::openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  *this = LocalFolder();
  fd_ = fd;
  path_ = parent.path_ / name;
  return true;
}

bool LocalFolder::Duplicate(const LocalFolder& other, int& err) {
  const int fd = ::fcntl(other.fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    err = errno;
    return false;
  }
  *this = LocalFolder();
  fd_ = fd;
  path_ = other.path_;
  return true;
}

LocalFolder::Entry LocalFolder::Probe(const std::string& name) const {
  Entry e;
  struct stat st {};
  if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return e;
  e.exists = true;
  e.directory = S_ISDIR(st.st_mode);
  e.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  return e;
}

int LocalFolder::CreateFile(const std::string& name, int& err) const {
  const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) err = errno;
  return fd;
}

int LocalFolder::ReplaceFile(const std::string& name, int& err) const {
  const Entry e = Probe(name);
  if (e.directory) {
    err = EISDIR;
    return -1;
  }
  if (e.exists && ::unlinkat(fd_, name.c_str(), 0) != 0 && errno != ENOENT) {
    err = errno;
    return -1;
  }
  return CreateFile(name, err);
}

bool LocalFolder::Remove(const std::string& name) const { return ::unlinkat(fd_, name.c_str(), 0) == 0; }

}  // namespace corvan
