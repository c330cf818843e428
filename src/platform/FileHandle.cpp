#include "platform/FileHandle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace corvan {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileHandle FileHandle::Open(const std::filesystem::path& path, Mode mode, std::error_code& ec) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::ReadOnly:
    case Mode::ReadDrive: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Mode::OpenOrCreate: flags |= O_RDWR | O_CREAT; break;
  }
  // A source is opened without blocking, so that a FIFO cannot hold the
  // open until some writer appears; what it turns out to be is checked
  // before anything reads from it.
  const bool source = mode == Mode::ReadOnly || mode == Mode::ReadDrive;
  if (source) flags |= O_NONBLOCK;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    ec = std::error_code(errno, std::generic_category());
    return FileHandle();
  }
  FileHandle handle(fd);
  if (source) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      ec = std::error_code(errno, std::generic_category());
      return FileHandle();
    }
    // Only files and disks hold sectors; a folder, FIFO, socket or
    // character device would read as nothing or never answer.
    const bool drive = mode == Mode::ReadDrive && S_ISBLK(st.st_mode);
    if (!S_ISREG(st.st_mode) && !drive) {
      ec = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory
                                                    : std::errc::no_such_device);
      return FileHandle();
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  }
  ec.clear();
  return handle;
}

void FileHandle::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::int64_t FileHandle::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  if (fd_ < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool FileHandle::ReadExactAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  return ReadAt(buffer, size, offset) == static_cast<std::int64_t>(size);
}

bool FileHandle::WriteAt(const void* buffer, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return false;
  const auto* in = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool FileHandle::Append(const void* buffer, std::size_t size) {
  const auto end = Size();
  return end && WriteAt(buffer, size, *end);
}

bool FileHandle::Truncate(std::uint64_t size) {
  return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool FileHandle::Sync() { return fd_ >= 0 && ::fsync(fd_) == 0; }

std::optional<std::uint64_t> FileHandle::Size() const {
  if (fd_ < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::nullopt;
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
    return bytes;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> FileSizeOf(const std::filesystem::path& path) {
  auto f = FileHandle::Open(path, FileHandle::Mode::ReadOnly);
  if (!f) return std::nullopt;
  return f.Size();
}

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::filesystem::path tmp = path;
  tmp += ".tmp-" + std::to_string(::getpid());
  {
    auto f = FileHandle::Open(tmp, FileHandle::Mode::CreateTruncate);
    if (!f) return false;
    if (!f.WriteAt(data, size, 0) || !f.Sync()) {
      f.Close();
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace corvan
