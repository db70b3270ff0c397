#include "testsupport/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
