#pragma once
// A python server on 127.0.0.1 for the update tests, the socket set-up of
// the scripted ones, and the random bytes of the packages it serves.

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "save/FtpTestServer.h"
#include "support/TestSupport.h"

namespace corvan::test {

inline bool Accepts(std::uint16_t port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// "PORT" in `args` becomes its free port.
class PythonServer final : public ChildServer {
 public:
  explicit PythonServer(std::vector<std::string> args) {
    const std::uint16_t port = ClosedPort();
    for (auto& a : args)
      if (a == "PORT") a = std::to_string(port);
    args.insert(args.begin(), kSystemPython);
    if (!Spawn(args)) return;
    for (int i = 0; i < 100 && Alive(); ++i) {
      if (Accepts(port)) {
        port_ = port;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(Port()); }
};

// A script for PythonServer: `body` runs with `s` listening on 127.0.0.1 at
// the port argv[1] names.
inline std::string SocketServerScript(std::string_view body) {
  return std::string(R"(
import socket, sys, time, threading
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', int(sys.argv[1])))
s.listen(5)
)") + std::string(body);
}

inline std::string RandomBytes(std::size_t n, unsigned seed = 7) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace corvan::test
