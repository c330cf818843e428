// The saving thread with an FTP server as its destination (pyftpdlib and
// vsftpd, each started here on 127.0.0.1): whole corpus trees in active
// mode arrive with the truth's bytes and folders; name clashes get their
// answers; every way the server or the line can fail ends in a clear
// message, and no file that did not arrive whole is tagged "[Recovered]".

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "core/StringTable.h"
#include "save/FtpTestServer.h"
#include "save/SaveTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using test::AsText;
using test::Bytes;
using test::CountOf;
using test::ScriptedDecisions;

// Folders and files below `root`, as paths relative to it.
std::set<std::string> TreeOf(const fs::path& root, bool folders) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_directory() == folders) out.insert(fs::relative(e.path(), root).string());
  return out;
}

// ------------------------------------------------------------ corpus trees

struct VolumeCase {
  const char* name;
  std::uint16_t index;  // volume of disks/mbr.vmdk
};

class SaveFtpCorpus : public ::testing::TestWithParam<VolumeCase> {
 protected:
  // Saves the scanned volume to `settings` and checks what the server's
  // folder `served` holds against the truth: every live file with its MD5,
  // every live folder, nothing else.
  void SaveAndCompare(const FtpSettings& settings, const fs::path& served) {
    const std::string problem = volume_.Scan("disks/mbr.vmdk", GetParam().index);
    ASSERT_TRUE(problem.empty()) << problem;
    test::SaveOptionsForTest options;
    options.whichFiles = 0;
    options.ftp = &settings;
    const auto run = test::SaveStore(volume_.app, volume_.store, settings.remoteFolder, decisions_, options);
    EXPECT_FALSE(run.result.failedJob) << run.result.failure << "\n" << run.log.substr(0, 3000);
    EXPECT_TRUE(volume_.prompt.texts.empty());

    std::set<std::string> files, folders;
    for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (std::string(GetParam().name) +
                                                                           ".truth.tsv"))) {
      if (row.state != "live") continue;
      if (row.type == "dir") {
        folders.insert(row.path);
        continue;
      }
      if (row.type != "file") continue;
      files.insert(row.path);
      EXPECT_EQ(test::FileMd5(served / row.path), row.md5) << row.path;
    }
    ASSERT_GT(files.size(), 10u);
    // The save may add the folders NTFS keeps to itself; every other file
    // and folder on the server is one of the truth's.
    std::set<std::string> extraFiles;
    for (const std::string& f : TreeOf(served, false))
      if (!files.count(f) && f.rfind("$", 0) != 0) extraFiles.insert(f);
    EXPECT_TRUE(extraFiles.empty()) << *extraFiles.begin();
    for (const std::string& d : folders) EXPECT_TRUE(fs::is_directory(served / d)) << d;
    EXPECT_EQ(run.result.recovered, CountOf(run.log, "[Recovered]"));
    EXPECT_GE(run.result.recovered, files.size());
  }

  test::ScannedVolume volume_;
  UnattendedSaveDecisions decisions_;
};

TEST_P(SaveFtpCorpus, AWholeVolumeArrivesOnPyftpdlibInActiveMode) {
  const fs::path root = volume_.dir / "ftp";
  fs::create_directories(root);
  // Passive data connections are refused: only active mode can work.
  test::PyFtpServer server(root, {"--active-only"});
  ASSERT_TRUE(server.Running());
  SaveAndCompare(server.Settings("/recovered/" + std::string(GetParam().name)),
                 root / "recovered" / GetParam().name);
}

