// Run inside a fresh network namespace (unshare -rn): brings the loopback
// up, then adds a veth pair with 10.9.9.9/24 on one end, then takes the peer
// down, and after each step prints what the network probe sees, as
// "loopback=0 veth=1 peerdown=0". Each state is awaited (the carrier
// follows a link change a moment later), with a bound against hangs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/netpresence.h"

namespace {

// Both ways of asking must agree: the one that listens for changes and
// the direct one.
int Await(kv::platform::NetworkPresence& presence, bool wanted) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const bool listening = presence.Query().present;
    const bool direct = kv::platform::QueryNetworkPresence().present;
    if ((listening == wanted && direct == wanted) || std::chrono::steady_clock::now() > deadline) {
      return listening == direct ? listening : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool Run(const char* command) { return std::system(command) == 0; }

}  // namespace

int main() {
  kv::platform::NetworkPresence presence;
  if (!Run("ip link set lo up")) return 2;
  const int loopback = Await(presence, false);
  if (!Run("ip link add kvv0 type veth peer name kvv1 && ip addr add 10.9.9.9/24 dev kvv0 && "
           "ip link set kvv0 up && ip link set kvv1 up")) {
    return 2;
  }
  const int veth = Await(presence, true);
  if (!Run("ip link set kvv1 down")) return 2;
  const int peerDown = Await(presence, false);
  std::printf("loopback=%d veth=%d peerdown=%d\n", loopback, veth, peerDown);
  return 0;
}
