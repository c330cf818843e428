// Our FTP layer against a real server (pyftpdlib on 127.0.0.1): what it
// says it did is what the server's folder holds, and each way a server
// can say no comes back as a refusal with the server's words.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "save/FtpListParser.h"
#include "save/FtpTestServer.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  return s;
}

class FtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Running()) << "pyftpdlib did not start"; }
  test::TempDir dir_;
  fs::path root_ = dir_ / "root";
  bool made_ = fs::create_directories(root_);
  test::PyFtpServer server_{root_};
};

TEST_F(FtpClientTest, FoldersFilesSizesAndListingsAreWhatTheServerHolds) {
  FtpClient ftp(server_.Server());
  std::string login;
  ASSERT_TRUE(ftp.Connect(login).ok);
  EXPECT_EQ(login, "/");
  // A name that needs escaping in a URL and a non-ASCII one, sent as UTF-8.
  const std::string folder = "/new folder %41 #?";
  ASSERT_TRUE(ftp.MakeDirectory(folder).ok);
  EXPECT_TRUE(fs::is_directory(root_ / "new folder %41 #?"));
  EXPECT_TRUE(ftp.EnterDirectory(folder).ok);
  EXPECT_TRUE(ftp.MakeDirectory(folder).Refused());  // it exists now
  EXPECT_FALSE(ftp.EnterDirectory("/missing").ok);

  const std::string data = Pattern(3 << 20, 7);
  const std::string file = folder + "/d\xC3\xA9j\xC3\xA0 vu.bin";
  ASSERT_TRUE(ftp.BeginUpload(file).ok);
  for (std::size_t at = 0; at < data.size(); at += 65536) {
    const FtpReply w = ftp.Write(data.data() + at, std::min<std::size_t>(65536, data.size() - at));
    ASSERT_TRUE(w.ok) << w.Describe();
  }
  const FtpReply end = ftp.EndUpload();
  ASSERT_TRUE(end.ok) << end.Describe();
  EXPECT_EQ(end.code, 226);
  EXPECT_EQ(test::ReadWholeFile(root_ / "new folder %41 #?" / "d\xC3\xA9j\xC3\xA0 vu.bin"), data);

  // An empty file is a file too.
  ASSERT_TRUE(ftp.BeginUpload(folder + "/empty").ok);
  ASSERT_TRUE(ftp.EndUpload().ok);
  EXPECT_TRUE(fs::is_regular_file(root_ / "new folder %41 #?" / "empty"));

  std::uint64_t size = 0;
  ASSERT_TRUE(ftp.FileSize(file, size).ok);
  EXPECT_EQ(size, data.size());
  const FtpReply missing = ftp.FileSize(folder + "/nothing", size);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.code, 550);

  std::string listing;
  ASSERT_TRUE(ftp.MakeDirectory(folder + "/sub").ok);
  ASSERT_TRUE(ftp.List(folder, listing).ok);
  std::map<std::string, FtpListEntry> entries;
  for (const FtpListEntry& e : ParseFtpListing(listing)) entries[e.name] = e;
  ASSERT_EQ(entries.size(), 3u) << listing;
  EXPECT_TRUE(entries["sub"].directory);
  EXPECT_FALSE(entries["d\xC3\xA9j\xC3\xA0 vu.bin"].directory);
  EXPECT_EQ(entries["d\xC3\xA9j\xC3\xA0 vu.bin"].size, data.size());

  ASSERT_TRUE(ftp.Delete(file).ok);
  EXPECT_FALSE(fs::exists(root_ / "new folder %41 #?" / "d\xC3\xA9j\xC3\xA0 vu.bin"));
}

TEST_F(FtpClientTest, LoginsThatCannotWorkAreRefusedWithoutWaiting) {
  std::string login;
  FtpServer wrong = server_.Server();
  wrong.password = "not it";
  const FtpReply denied = FtpClient(wrong).Connect(login);
  EXPECT_FALSE(denied.ok);
  EXPECT_EQ(denied.code, 530) << denied.Describe();

  FtpServer closed = server_.Server();
  closed.port = test::ClosedPort();
  const auto start = std::chrono::steady_clock::now();
  const FtpReply refused = FtpClient(closed).Connect(login);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // A line break in a login or a path would be a second command.
  FtpServer injected = server_.Server();
  injected.user = "saver\r\nDELE x";
  EXPECT_FALSE(FtpClient(injected).Connect(login).ok);
  // A NUL would cut the login short, to the right password here.
  FtpServer cut = server_.Server();
  cut.password += std::string("\0x", 2);
  EXPECT_FALSE(FtpClient(cut).Connect(login).ok);
  FtpClient ftp(server_.Server());
  EXPECT_FALSE(ftp.MakeDirectory("/a\r\nRMD /b").ok);
  EXPECT_FALSE(fs::exists(root_ / "a"));
  // A host text that would change the address.
  FtpServer odd = server_.Server();
  odd.host = "127.0.0.1/../x@y";
  EXPECT_FALSE(FtpClient(odd).Connect(login).ok);
}

TEST_F(FtpClientTest, TheInterruptEndsAStalledTransferAtOnce) {
  test::PyFtpServer stalled(root_, {"--stall-after", "65536"});
  ASSERT_TRUE(stalled.Running());
  FtpClient ftp(stalled.Server());
  std::atomic<bool> stop{false};
  ftp.SetInterrupt([&] { return stop.load(); });
  ASSERT_TRUE(ftp.BeginUpload("/big.bin").ok);
  const std::string block = Pattern(1 << 20, 3);
  std::chrono::steady_clock::time_point stopAt;
  std::thread presser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stopAt = std::chrono::steady_clock::now();
    stop = true;
  });
  FtpReply w;
  for (int i = 0; i < 200 && (w = ftp.Write(block.data(), block.size())).ok; ++i) {
  }
  const auto ended = std::chrono::steady_clock::now();
  presser.join();
  EXPECT_FALSE(w.ok);
  EXPECT_TRUE(w.interrupted);
  EXPECT_LT(ended - stopAt, std::chrono::seconds(2));
  EXPECT_FALSE(ftp.Uploading());
}

}  // namespace
}  // namespace corvan
