#pragma once
// A folder of a saving job's destination, held open by its descriptor.
// Every folder and file below the destination is made relative to its
// parent's descriptor (mkdirat, openat with O_NOFOLLOW), never through a
// path and never through the process's current folder, so a symbolic link
// planted in the destination is never followed and nothing lands outside it.

#include <cstdint>
#include <filesystem>
#include <string>

namespace corvan {

class LocalFolder {
 public:
  LocalFolder() = default;
  ~LocalFolder();
  LocalFolder(LocalFolder&& other) noexcept;
  LocalFolder& operator=(LocalFolder&& other) noexcept;
  LocalFolder(const LocalFolder&) = delete;
  LocalFolder& operator=(const LocalFolder&) = delete;

  // The destination the user chose, created with its parents when missing.
  // False with `err` (errno) set when it cannot be opened as a folder.
  bool OpenRoot(const std::filesystem::path& path, int& err);
  // Creates the subfolder `name` (one sanitised component) when missing and
  // opens it; a symbolic link or a non-folder of that name is refused.
  bool OpenSubfolder(const LocalFolder& parent, const std::string& name, int& err);
  // The same folder through a descriptor of its own.
  bool Duplicate(const LocalFolder& other, int& err);

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // For messages and log lines only; never used to reach the folder.
  const std::filesystem::path& DisplayPath() const { return path_; }

  struct Entry {
    bool exists = false;
    bool directory = false;
    std::uint64_t size = 0;
  };
  // What stands at `name` (a link is looked at, not followed).
  Entry Probe(const std::string& name) const;
  // A new file for writing; -1 with `err` set, EEXIST when the name is taken.
  int CreateFile(const std::string& name, int& err) const;
  // Removes whatever non-folder stands at `name` and creates a new file in
  // its place (a link is removed, never written through; a file with other
  // hard links keeps its data).
  int ReplaceFile(const std::string& name, int& err) const;
  bool Remove(const std::string& name) const;

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace corvan
