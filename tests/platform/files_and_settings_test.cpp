#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileHandle.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

TEST(FileHandle, ReadsShortOnlyAtTheEndAndNeverWritesReadOnly) {
  TempDir dir;
  WriteWholeFile(dir / "f", "0123456789");
  auto f = FileHandle::Open(dir / "f", FileHandle::Mode::ReadOnly);
  ASSERT_TRUE(f);
  char buf[8] = {};
  EXPECT_EQ(f.ReadAt(buf, 4, 3), 4);
  EXPECT_EQ(std::string(buf, 4), "3456");
  EXPECT_EQ(f.ReadAt(buf, 8, 6), 4);
  EXPECT_FALSE(f.ReadExactAt(buf, 8, 6));
  EXPECT_EQ(f.ReadAt(buf, 8, 100), 0);
  EXPECT_FALSE(f.WriteAt("x", 1, 0));
  EXPECT_EQ(ReadWholeFile(dir / "f"), "0123456789");
  EXPECT_EQ(f.Size(), 10u);
}

TEST(FileHandle, CreateNewRefusesAnExistingFile) {
  TempDir dir;
  WriteWholeFile(dir / "f", "keep");
  std::error_code ec;
  auto f = FileHandle::Open(dir / "f", FileHandle::Mode::CreateNew, ec);
  EXPECT_FALSE(f);
  EXPECT_EQ(ec, std::errc::file_exists);
  EXPECT_EQ(ReadWholeFile(dir / "f"), "keep");
}

