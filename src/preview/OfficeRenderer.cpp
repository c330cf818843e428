#include "preview/OfficeRenderer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace corvan {

namespace {

// A file URL of an absolute path, every byte outside the unreserved set
// percent-encoded.
std::string FileUrl(const std::filesystem::path& path) {
  static const char* kHex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      url.push_back(static_cast<char>(c));
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

}  // namespace

std::filesystem::path FindOfficeConverter() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      const std::filesystem::path candidate = std::filesystem::path(dir) / "soffice";
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return {};
}

OfficeRender RenderOfficeToPdf(const std::filesystem::path& program, const std::filesystem::path& document,
                               const std::filesystem::path& outDir, const std::filesystem::path& profile,
                               std::chrono::milliseconds limit, const std::function<bool()>& cancelled) {
  OfficeRender out;
  if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
    out.status = OfficeRenderStatus::Missing;
    return out;
  }
  const std::string profileArg = "-env:UserInstallation=" + FileUrl(profile);
  const std::string outArg = outDir.string();
  const std::string docArg = document.string();
  std::vector<std::string> args = {program.string(), profileArg, "--headless", "--invisible", "--nologo",
                                   "--norestore", "--nolockcheck", "--nodefault", "--convert-to", "pdf",
                                   "--outdir", outArg, docArg};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group: what it starts can be ended with it, and
  // nothing else.
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) {
    out.status = OfficeRenderStatus::Missing;
    return out;
  }

  const auto deadline = std::chrono::steady_clock::now() + limit;
  // The child is reaped only after its group has been ended: until then
  // the group id is still ours alone.
  const auto endGroup = [pid] {
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // The others die a moment later (seconds on a loaded machine, as the
    // converter frees its memory); while any is left the group keeps its id,
    // so asking after it (signal 0) can reach no other process.
    for (int i = 0; i < 1000 && ::kill(-pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  for (;;) {
    siginfo_t info{};
    const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (r == 0 && info.si_pid == pid) break;  // ended, not yet reaped
    if (r < 0 && errno != EINTR) break;
    const bool stop = cancelled && cancelled();
    if (stop || std::chrono::steady_clock::now() >= deadline) {
      endGroup();
      out.status = stop ? OfficeRenderStatus::Cancelled : OfficeRenderStatus::TimedOut;
      return out;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Anything it left running goes with it.
  endGroup();

  const std::filesystem::path pdf = outDir / (document.stem().string() + ".pdf");
  std::error_code ec;
  const auto size = std::filesystem::file_size(pdf, ec);
  if (ec || size == 0 || !std::filesystem::is_regular_file(pdf, ec)) {
    out.status = OfficeRenderStatus::Failed;
    return out;
  }
  out.pdf = pdf;
  out.status = OfficeRenderStatus::Rendered;
  return out;
}

}  // namespace corvan
