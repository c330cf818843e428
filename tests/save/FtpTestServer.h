#pragma once
// FTP servers for the saving tests, each started by the test on 127.0.0.1
// with a free port and stopped when the object goes: the pyftpdlib server
// of tests/save/ftp/ftp-test-server.py (with the faults it can play), and
// vsftpd with a private configuration serving an anonymous folder.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "save/FtpClient.h"
#include "save/FtpSettings.h"

namespace corvan::test {

// Python with the Debian packages (pyftpdlib) on its path.
inline constexpr const char* kSystemPython = "/usr/bin/python3";

inline std::filesystem::path FtpServerScript() {
  return std::filesystem::path(CORVAN_SOURCE_TESTS) / "save" / "ftp" / "ftp-test-server.py";
}

// A port that nothing listens on (bound, read and closed again).
inline std::uint16_t ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin_port);
}

class ChildServer {
 public:
  ChildServer() = default;
  ChildServer(const ChildServer&) = delete;
  ChildServer& operator=(const ChildServer&) = delete;
  ~ChildServer() { Stop(); }

  std::uint16_t Port() const { return port_; }
  bool Running() const { return pid_ > 0 && port_ != 0; }
  // Whether the process is still there (a server may end itself).
  bool Alive() {
    if (pid_ <= 0) return false;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      ::kill(pid_, SIGTERM);
      int st = 0;
      for (int i = 0; i < 50 && ::waitpid(pid_, &st, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (::waitpid(pid_, &st, WNOHANG) == 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
      }
      pid_ = -1;
    }
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }

 protected:
  // Starts `argv` in a process group of its own with its standard output
  // on a pipe.
  bool Spawn(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    return pid_ > 0;
  }
  // The first line the process prints, waited for up to 10 s.
  std::string ReadLine() {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      if (::read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::uint16_t port_ = 0;
};

class PyFtpServer final : public ChildServer {
 public:
  static constexpr const char* kUser = "saver";
  static constexpr const char* kPassword = "secret";

  // Serves `root`; `extra` are options of the script (--quota N, ...).
  explicit PyFtpServer(const std::filesystem::path& root, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{kSystemPython, FtpServerScript().string(), "--root", root.string(),
                                  "--user", kUser, "--password", kPassword};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!Spawn(argv)) return;
    const std::string line = ReadLine();
    if (line.rfind("PORT ", 0) == 0) port_ = static_cast<std::uint16_t>(std::stoi(line.substr(5)));
  }

  FtpSettings Settings(const std::string& remoteFolder) const {
    FtpSettings s;
    s.server = "127.0.0.1";
    s.portText = std::to_string(port_);
    s.port = port_;
    s.user = kUser;
    s.password = kPassword;
    s.remoteFolder = remoteFolder;
    return s;
  }
  FtpServer Server() const { return {"127.0.0.1", port_, kUser, kPassword}; }
};

// vsftpd in the foreground with a configuration of its own: anonymous
// users, chrooted to `root`, who may upload, make folders and overwrite in
// `root`/pub (vsftpd refuses a writable chroot root itself).
class VsftpdServer final : public ChildServer {
 public:
  static bool Available() { return ::access("/usr/sbin/vsftpd", X_OK) == 0 && ::geteuid() == 0; }

  VsftpdServer(const std::filesystem::path& root, const std::filesystem::path& work) {
    namespace fs = std::filesystem;
    fs::create_directories(root / "pub");
    fs::create_directories(work / "empty");
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    // The anonymous user writes as "ftp".
    ::chown((root / "pub").c_str(), FtpUid(), static_cast<gid_t>(-1));
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
      const std::uint16_t port = ClosedPort();
      const fs::path conf = work / "vsftpd.conf";
      std::ofstream(conf) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port
                          << "\nbackground=NO\nanonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\n"
                             "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                             "anon_other_write_enable=YES\nanon_umask=022\nanon_root="
                          << root.string() << "\nsecure_chroot_dir=" << (work / "empty").string()
                          << "\nseccomp_sandbox=NO\nisolate_network=NO\nisolate=NO\nxferlog_enable=NO\n"
                             "vsftpd_log_file=/dev/null\nport_enable=YES\nconnect_from_port_20=NO\n"
                             "pasv_enable=YES\nutf8_filesystem=YES\nsyslog_enable=NO\n";
      if (!Spawn({"/usr/sbin/vsftpd", conf.string()})) return;
      // vsftpd prints nothing: wait until it answers on the port.
      for (int i = 0; i < 100; ++i) {
        if (!Alive()) break;
        if (Listening(port)) {
          port_ = port;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (port_ == 0) Stop();
    }
  }
  FtpSettings Settings(const std::string& remoteFolder) const {
    FtpSettings s;
    s.server = "127.0.0.1";
    s.portText = std::to_string(port_);
    s.port = port_;
    s.user = "anonymous";
    s.password = "tests@";
    s.remoteFolder = remoteFolder;
    return s;
  }

 private:
  static uid_t FtpUid() {
    std::ifstream in("/etc/passwd");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("ftp:", 0) == 0) {
        const std::size_t a = line.find(':', 4), b = line.find(':', a + 1);
        return static_cast<uid_t>(std::stoul(line.substr(a + 1, b - a - 1)));
      }
    return static_cast<uid_t>(-1);
  }
  static bool Listening(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
  }
};

}  // namespace corvan::test