TEST_P(SaveFtpCorpus, AWholeVolumeArrivesOnVsftpd) {
  if (!test::VsftpdServer::Available()) GTEST_SKIP() << "vsftpd needs root and /usr/sbin/vsftpd";
  const fs::path root = volume_.dir / "vsftpd";
  test::VsftpdServer server(root, volume_.dir / "vsftpd-work");
  ASSERT_TRUE(server.Running()) << "vsftpd did not start";
  // Relative to the login folder, as a typed destination is.
  SaveAndCompare(server.Settings("pub/" + std::string(GetParam().name)), root / "pub" / GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(MbrDisk, SaveFtpCorpus,
                         ::testing::Values(VolumeCase{"ntfs", 1}, VolumeCase{"fat32", 2},
                                           VolumeCase{"exfat", 3}, VolumeCase{"fat16", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ faults

class SaveFtp : public ::testing::Test, protected test::MemoryVolume {
 protected:
  SaveFtp() { fs::create_directories(root_); }

  test::SaveRun SaveTo(const FtpSettings& settings, SaveDecisions& decisions, FtpTimeouts timeouts = {}) {
    test::SaveOptionsForTest options;
    options.ftp = &settings;
    options.ftpTimeouts = timeouts;
    return test::SaveStore(app_, store_, settings.remoteFolder, decisions, options);
  }
  std::string Served(const std::string& rel) const { return test::ReadWholeFile(root_ / rel); }

  fs::path root_ = dir_ / "served";
  ScriptedDecisions decisions_;
};

TEST_F(SaveFtp, ClashesGetRenameOverwriteSkipAndRenameAll) {
  test::PyFtpServer server(root_);
  ASSERT_TRUE(server.Running());
  fs::create_directories(root_ / "out");
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "Copy1_d.txt"})
    test::WriteWholeFile(root_ / "out" / n, std::string("old ") + n);
  const auto a = Bytes(100, 1), b = Bytes(5000, 2), c = Bytes(300, 3), d = Bytes(70000, 4);
  AddFile(0, u"a.txt", a);
  AddFile(0, u"b.txt", b);
  AddFile(0, u"c.txt", c);
  AddFile(0, u"d.txt", d);
  decisions_.clashes = {{FileExistAnswer::Rename, u"renamed.txt"},
                        {FileExistAnswer::Overwrite, {}},
                        {FileExistAnswer::Skip, {}},
                        {FileExistAnswer::RenameAll, {}}};
  const auto run = SaveTo(server.Settings("/out"), decisions_);
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
  ASSERT_EQ(decisions_.questions.size(), 4u);
  // The question shows what stands on the server.
  EXPECT_EQ(decisions_.questions[0].existingSize, std::string("old a.txt").size());
  EXPECT_EQ(decisions_.questions[0].newSize, a.size());
  EXPECT_EQ(decisions_.questions[3].proposedName, u"Copy2_d.txt");
  EXPECT_EQ(Served("out/a.txt"), "old a.txt");
  EXPECT_EQ(Served("out/renamed.txt"), AsText(a));
  EXPECT_EQ(Served("out/b.txt"), AsText(b));
  EXPECT_EQ(Served("out/c.txt"), "old c.txt");
  EXPECT_EQ(Served("out/Copy1_d.txt"), "old Copy1_d.txt");
  EXPECT_EQ(Served("out/Copy2_d.txt"), AsText(d));
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 3u);
  EXPECT_EQ(CountOf(run.log, "[Skipped]"), 1u);
}

TEST_F(SaveFtp, ABadLoginOrAClosedPortIsOneMessageAndNothingStarts) {
  test::PyFtpServer server(root_);
  ASSERT_TRUE(server.Running());
  AddFile(0, u"a.txt", Bytes(10, 1));
  FtpSettings wrong = server.Settings("/");
  wrong.password = "wrong";
  FtpSettings closed = server.Settings("/");
  closed.port = test::ClosedPort();
  for (const FtpSettings* s : {&wrong, &closed}) {
    prompt_.texts.clear();
    const auto run = SaveTo(*s, decisions_);
    ASSERT_EQ(prompt_.texts.size(), 1u);
    EXPECT_EQ(prompt_.texts[0].rfind(LoadString(339), 0), 0u) << prompt_.texts[0];
    EXPECT_TRUE(run.result.failedJob);
    EXPECT_EQ(run.log.find("Process started"), std::string::npos);
    EXPECT_NE(run.log.find("Process failed"), std::string::npos);
    EXPECT_EQ(run.log.find("Process completed"), std::string::npos);
  }
  EXPECT_NE(prompt_.texts[0].find(std::to_string(closed.port)), std::string::npos) << prompt_.texts[0];
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));
}

