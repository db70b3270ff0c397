// The machine's own network probe, in a network namespace of its own.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/commands.h"

namespace kv {
namespace {

TEST(NetworkPresence, AVethPairWithAnAddressIsANetworkOnlyWhileItsPeerIsUp) {
  int status = 0;
  const std::string out = test::RunCommand("unshare -rn " + test::ShellQuote(KV_NETPROBE) + " 2>&1", &status);
  if (status != 0 && out.find("loopback=") == std::string::npos) {
    GTEST_SKIP() << "no network namespace here (unshare -rn): " << out;
  }
  EXPECT_EQ(out, "loopback=0 veth=1 peerdown=0\n");
}

}  // namespace
}  // namespace kv
