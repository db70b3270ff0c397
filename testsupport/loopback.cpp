#include "testsupport/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>
#include <string>

namespace kv::test {
namespace {

constexpr int kFillProbeMs = 300;

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// A connect to the port that has not completed within the probe time.
bool ConnectStalls(uint16_t port, int& fd) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return false;
  pollfd p{fd, POLLOUT, 0};
  return poll(&p, 1, kFillProbeMs) == 0;
}

}  // namespace

int BindLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = LoopbackAddress(0);
  socklen_t len = sizeof sa;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    throw std::runtime_error("cannot bind a socket on 127.0.0.1");
  port = ntohs(sa.sin_port);
  return fd;
}

int ListenOnLoopback(uint16_t& port, int backlog) {
  const int fd = BindLoopback(port);
  if (listen(fd, backlog) != 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  return fd;
}

int ListenAt(const char* address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = LoopbackAddress(port);
  inet_pton(AF_INET, address, &sa.sin_addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 8) != 0)
    throw std::runtime_error(std::string("cannot listen on ") + address);
  return fd;
}

int ConnectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = LoopbackAddress(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool WaitFor(int fd, short events, const std::function<bool()>& stopping) {
  while (!stopping()) {
    pollfd p{fd, events, 0};
    if (poll(&p, 1, kPollSliceMs) > 0) return true;
  }
  return false;
}

void AcceptUntil(int listener, const std::function<bool()>& stopping, const std::function<void(int)>& take) {
  while (WaitFor(listener, POLLIN, stopping)) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) take(fd);
  }
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void CloseWithReset(int fd) {
  linger abortive{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  close(fd);
}

std::string UpperVerb(std::string_view line) {
  std::string verb(line.substr(0, line.find(' ')));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

DeadPort DeadPort::Refusing() {
  DeadPort port;
  port.fds_.push_back(BindLoopback(port.port_));
  return port;
}

DeadPort DeadPort::Stalling() {
  DeadPort port;
  port.fds_.push_back(ListenOnLoopback(port.port_, 0));
  for (int tries = 0; tries < 16; ++tries) {
    int fd;
    const bool stalled = ConnectStalls(port.port_, fd);
    port.fds_.push_back(fd);
    if (stalled) return port;
  }
  throw std::runtime_error("the listen queue on 127.0.0.1 never filled up");
}

DeadPort::DeadPort(DeadPort&& other) noexcept : fds_(std::move(other.fds_)), port_(other.port_) { other.fds_.clear(); }

DeadPort::~DeadPort() {
  for (const int fd : fds_) close(fd);
}

}  // namespace kv::test
