// Logins to real servers: each of the fixtures' four daemons directly, and
// proftpd through Debian's ftp-proxy.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/ftp.h"
#include "ftp/tests/ftpprobe.h"
#include "testsupport/ftpproxy.h"
#include "testsupport/ftpserver.h"
#include "testsupport/pump.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::FtpServerKind;
using test::PumpUntil;

class RealServerLogin : public testing::TestWithParam<FtpServerKind> {
 protected:
  test::TempTree tree_;
};

// Login into a folder named q"x (the servers quote it in different ways),
// the server type and the resume probe, a keep-alive, and QUIT.
TEST_P(RealServerLogin, LogsInKeepsAliveAndQuits) {
  tree_.Mkdir("srv/q\"x");
  KV_START_FTP_SERVER(server, GetParam(), {.root = tree_.Posix("srv")});
  TMFtp ftp;
  FtpProbe probe(ftp);
  AimAt(ftp, server);
  ftp.InitialDirectory = server.RemotePath("q\"x");
  ftp.SetNoopInterval(1);
  ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return probe.Saw("loggedin") || !probe.errorTexts.empty(); }));
  ASSERT_TRUE(probe.errorTexts.empty()) << probe.events.front() << " " << probe.errorTexts.front();
  EXPECT_EQ(ftp.Directory(), server.RemotePath("q\"x"));
  EXPECT_EQ(ftp.ServerType, ftpstUNIX);
  EXPECT_TRUE(ftp.Resumable());
  EXPECT_TRUE(probe.Saw("info 6"));
  if (GetParam() == FtpServerKind::PureFtpd) {
    // Its welcome of several lines (five when it serves IPv4 only, as
    // here) arrives as one reply.
    EXPECT_EQ(std::count(probe.events.begin(), probe.events.end(), "info 16"), 1);
    const std::vector<std::string>& welcome = ftp.MultiLineReply();
    ASSERT_GE(welcome.size(), 5u);
    EXPECT_TRUE(welcome.front().starts_with("220-")) << welcome.front();
    EXPECT_TRUE(welcome.back().starts_with("220 ")) << welcome.back();
  }

  ASSERT_TRUE(PumpUntil([&] { return probe.TrafficIndex("> NOOP") < probe.traffic.size(); }));
  ftp.Logout();
  ASSERT_TRUE(PumpUntil([&] { return probe.Saw("quit"); }));
  test::PumpFor(std::chrono::milliseconds(200));
  Events ending(probe.events.end() - 5, probe.events.end());
  std::erase(ending, "info 16");  // pure-ftpd says goodbye in two lines
  EXPECT_EQ(Events(ending.end() - 4, ending.end()), (Events{"busy", "info 1", "quit", "ready"}));
  EXPECT_TRUE(probe.errorTexts.empty());
  EXPECT_LT(probe.TrafficIndex("> NOOP"), probe.TrafficIndex("> QUIT"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, RealServerLogin, testing::ValuesIn(test::kFtpServerKinds),
                         [](const auto& info) { return std::string(test::FtpServerKindName(info.param)); });

TEST(FtpProxyLogin, UserAtSiteLoginWorksThroughFtpProxy) {
  test::TempTree tree;
  tree.Mkdir("srv");
  KV_START_FTP_SERVER(server, FtpServerKind::Proftpd, {.root = tree.Posix("srv")});
  test::FtpProxy proxy;
  if (proxy.skipped()) GTEST_SKIP() << proxy.skipReason();
  TMFtp ftp;
  FtpProbe probe(ftp);
  AimAt(ftp, server);
  ftp.ProxyType = proxyUserSite;
  ftp.ProxyServer = "127.0.0.1";
  ftp.ProxyPort = proxy.port();
  ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return probe.Saw("loggedin") || !probe.errorTexts.empty(); }));
  EXPECT_TRUE(probe.errorTexts.empty()) << proxy.Log();
  const std::string user = "> USER " + server.user() + "@127.0.0.1:" + std::to_string(server.port());
  EXPECT_LT(probe.TrafficIndex(user), probe.traffic.size());
  EXPECT_EQ(ftp.Directory(), server.RemotePath(""));
  EXPECT_EQ(ftp.ServerType, ftpstUNIX);
  ftp.Logout();
  EXPECT_TRUE(PumpUntil([&] { return probe.Saw("quit"); }));
}

}  // namespace
}  // namespace kv
