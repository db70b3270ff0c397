#pragma once
// Whether this machine has a network: an interface that is up, running (it
// has a carrier), not the loopback, with an IPv4 address outside 127/8.
// The network watcher asks every few milliseconds, so the probe listens for
// the kernel's notices of link and address changes and reads the interface
// list again only after one (or when it cannot listen).
#include <cstdint>

namespace kv::platform {

struct NetworkState {
  bool present = false;
  // 0, or the WinSock number of the error that kept the list from being
  // read (present is false then).
  int error = 0;
};

// Reads the interface list now.
NetworkState QueryNetworkPresence();

class NetworkPresence {
 public:
  NetworkPresence();
  ~NetworkPresence();
  NetworkPresence(const NetworkPresence&) = delete;
  NetworkPresence& operator=(const NetworkPresence&) = delete;

  // The state now; the interface list is read again only when the kernel
  // reported a change since the last call. One thread at a time.
  NetworkState Query();
  // Readable when the kernel reported a change (or lost a report); -1 when
  // there are no reports, and Query must be asked regularly.
  int NoticeFd() const { return notices_; }

 private:
  bool ChangedSinceLastQuery();

  int notices_ = -1;  // netlink socket, -1 when notices cannot be had
  bool known_ = false;
  NetworkState last_;
};

}  // namespace kv::platform