TEST_F(SaveFtp, ADroppedConnectionIsOneMessageAndTheRestIsLoggedUnsaved) {
  test::PyFtpServer server(root_, {"--drop-after", "1048576"});
  ASSERT_TRUE(server.Running());
  const auto first = Bytes(1000, 1);
  AddFile(0, u"first.bin", first);
  AddFile(0, u"big.bin", Bytes(8 << 20, 2));
  const auto sub = AddFolder(0, u"Sub");
  AddFile(sub, u"later1.bin", Bytes(10, 3));
  AddFile(sub, u"later2.bin", Bytes(10, 4));
  const auto run = SaveTo(server.Settings("/"), decisions_);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_EQ(prompt_.texts[0].rfind(LoadString(343), 0), 0u) << prompt_.texts[0];
  EXPECT_TRUE(run.result.failedJob);
  EXPECT_EQ(Served("first.bin"), AsText(first));
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 1u);
  EXPECT_EQ(CountOf(run.log, "[Partially Recovered]"), 0u);
  EXPECT_NE(run.log.find("Not saved: /Sub/later1.bin"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Not saved: /Sub/later2.bin"), std::string::npos);
  EXPECT_EQ(run.result.failed, 3u);
  EXPECT_NE(run.log.find("Process failed"), std::string::npos);
}

TEST_F(SaveFtp, AFullServersRefusalLeavesTheFileOutAndTheRestIsSaved) {
  test::PyFtpServer server(root_, {"--quota", "200000"});
  ASSERT_TRUE(server.Running());
  const auto small = Bytes(50000, 1), after = Bytes(60000, 3);
  AddFile(0, u"small.bin", small);
  AddFile(0, u"too big.bin", Bytes(400000, 2));
  AddFile(0, u"after.bin", after);
  const auto run = SaveTo(server.Settings("/"), decisions_);
  EXPECT_EQ(Served("small.bin"), AsText(small));
  EXPECT_EQ(Served("after.bin"), AsText(after));
  // The short file is not left behind as if it were the file.
  EXPECT_FALSE(fs::exists(root_ / "too big.bin"));
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 2u);
  EXPECT_NE(run.log.find("ERROR!  Cannot write /too big.bin on the server"), std::string::npos) << run.log;
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("1 file(s) could not be saved"), std::string::npos) << prompt_.texts[0];
  EXPECT_NE(prompt_.texts[0].find("too big.bin"), std::string::npos);
  EXPECT_NE(prompt_.texts[0].find("552"), std::string::npos) << prompt_.texts[0];
}

TEST_F(SaveFtp, AServerWhoseSizeSaysEveryNameExistsGetsTheQuestionAndFilesWithoutAFreeNameAreNamed) {
  const fs::path sizeLog = dir_ / "size.log";
  test::PyFtpServer server(root_, {"--size-always", "--size-log", sizeLog.string()});
  ASSERT_TRUE(server.Running());
  const auto a = Bytes(100, 1);
  AddFile(0, u"a.bin", a);
  AddFile(0, u"b.bin", Bytes(200, 2));
  AddFile(0, u"c.bin", Bytes(300, 3));
  // Overwrite is still offered; a rename over the empty proposal and
  // Rename All have no name to go to.
  decisions_.clashes = {{FileExistAnswer::Overwrite, {}},
                        {FileExistAnswer::Rename, {}},
                        {FileExistAnswer::RenameAll, {}}};
  const auto run = SaveTo(server.Settings("/"), decisions_);
  ASSERT_EQ(decisions_.questions.size(), 3u);
  EXPECT_EQ(decisions_.questions[0].existingSize, 1024u);
  EXPECT_EQ(decisions_.questions[0].proposedName, u"");
  EXPECT_EQ(Served("a.bin"), AsText(a));
  EXPECT_EQ(TreeOf(root_, false), std::set<std::string>{"a.bin"});
  for (const char* name : {"/b.bin", "/c.bin"})
    EXPECT_NE(run.log.find(std::string("ERROR!  No free name for ") + name + " on the server"), std::string::npos)
        << run.log;
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 1u);
  EXPECT_EQ(CountOf(run.log, "[Skipped]"), 0u);
  EXPECT_EQ(run.result.failed, 2u);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("2 file(s) could not be saved. The first: No free name for /b.bin"),
            std::string::npos)
      << prompt_.texts[0];
  // Each name was tried as itself and as Copy1_ to Copy32_, the last copy
  // name allowed, and never further.
  std::map<std::string, std::set<std::string>> probed;
  {
    std::istringstream lines(test::ReadWholeFile(sizeLog));
    for (std::string path; std::getline(lines, path);)
      probed[path.substr(path.size() - std::min<std::size_t>(path.size(), 5))].insert(path);
  }
  for (const std::string name : {"a.bin", "b.bin", "c.bin"}) {
    std::set<std::string> expected{"/" + name};
    for (int n = 1; n <= 32; ++n) expected.insert("/Copy" + std::to_string(n) + "_" + name);
    EXPECT_EQ(probed[name], expected) << name;
  }

  // Unattended (as the headless save runs): every file is named, none saved.
  prompt_.texts.clear();
  fs::remove(root_ / "a.bin");
  UnattendedSaveDecisions unattended;
  const auto again = SaveTo(server.Settings("/"), unattended);
  EXPECT_TRUE(TreeOf(root_, false).empty());
  EXPECT_EQ(again.result.failed, 3u);
  EXPECT_EQ(CountOf(again.log, "ERROR!  No free name for "), 3u) << again.log;
}

