#include "platform/netpresence.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/winsock.h"

namespace kv::platform {
namespace {

bool IsLanAddress(const ifaddrs& entry) {
  if (entry.ifa_addr == nullptr || entry.ifa_addr->sa_family != AF_INET) return false;
  const unsigned flags = entry.ifa_flags;
  if ((flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0) return false;
  const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry.ifa_addr)->sin_addr.s_addr);
  return (address >> 24) != 127;
}

}  // namespace

NetworkState QueryNetworkPresence() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return NetworkState{false, WinSockErrorFromErrno(errno)};
  NetworkState state;
  for (const ifaddrs* entry = list; entry != nullptr && !state.present; entry = entry->ifa_next) {
    state.present = IsLanAddress(*entry);
  }
  freeifaddrs(list);
  return state;
}

NetworkPresence::NetworkPresence() {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return;
  }
  notices_ = fd;
}

NetworkPresence::~NetworkPresence() {
  if (notices_ >= 0) close(notices_);
}

// Drains the notices that arrived. A lost notice (the kernel says so with
// ENOBUFS) or a failing socket counts as a change.
bool NetworkPresence::ChangedSinceLastQuery() {
  if (notices_ < 0) return true;
  bool changed = false;
  char buffer[8192];
  for (;;) {
    const ssize_t n = recv(notices_, buffer, sizeof buffer, 0);
    if (n > 0) {
      changed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return changed;
    return true;
  }
}

NetworkState NetworkPresence::Query() {
  // Subscribed before the first read, so no change between the two is lost.
  if (ChangedSinceLastQuery() || !known_ || last_.error != 0) {
    last_ = QueryNetworkPresence();
    known_ = true;
  }
  return last_;
}

}  // namespace kv::platform
