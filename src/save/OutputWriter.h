#pragma once
// The last step of every byte the saving road writes: recovered files and
// zip archives alike. Each call is checked; tests put a writer here that
// fails as a full or broken disk would.

#include <cstddef>
#include <cstdint>

namespace corvan {

class OutputWriter {
 public:
  virtual ~OutputWriter() = default;
  // Writes all `size` bytes at `offset`; false with errno set otherwise.
  virtual bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
  virtual bool Truncate(int fd, std::uint64_t size);
  // Closes `fd` in every case; false (errno set) when the close reported an error.
  virtual bool Close(int fd);
  // Whether the file system that holds the folder `dirFd` has a free block
  // and a free file left; true when it cannot tell.
  virtual bool HasRoom(int dirFd);
};

// The writer over the POSIX calls.
OutputWriter& DefaultOutputWriter();

}  // namespace corvan
