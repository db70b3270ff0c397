#pragma once
// Sockets on 127.0.0.1 for test peers, at ports the kernel picks. Plain
// blocking sockets, never the platform layer that the tests examine.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

// How long a peer's thread waits at a time before it looks for a stop.
inline constexpr int kPollSliceMs = 50;

// A socket bound to 127.0.0.1 (not listening); port receives its port.
// Throws when that fails.
int BindLoopback(uint16_t& port);
// The same, listening.
int ListenOnLoopback(uint16_t& port, int backlog = 8);
// A listening socket at a given address of 127/8 and port.
int ListenAt(const char* address, uint16_t port);
// A connection to 127.0.0.1 at the port; -1 when it is refused.
int ConnectLoopback(uint16_t port);

// True once the socket has one of the events; false when stopping() says so
// first.
bool WaitFor(int fd, short events, const std::function<bool()>& stopping);
// Hands every connection the listener accepts to take, until stopping().
void AcceptUntil(int listener, const std::function<bool()>& stopping, const std::function<void(int)>& take);
// False when the peer went away before all was sent.
bool SendAll(int fd, std::string_view bytes);
// Closes with a reset instead of an orderly end.
void CloseWithReset(int fd);
// The verb of an FTP command line (its first word), in upper case.
std::string UpperVerb(std::string_view line);

// A port on 127.0.0.1 where no connection gets through: Refusing() is
// bound but never listens, so connects are refused; Stalling() listens with
// a queue that is already full and never accepts, so connects never
// complete.
class DeadPort {
 public:
  static DeadPort Refusing();
  static DeadPort Stalling();
  ~DeadPort();
  DeadPort(DeadPort&& other) noexcept;
  DeadPort& operator=(DeadPort&&) = delete;

  uint16_t Port() const { return port_; }

 private:
  DeadPort() = default;
  std::vector<int> fds_;  // the bound socket and what fills its queue
  uint16_t port_ = 0;
};

}  // namespace kv::test