TEST(FileHandle, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
  TempDir dir;
  WriteWholeFile(dir / "f", "old contents");
  ASSERT_TRUE(WriteFileAtomically(dir / "f", "new", 3));
  EXPECT_EQ(ReadWholeFile(dir / "f"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFile, KeepsCommentsAndOrderAndComparesNamesWithoutCase) {
  IniFile ini;
  ini.Parse("; user notes\n[LOG]\nSaveLog = 1\n\n[Raw]\nSetRaw=0\n");
  EXPECT_EQ(ini.Get("log", "savelog"), "1");
  EXPECT_EQ(ini.Get("RAW", "SETRAW"), "0");
  EXPECT_FALSE(ini.Get("LOG", "LogPath"));
  ini.Set("Log", "LogPath", "/tmp/x");
  ini.Set("Update", "CheckUpdate", "1");
  EXPECT_EQ(ini.Serialize(),
            "; user notes\n[LOG]\nSaveLog=1\nLogPath=/tmp/x\n\n[Raw]\nSetRaw=0\n[Update]\nCheckUpdate=1\n");
}

TEST(IniFile, ProfileIntegersReadLikeTheirReaders) {
  EXPECT_EQ(ParseProfileInt("12", 5), 12);
  EXPECT_EQ(ParseProfileInt(" -3", 5), -3);
  EXPECT_EQ(ParseProfileInt("7abc", 5), 7);
  EXPECT_EQ(ParseProfileInt("abc", 5), 5);
  EXPECT_EQ(ParseProfileInt("", 5), 5);
  EXPECT_EQ(ParseProfileInt("99999999999", 5), 5);
}

TEST(Profile, RoundTripsWhatTheProgramWrites) {
  TempDir dir;
  Profile p(dir / "sub" / "settings.ini");
  EXPECT_TRUE(p.WriteInt("LOG", "SaveLog", 1));
  EXPECT_TRUE(p.WriteString("LOG", "LogPath", "/data/logs"));
  EXPECT_TRUE(p.WriteInt("Update", "CheckUpdate", 0));
  EXPECT_TRUE(p.WriteInt("Raw", "SetRaw", 0));
  Profile again(dir / "sub" / "settings.ini");
  EXPECT_EQ(again.GetInt("LOG", "SaveLog", 0), 1);
  EXPECT_EQ(again.GetString("LOG", "LogPath"), "/data/logs");
  EXPECT_EQ(again.GetInt("Update", "CheckUpdate", 1), 0);
  EXPECT_EQ(again.GetInt("Raw", "SetRaw", 1), 0);
}

TEST(Profile, AValueItAlreadyHoldsLeavesTheFileAlone) {
  TempDir dir;
  const auto file = dir / "settings.ini";
  Profile p(file);
  ASSERT_TRUE(p.WriteString("LOG", "LogPath", "/data/logs"));
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  EXPECT_TRUE(p.WriteString("LOG", "LogPath", "/data/logs"));
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  // Saving goes through a new file renamed over the old: the same inode
  // means nothing was written.
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_TRUE(p.WriteString("LOG", "LogPath", "/other"));
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(Profile(file).GetString("LOG", "LogPath"), "/other");
}

TEST(Profile, HandEditedFileGivesDefaultsForMissingKeys) {
  TempDir dir;
  WriteWholeFile(dir / "settings.ini", "[log]\r\nshowdlg=1\r\n[Raw]\r\nSetRaw=\r\n");
  Profile p(dir / "settings.ini");
  EXPECT_EQ(p.GetInt("LOG", "ShowDlg", 0), 1);
  EXPECT_EQ(p.GetInt("LOG", "SaveLog", 0), 0);
  EXPECT_EQ(p.GetString("LOG", "LogPath", "dflt"), "dflt");
  EXPECT_EQ(p.GetInt("Raw", "SetRaw", 1), 1);  // present but empty
  EXPECT_EQ(p.GetInt("Update", "CheckUpdate", 0), 0);
  // A write keeps the hand-made lines.
  p.WriteInt("LOG", "SaveLog", 1);
  EXPECT_EQ(ReadWholeFile(dir / "settings.ini"), "[log]\nshowdlg=1\nSaveLog=1\n[Raw]\nSetRaw=\n");
}

TEST(ProductKey, InstalledValuesAreReadOnlyAndWrittenOnesWin) {
  TempDir dir;
  std::filesystem::create_directories(dir / "install");
  WriteWholeFile(dir / "install" / "product.ini",
                 "[Product]\nPath=.\nExeName=corvan\nVersion=2.0\nHomePage=https://example.org\n");
  Profile profile(dir / "settings.ini");
  ProductKey key(dir / "install", profile);
  EXPECT_EQ(key.Read("ExeName"), "corvan");
  EXPECT_EQ(key.Read("Version"), "2.0");
  EXPECT_EQ(key.Read("ScanPath"), "");
  EXPECT_EQ(key.InstallPath(), dir / "install");
  EXPECT_TRUE(key.Write("ScanPath", "/home/u/scan Drives.img"));
  EXPECT_EQ(key.Read("ScanPath"), "/home/u/scan Drives.img");
  EXPECT_EQ(ReadWholeFile(dir / "install" / "product.ini"),
            "[Product]\nPath=.\nExeName=corvan\nVersion=2.0\nHomePage=https://example.org\n");
}

TEST(Folders, AnEmptyWorkFolderGoesWhenTheProcessEnds) {
  TempDir dir;
  const auto cache = dir / "cache";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const auto work = ProcessWorkFolder();
    std::exit(std::filesystem::is_directory(work) ? 0 : 3);  // ends as the program does
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child made no work folder";
  EXPECT_FALSE(std::filesystem::exists(cache / "corvan" / ("work-" + std::to_string(child))));
}

TEST(Folders, FollowTheEnvironment) {
  TempDir dir;
  test::UserFolders folders(dir.path());
  EXPECT_EQ(UserConfigFolder(), dir / "config" / "corvan");
  EXPECT_EQ(UserDataFolder(), dir / "data" / "corvan");
  EXPECT_TRUE(std::filesystem::is_directory(UserDataFolder()));
  const auto work = ProcessWorkFolder();
  EXPECT_EQ(work.parent_path(), dir / "cache" / "corvan");
  EXPECT_TRUE(std::filesystem::is_directory(work));
  RemoveProcessWorkFolder();
  EXPECT_FALSE(std::filesystem::exists(work));

  ::setenv("CORVAN_HOME", (dir / "home").c_str(), 1);
  EXPECT_EQ(InstallFolder(), dir / "home");
  ::unsetenv("CORVAN_HOME");
  // Without the variable a build tree falls back to the source resources.
  EXPECT_TRUE(std::filesystem::exists(InstallFolder() / "product.ini"));
}

}  // namespace
}  // namespace corvan