TEST_F(SaveFtp, TransfersThatTimeOutTwiceInARowEndTheJobAsADroppedConnectionDoes) {
  // The server opens each data connection and then neither reads it nor
  // answers the end of the file.
  test::PyFtpServer server(root_, {"--silent-data"});
  ASSERT_TRUE(server.Running());
  for (const char16_t* name : {u"one.bin", u"two.bin", u"three.bin", u"four.bin"})
    AddFile(0, name, Bytes(1000, 1));
  const auto run = SaveTo(server.Settings("/"), decisions_, FtpTimeouts{10000, 1000, 1});
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_EQ(prompt_.texts[0].rfind(LoadString(343), 0), 0u) << prompt_.texts[0];
  EXPECT_NE(prompt_.texts[0].find("2 transfers in a row timed out"), std::string::npos) << prompt_.texts[0];
  // The first time-out is one file's failure; the second ends the job.
  EXPECT_NE(run.log.find("ERROR!  Cannot write /one.bin on the server"), std::string::npos) << run.log;
  for (const char* name : {"/two.bin", "/three.bin", "/four.bin"})
    EXPECT_NE(run.log.find(std::string("Not saved: ") + name), std::string::npos) << run.log;
  EXPECT_EQ(CountOf(run.log, "Not saved: "), 3u);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 0u);
  EXPECT_EQ(run.result.failed, 4u);
  EXPECT_TRUE(run.result.failedJob);
  EXPECT_NE(run.log.find("Process failed"), std::string::npos);
}

TEST_F(SaveFtp, ARefusedFolderIsNamedAndItsSiblingsAreSaved) {
  test::PyFtpServer server(root_, {"--refuse-mkd", "Locked"});
  ASSERT_TRUE(server.Running());
  const auto locked = AddFolder(0, u"Locked");
  AddFile(locked, u"inside.bin", Bytes(10, 1));
  const auto open = AddFolder(0, u"Open");
  const auto ok = Bytes(20, 2);
  AddFile(open, u"ok.bin", ok);
  const auto run = SaveTo(server.Settings("/"), decisions_);
  EXPECT_EQ(Served("Open/ok.bin"), AsText(ok));
  EXPECT_FALSE(fs::exists(root_ / "Locked"));
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 1u);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("1 folder(s) could not be saved"), std::string::npos) << prompt_.texts[0];
  EXPECT_NE(prompt_.texts[0].find("/Locked on the server: 550 Permission denied."), std::string::npos);
  EXPECT_TRUE(run.result.failedJob);
}

