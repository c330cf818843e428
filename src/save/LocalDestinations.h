#pragma once
// The destinations on a local disk: the found folders as folders of plain
// files, the same folders with each file in a zip archive of its own, and
// one "Recovered Data.zip" holding the whole job. Every byte goes through
// the job's OutputWriter. A write that fails is logged and the job goes on
// with the next file; it ends the job only when nothing more can be
// written where it failed (a read-only disk, or no free block even after
// the failed file was removed).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "save/LocalFolder.h"
#include "save/SaveDestination.h"
#include "save/zip/ZipUnzip.h"

namespace corvan {

class OutputWriter;

class LocalDestination : public SaveDestination {
 public:
  // `dest` may be relative: it is taken from the current folder.
  LocalDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer);
  bool Open() override;
  std::uint32_t CopyIndexLimit() const override;

 protected:
  // A write, create or close failure (`message` says what and why, `err` is
  // the errno) in the folder `where`: logged; it ends the job only when
  // nothing more can be written there at all.
  void WriteFailure(const std::string& message, int err, const LocalFolder& where);
  // One entry of an open archive: added, written block by block, then
  // closed, or dropped (and reported) when it failed. The archive's own
  // message names the archive; the log line names the entry.
  bool AddZipEntry(ZipUnzip& zip, const std::string& entryName, const FoundItemInfo& record,
                   const LocalFolder& where);
  bool WriteZipEntry(ZipUnzip& zip, const std::uint8_t* data, std::size_t size, int& error);
  bool CloseZipEntry(ZipUnzip& zip, const std::string& entryName, CopyEnd end, int writeError,
                     const LocalFolder& where);

  std::filesystem::path dest_;
  OutputWriter& writer_;
  LocalFolder root_;

 private:
  bool ZipEntryFailed(ZipUnzip& zip, const std::string& entryName, const std::string& why, int err,
                      const LocalFolder& where);
  std::string zipError_;  // what the archive said of the entry's failed write
};

// The found folders as folders, each file a file with the found file's times.
class FolderDestination : public LocalDestination {
 public:
  FolderDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer, int volumeKind);
  bool EnterFolder(const std::string& name) override;
  void LeaveFolder() override;
  std::string FolderText() const override;
  Entry Probe(const std::string& name) override;
  std::string Shown(const std::string& name) const override;
  Opened OpenFile(const SaveTarget& target) override;
  bool Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) override;
  Finished FinishFile(const SaveTarget& target, CopyEnd end, int writeError) override;

 protected:
  const LocalFolder& Current() const { return folders_.back(); }

 private:
  std::vector<LocalFolder> folders_;  // the walk's open folders, the destination first
  int volumeKind_;
  int fd_ = -1;  // the file being written
};

// The found folders as folders, each file in "<name>.zip" of its own.
class OwnZipDestination final : public FolderDestination {
 public:
  OwnZipDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer);
  std::string FileName(const std::string& name) const override;
  Opened OpenFile(const SaveTarget& target) override;
  bool Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) override;
  Finished FinishFile(const SaveTarget& target, CopyEnd end, int writeError) override;

 private:
  // Finishes the archive `name`; it is removed when it failed or when its
  // file was not `copied`.
  bool CloseArchive(const std::string& name, bool copied);
  ZipUnzip zip_;
};

// The whole job in one "Recovered Data.zip" in the destination folder,
// the found folders as entry paths. An entry may be added twice under one
// name: inside the archive no name clashes.
class SingleZipDestination final : public LocalDestination {
 public:
  SingleZipDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer);
  std::string JobFileName() const override;
  bool BeginJobFile(const std::string& name, bool replace) override;
  void End() override;
  bool EnterFolder(const std::string& name) override;
  void LeaveFolder() override;
  std::string FolderText() const override;
  Entry Probe(const std::string& name) override;
  std::string Shown(const std::string& name) const override;
  Opened OpenFile(const SaveTarget& target) override;
  bool Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) override;
  Finished FinishFile(const SaveTarget& target, CopyEnd end, int writeError) override;

 private:
  ZipUnzip zip_;
  std::string zipPath_;
  std::vector<std::string> components_;  // the walk's open folders; the first stands for the archive
  std::string entryName_;                // the entry being written
};

}  // namespace corvan
