#include "save/OutputWriter.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace corvan {

bool OutputWriter::WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool OutputWriter::Truncate(int fd, std::uint64_t size) {
  int r;
  do {
    r = ::ftruncate(fd, static_cast<off_t>(size));
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool OutputWriter::Close(int fd) {
  // Linux releases the descriptor even when close reports an error: never retry.
  return ::close(fd) == 0 || errno == EINTR;
}

bool OutputWriter::HasRoom(int dirFd) {
  struct statvfs st {};
  if (::fstatvfs(dirFd, &st) != 0) return true;
  // The blocks kept for the superuser are room only for the superuser.
  const auto blocks = ::geteuid() == 0 ? st.f_bfree : st.f_bavail;
  if (blocks == 0) return false;
  // File systems without a fixed number of files report 0 files in all.
  return st.f_files == 0 || st.f_favail > 0;
}

OutputWriter& DefaultOutputWriter() {
  static OutputWriter writer;
  return writer;
}

}  // namespace corvan