TEST_F(SaveFtp, StopEndsATransferToAStalledServer) {
  test::PyFtpServer server(root_, {"--stall-after", "1048576"});
  ASSERT_TRUE(server.Running());
  AddFile(0, u"big.bin", Bytes(64 << 20, 1));
  AddFile(0, u"later.bin", Bytes(10, 2));
  // Time-outs far beyond the watchdog: only Stop can end the job in time.
  FtpTimeouts slow{60000, 600000, 600};
  test::SaveOptionsForTest options;
  const FtpSettings settings = server.Settings("/");
  options.ftp = &settings;
  options.ftpTimeouts = slow;
  FoundItemStoreWalk walk(store_);
  SaveJob job = MakeSaveJob(app_);
  job.request.m_szDest = "/";
  job.request.m_nDestKind = 1;
  job.request.m_ftp = settings;
  job.request.m_ftpTimeouts = slow;
  CThreadForSavingFiles saver(std::move(job), walk, decisions_);
  const std::size_t logBefore = app_.LogViewText().size();
  std::atomic<bool> ended{false};
  saver.Start([&] { ended = true; });
  // Stop once the server has stopped reading.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(root_ / "big.bin") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_FALSE(ended.load()) << "the transfer did not stall";
  app_.m_bAbort = 1;
  const auto stopped = std::chrono::steady_clock::now();
  while (!ended && std::chrono::steady_clock::now() - stopped < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!ended) {
    server.Stop();  // lets the job end so the test can
    saver.Join();
    FAIL() << "Stop did not end the job within 10 s";
  }
  saver.Join();
  const std::string log = app_.LogViewText().substr(logBefore);
  EXPECT_EQ(decisions_.abortQuestions.size(), 1u);
  EXPECT_EQ(CountOf(log, "[Recovered]"), 0u);
  EXPECT_EQ(CountOf(log, "[Partially Recovered]"), 1u);
  EXPECT_NE(log.find("Process aborted. User intervention"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(root_ / "later.bin"));
  EXPECT_LT(fs::file_size(root_ / "big.bin"), 64u << 20);
}

TEST_F(SaveFtp, ABrowsedPathIsFromTheRootAndATypedOneFromTheLoginFolder) {
  fs::create_directories(root_ / "home" / "saver");
  test::PyFtpServer server(root_, {"--login-dir", "/home/saver"});
  ASSERT_TRUE(server.Running());
  const auto a = Bytes(10, 1);
  AddFile(0, u"a.bin", a);
  SaveTo(server.Settings("/upload/here"), decisions_);
  EXPECT_EQ(Served("upload/here/a.bin"), AsText(a));
  SaveTo(server.Settings("inbox"), decisions_);
  EXPECT_EQ(Served("home/saver/inbox/a.bin"), AsText(a));
  EXPECT_FALSE(fs::exists(root_ / "home" / "saverinbox"));
}

TEST_F(SaveFtp, LineBreaksInNamesCannotBecomeCommands) {
  test::PyFtpServer server(root_);
  ASSERT_TRUE(server.Running());
  test::WriteWholeFile(root_ / "victim", "keep me");
  const auto folder = AddFolder(0, u"dir\r\nRMD /x");
  const auto data = Bytes(10, 1);
  AddFile(folder, u"f\r\nDELE /victim", data);
  const auto run = SaveTo(server.Settings("/"), decisions_);
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
  EXPECT_EQ(Served("victim"), "keep me");
  EXPECT_EQ(Served("dir__RMD _x/f__DELE _victim"), AsText(data));
  // Names arrive as UTF-8.
  AddFile(0, u"r\u00E9sum\u00E9 \u65E5\u672C.txt", data);
  SaveTo(server.Settings("/"), decisions_);
  EXPECT_EQ(Served("r\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt"), AsText(data));
}

// A machine may run without an IPv6 loopback; the IPv6 servers then cannot listen.
bool HasIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

TEST_F(SaveFtp, AnEprtRefusalIsAnswerEnough) {
  // pyftpdlib on 127.0.0.1 answers EPRT of family 2 with "522 ... (use 1)",
  // as IPv4 servers do; so does the one on ::1 when told to. No transfer may
  // then wait for a reply that is not coming: the IPv4-mapped address saves,
  // the IPv6 server's refusal fails each file at once (the CTest bound is
  // far below the reply time-out each would otherwise wait).
  const struct {
    const char* host;
    std::vector<std::string> options;
    bool saves;
  } cases[] = {{"::ffff:127.0.0.1", {}, true},
               {"::1", {"--listen", "::1"}, true},
               {"::1", {"--listen", "::1", "--refuse-eprt-ipv6"}, false}};
  const auto a = Bytes(100, 1), b = Bytes(70000, 2);
  AddFile(0, u"a.bin", a);
  AddFile(0, u"b.bin", b);
  const bool ipv6 = HasIpv6Loopback();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + (c.saves ? "" : " refusing EPRT"));
    if (!c.options.empty() && !ipv6) continue;
    fs::remove_all(root_);
    fs::create_directories(root_);
    test::PyFtpServer server(root_, c.options);
    ASSERT_TRUE(server.Running());
    FtpSettings settings = server.Settings("/up");
    settings.server = c.host;
    prompt_.texts.clear();
    const auto run = SaveTo(settings, decisions_);
    if (c.saves) {
      EXPECT_FALSE(run.result.failedJob) << run.result.failure << run.log;
      EXPECT_EQ(Served("up/a.bin"), AsText(a));
      EXPECT_TRUE(Served("up/b.bin") == AsText(b)) << "b.bin differs";
      continue;
    }
    // Both files are tried, each refused with the server's words; the server
    // still answers, so the job is not ended as a lost connection.
    EXPECT_EQ(run.result.failed, 2u);
    EXPECT_EQ(CountOf(run.log, "on the server: 522 Network protocol not supported (use 1)."), 2u) << run.log;
    EXPECT_EQ(CountOf(run.log, "Not saved: "), 0u) << run.log;
    EXPECT_TRUE(TreeOf(root_, false).empty());
  }
}

}  // namespace
}  // namespace corvan
