#pragma once
// The two questions a saving job asks while it runs, on its own thread: a
// name that already exists at the target, and what to do when Stop was
// pressed in the middle of a file. The file-exists and abort-saving dialogs
// implement this on the UI thread; runs without windows use
// UnattendedSaveDecisions.

#include <cstdint>
#include <string>

namespace corvan {

enum class FileExistAnswer : std::uint8_t {
  Rename,        // save under `renameTo` (checked again before use)
  RenameAll,     // this and every later clash: the first free "Copy%d_" name
  Overwrite,     // replace the existing file
  OverwriteAll,  // and every later one
  Skip,          // leave this one file out
  SkipAll,       // leave out every file that clashes
  Cancel,        // Esc: leave this one file out, nothing recorded
};

struct FileExistQuestion {
  std::u16string name;          // the clashing name, as it stands at the target
  std::uint64_t existingSize = 0;
  std::uint64_t newSize = 0;
  std::u16string proposedName;  // the first free "Copy%d_" name
};

enum class AbortAnswer : std::uint8_t {
  ContinueSaving = 0,
  SaveFileAndAbort = 1,
  AbortImmediately = 2,
};

class SaveDecisions {
 public:
  virtual ~SaveDecisions() = default;
  // `renameTo` starts as the proposal; a Rename answer leaves the name to
  // use in it.
  virtual FileExistAnswer AskFileExists(const FileExistQuestion& question, std::u16string& renameTo) = 0;
  virtual AbortAnswer AskAbortSaving(const std::u16string& fileName) = 0;
};

// Answers that lose nothing without asking: a clash is saved under the
// proposed new name, a stop request stops at once.
class UnattendedSaveDecisions final : public SaveDecisions {
 public:
  FileExistAnswer AskFileExists(const FileExistQuestion&, std::u16string&) override {
    return FileExistAnswer::Rename;
  }
  AbortAnswer AskAbortSaving(const std::u16string&) override { return AbortAnswer::AbortImmediately; }
};

}  // namespace corvan
