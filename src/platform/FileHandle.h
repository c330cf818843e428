#pragma once
// A file or device opened with POSIX positional I/O. One handle may serve
// several threads at once, since no call moves a shared file position.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

namespace corvan {

class FileHandle {
 public:
  enum class Mode {
    ReadOnly,        // images and their files: regular files only; never blocks on open
    ReadDrive,       // a physical drive: a block device (or a file standing in for one)
    ReadWrite,       // an existing file, not truncated
    CreateTruncate,  // create or empty
    CreateNew,       // create; fails when the file exists
    OpenOrCreate,    // create when missing, never truncate
  };

  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  static FileHandle Open(const std::filesystem::path& path, Mode mode, std::error_code& ec);
  static FileHandle Open(const std::filesystem::path& path, Mode mode) {
    std::error_code ec;
    return Open(path, mode, ec);
  }

  bool IsOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return IsOpen(); }
  int Descriptor() const { return fd_; }
  void Close();

  // Reads up to `size` bytes at `offset`, retrying short reads until the end
  // of the file. Returns the bytes read (less than `size` only at the end of
  // the file) or -1 on an I/O error.
  std::int64_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const;
  // True only when all `size` bytes were read.
  bool ReadExactAt(void* buffer, std::size_t size, std::uint64_t offset) const;

  // Writes all `size` bytes at `offset`; false on any error.
  bool WriteAt(const void* buffer, std::size_t size, std::uint64_t offset);
  // Appends at the current end of the file.
  bool Append(const void* buffer, std::size_t size);
  bool Truncate(std::uint64_t size);
  bool Sync();

  // Size of a regular file or of a block device.
  std::optional<std::uint64_t> Size() const;

 private:
  explicit FileHandle(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Size of the file at `path`, or nothing when it cannot be examined.
std::optional<std::uint64_t> FileSizeOf(const std::filesystem::path& path);

// Writes `data` to `path` through a temporary file in the same folder and a
// rename, so readers never see a half-written file.
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size);

}  // namespace corvan
