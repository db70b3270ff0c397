#pragma once
// Sockets on 127.0.0.1 for test peers, at ports the kernel picks. Plain
// blocking sockets, never the platform layer that the tests examine.
#include <cstdint>
#include <vector>

namespace kv::test {

// A socket bound to 127.0.0.1 (not listening); port receives its port.
// Throws when that fails.
int BindLoopback(uint16_t& port);
// The same, listening.
int ListenOnLoopback(uint16_t& port, int backlog = 8);
// A listening socket at a given address of 127/8 and port.
int ListenAt(const char* address, uint16_t port);

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
