// The FTP session against the scripted fake server: how every failure of a
// server ends, retries, proxies, keep-alive, lookups and connects, and the
// component going away between messages.
#include <gtest/gtest.h>
#include <netdb.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp.h"
#include "ftp/tests/ftpprobe.h"
#include "platform/hostlookup.h"
#include "platform/msgloop.h"
#include "testsupport/fakeftpserver.h"
#include "testsupport/loopback.h"
#include "testsupport/pump.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::FakeFtpPeer;
using test::FakeFtpServer;
using test::PumpFor;
using test::PumpUntil;

Events Lost(const std::string& error) { return {error, "info 21", "info 1", "quit", "ready"}; }
const Events kLoggedIn = {"info 6", "info 12", "ready", "loggedin"};

// ---- Every way a server can fail ends with an error and the end events ------

struct Ending {
  const char* name;
  FakeFtpServer::Script script;
  Events expected;
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class SessionEnding : public testing::TestWithParam<Ending> {};

TEST_P(SessionEnding, EndsWithTheErrorAndTheEndEvents) {
  FakeFtpServer server(GetParam().script);
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Login();
  probe.Expect(GetParam().expected);
  EXPECT_FALSE(ftp.Connected());
  EXPECT_FALSE(server.DeadlinePassed());
}

const Ending kEndings[] = {
    {"DropBeforeWelcome", [](FakeFtpPeer& p) { p.Close(); }, Lost("error 5")},
    {"DropAfterWelcome", [](FakeFtpPeer& p) { p.Reply("220 fake ready"); p.Close(); }, Lost("error 5")},
    {"DropAfterUser", [](FakeFtpPeer& p) {
       LoginUntil(p, "USER");
       p.Close();
     }, Lost("error 5")},
    {"DropAfterPass", [](FakeFtpPeer& p) {
       LoginUntil(p, "PASS");
       p.Close();
     }, Lost("error 5")},
    {"DropDuringSyst", [](FakeFtpPeer& p) {
       LoginUntil(p, "SYST");
       p.Close();
     }, Lost("error 5")},
    {"DropDuringRest", [](FakeFtpPeer& p) {
       LoginUntil(p, "REST");
       p.Close();
     }, Lost("error 5")},
    {"DropDuringPwd", [](FakeFtpPeer& p) {
       LoginUntil(p, "PWD");
       p.Close();
     }, {"info 6", "error 5", "info 21", "info 1", "quit", "ready"}},
    {"ResetAfterUser", [](FakeFtpPeer& p) {
       LoginUntil(p, "USER");
       p.Reset();
     }, Lost("error 6")},
    {"SilentServer", [](FakeFtpPeer& p) { p.WaitForClientClose(); }, Lost("error 7")},
    {"WelcomeWithoutCode", [](FakeFtpPeer& p) {
       p.Reply("2xx ready");  // a template nobody filled in
       p.WaitForClientClose();
     }, Lost("error 25")},
    {"HyphenWithoutDigits", [](FakeFtpPeer& p) {
       p.Reply("abc-def");
       p.WaitForClientClose();
     }, Lost("error 25")},
    {"LineOver64KiB",
     [](FakeFtpPeer& p) {
       p.Reply("220 " + std::string(100 * 1024, 'x'));
       p.WaitForClientClose();
     },
     Lost("error 5")},
    {"Code421ThenClose", [](FakeFtpPeer& p) {
       p.Reply("421 Too many users");
       p.Close();
     }, Lost("error 25")},
};
INSTANTIATE_TEST_SUITE_P(FakeServer, SessionEnding, testing::ValuesIn(kEndings),
                         [](const testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

TEST(TMFtp, ALossAfterLoginIsAnErrorAndIsNotRetried) {
  FakeFtpServer server([](FakeFtpPeer& p) {
       LoginUntil(p, "NOOP");
       p.Close();
     });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Retries = 3;
  ftp.SetNoopInterval(1);
  ftp.Login();
  Events expected = kLoggedIn;
  expected.insert(expected.end(), {"error 5", "info 1", "quit", "ready"});
  probe.Expect(expected);
  EXPECT_EQ(probe.errorTexts, std::vector<std::string>{"Connection aborted due to timeout or other failure"});
  EXPECT_EQ(server.Connections(), 1);
}

TEST(TMFtp, AWrongPasswordIsTriedFourTimesThenGivenUp) {
  test::FakeReplies replies = test::AcceptingReplies();
  replies["PASS"] = "530 Login incorrect";
  FakeFtpServer server([&](FakeFtpPeer& p) { test::Converse(p, replies); });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Retries = 3;
  ftp.Login();
  probe.Expect({"error 26", "info 18", "error 26", "info 18", "error 26", "info 18", "error 26", "info 21", "info 1",
                "quit", "ready"});
  EXPECT_EQ(server.Connections(), 4);
  EXPECT_NE(probe.TrafficIndex("> PASS (want to know) :-P"), probe.traffic.size());
  for (const std::string& line : probe.traffic) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

// ---- Replies that arrive oddly ---------------------------------------------------

TEST(TMFtp, SlowRepliesCountAsProgress) {
  // One byte every 50 ms: the welcome alone takes longer than the 3 s that
  // a reply without progress may take.
  FakeFtpServer server([](FakeFtpPeer& p) {
    p.SendSlowly("220 " + std::string(80, '.') + "\r\n", 50ms);
    test::Converse(p, test::AcceptingReplies(), "");
  });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Login();
  probe.Expect(kLoggedIn);
}

TEST(TMFtp, AMultiLineWelcomeWithANulIsOneReply) {
  FakeFtpServer server([](FakeFtpPeer& p) {
    p.Send(std::string("220-Welcome\0 here\r\n220-second\r\n220 ready\r\n", 42));
    test::Converse(p, test::AcceptingReplies(), "");
  });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Login();
  Events expected = {"info 16"};
  expected.insert(expected.end(), kLoggedIn.begin(), kLoggedIn.end());
  probe.Expect(expected);
  EXPECT_EQ(ftp.MultiLineReply(), (std::vector<std::string>{"220-Welcome here", "220-second", "220 ready"}));
}

// ---- The login dialogue -----------------------------------------------------------

TEST(TMFtp, LoginProbesResumptionInBinaryModeAndReadsEveryReply) {
  struct Row {
    const char* restReply;
    Events events;
    std::vector<std::string> commands;
  };
  const Row rows[] = {
      {"350 Restarting at 100", kLoggedIn, {"USER joe", "PASS secret", "SYST", "TYPE I", "REST 100", "REST 0", "PWD"}},
      {"502 Not here", {"info 17", "info 12", "ready", "loggedin"},
       {"USER joe", "PASS secret", "SYST", "TYPE I", "REST 100", "PWD"}},
  };
  for (const Row& row : rows) {
    test::FakeReplies replies = test::AcceptingReplies();
    replies["REST"] = row.restReply;
    FakeFtpServer server([&](FakeFtpPeer& p) { test::Converse(p, replies); });
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, server.Port());
    ftp.Login();
    probe.Expect(row.events);
    EXPECT_EQ(server.Transcripts().at(0), row.commands) << row.restReply;
    EXPECT_EQ(ftp.Resumable(), row.events == kLoggedIn);
    EXPECT_EQ(ftp.LastType(), "I");
    EXPECT_EQ(ftp.Directory(), "/");
  }
}

TEST(TMFtp, TheSystReplyDecidesTheServerType) {
  struct Row {
    const char* syst;
    TMFtpServerType type;
  };
  const Row rows[] = {
      {"215 UNIX Type: L8", ftpstUNIX},       {"215 unix emulated by Windows_NT", ftpstUNIX},
      {"215 Windows_NT", ftpstMSFTP},         {"500 SYST unknown", ftpstDefault},
      {"215 NetBSD", ftpstBSD},               {"215 VMS MultiNet V4.4", ftpstVmsMultinet},
      {"215 VMS", ftpstVmsUcx},               {"215 VM/VPS", ftpstVMVPS},
      {"215 Heron OS 3", ftpstDefault},
  };
  for (const Row& row : rows) {
    test::FakeReplies replies = test::AcceptingReplies();
    replies["SYST"] = row.syst;
    FakeFtpServer server([&](FakeFtpPeer& p) { test::Converse(p, replies); });
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, server.Port());
    ftp.Login();
    ASSERT_TRUE(PumpUntil([&] { return probe.Saw("loggedin"); })) << row.syst;
    EXPECT_EQ(ftp.ServerType, row.type) << row.syst;
  }
}

TEST(TMFtp, ANetTermServerReportsItsFolderAsADrivePath) {
  test::FakeReplies replies = test::AcceptingReplies();
  replies["PWD"] = "257 \"C:\\pub\\new\" is current";
  FakeFtpServer server([&](FakeFtpPeer& p) { test::Converse(p, replies, "220 NetTerm FTP server ready"); });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Login();
  probe.Expect(kLoggedIn);
  EXPECT_EQ(ftp.ServerType, ftpstNetTerm);
  EXPECT_EQ(ftp.Directory(), "/pub/new");
  EXPECT_EQ(server.Transcripts().at(0).at(2), "TYPE I");  // no SYST: the welcome named the server
}

TEST(TMFtp, ALineBreakInAFolderNameIsNeverSent) {
  FakeFtpServer server([](FakeFtpPeer& p) { test::Converse(p, test::AcceptingReplies()); });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.InitialDirectory = "up\r\nDELE victim";
  ftp.Login();
  probe.Expect({"info 6", "error 29", "info 21", "info 1", "quit", "ready"});
  EXPECT_EQ(server.Transcripts().at(0).back(), "REST 0");
}

// ---- Proxies -----------------------------------------------------------------------------

TEST(TMFtp, EveryProxyModeSpeaksToTheProxyInItsOwnWay) {
  struct Row {
    TMFtpProxyType type;
    const char* proxyServer;
    uint16_t port;
    std::vector<std::string> commands;  // up to SYST
  };
  const Row rows[] = {
      {proxyHost, "127.0.0.1", 21, {"HOST real.example", "USER joe", "PASS secret", "SYST"}},
      {proxyHostUser, "127.0.0.1", 21, {"USER real.example!joe", "PASS secret", "SYST"}},
      {proxyHostUser, "127.0.0.1", 2121, {"USER real.example:2121!joe", "PASS secret", "SYST"}},
      {proxyOpen, "127.0.0.1", 21, {"OPEN real.example", "USER joe", "PASS secret", "SYST"}},
      {proxySite, "127.0.0.1", 21, {"USER pjoe", "PASS psecret", "SITE real.example", "USER joe", "PASS secret", "SYST"}},
      {proxyUserSite, "127.0.0.1", 21, {"USER joe@real.example", "PASS secret", "SYST"}},
      {proxyUserSite, "127.0.0.1", 2121, {"USER joe@real.example:2121", "PASS secret", "SYST"}},
  };
  std::vector<std::string> lookedUp;
  platform::ScopedHostResolver resolver([&lookedUp](const std::string& name, uint32_t&) {
    lookedUp.push_back(name);
    return EAI_NONAME;
  });
  for (const Row& row : rows) {
    test::FakeReplies replies = test::AcceptingReplies();
    replies["HOST"] = "331 Proxy will connect";
    replies["OPEN"] = "220 Connected";
    replies["SITE"] = "200 Connected";
    FakeFtpServer proxy([&](FakeFtpPeer& p) { test::Converse(p, replies); });
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, row.port);
    ftp.SetServer("real.example");
    ftp.ProxyType = row.type;
    ftp.ProxyServer = row.proxyServer;
    ftp.ProxyPort = proxy.Port();
    ftp.ProxyUsername = "pjoe";
    ftp.ProxyPassword = "psecret";
    ftp.Login();
    ASSERT_TRUE(PumpUntil([&] { return probe.Saw("loggedin"); })) << row.type;
    const std::vector<std::string> sent = proxy.Transcripts().at(0);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + std::min(sent.size(), row.commands.size())),
              row.commands)
        << row.type << " port " << row.port;
    EXPECT_EQ(ftp.Server(), "real.example");
    EXPECT_EQ(ftp.Port, row.port);
  }
  EXPECT_TRUE(lookedUp.empty());  // the real server is the proxy's business
}

TEST(TMFtp, AProxyThatRefusedTheWelcomeIsStillTheProxyOnTheRetry) {
  test::FakeReplies replies = test::AcceptingReplies();
  replies["HOST"] = "331 Proxy will connect";
  FakeFtpServer proxy([&](FakeFtpPeer& p) {
    if (p.Index() == 0) {
      p.Reply("421 Busy, try again");
      p.Close();
      return;
    }
    test::Converse(p, replies);
  });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, 2121);
  ftp.SetServer("127.0.0.2");
  ftp.Retries = 1;
  ftp.ProxyType = proxyHost;
  ftp.ProxyServer = "127.0.0.1";
  ftp.ProxyPort = proxy.Port();
  ftp.Login();
  Events expected = {"error 25", "info 18"};
  expected.insert(expected.end(), kLoggedIn.begin(), kLoggedIn.end());
  probe.Expect(expected);
  ASSERT_EQ(proxy.Connections(), 2);
  EXPECT_EQ(proxy.Transcripts()[1].at(0), "HOST 127.0.0.2");
}

// ---- Keep-alive and logout -----------------------------------------------------------

TEST(TMFtp, AnOperationAskedForDuringANoopStartsAfterItsReply) {
  FakeFtpServer server([](FakeFtpPeer& p) {
    LoginUntil(p, "NOOP");
    std::this_thread::sleep_for(1500ms);
    p.Reply("200 NOOP ok");
    if (p.Expect("QUIT")) p.Reply("221 Bye");
  });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.SetNoopInterval(1);
  ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return probe.TrafficIndex("> NOOP") < probe.traffic.size(); }));
  ftp.Logout();
  Events expected = kLoggedIn;
  expected.insert(expected.end(), {"busy", "info 1", "quit", "ready"});
  probe.Expect(expected);
  EXPECT_LT(probe.TrafficIndex("< 200 NOOP ok"), probe.TrafficIndex("> QUIT"));
  EXPECT_EQ(server.Transcripts().at(0).back(), "QUIT");
}

TEST(TMFtp, ACommandForAVanishedSocketEndsWithError5) {
  FakeFtpServer server([](FakeFtpPeer& p) { test::Converse(p, test::AcceptingReplies()); });
  TMFtp ftp;
  FtpProbe probe(ftp);
  Aim(ftp, server.Port());
  ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return probe.Saw("loggedin"); }));
  ftp.Abandon();  // the socket goes without a word
  ftp.Logout();
  Events expected = kLoggedIn;
  expected.insert(expected.end(), {"busy", "error 5", "info 1", "quit", "ready"});
  probe.Expect(expected);
}

TEST(TMFtp, OperationsAreRefusedWhileNotConnected) {
  TMFtp ftp;
  FtpProbe probe(ftp);
  ftp.Logout();
  EXPECT_EQ(probe.events, Events{"info 1"});
  EXPECT_TRUE(probe.traffic.empty());
}

// ---- Lookups and connects that go wrong ------------------------------------------------

TEST(TMFtp, LookupsAndConnectsThatFailEndWithTheirErrorAlone) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  int lookups = 0;
  platform::ScopedHostResolver resolver([released, &lookups](const std::string& name, uint32_t& address) {
    ++lookups;
    if (name == "hanging.example") released.wait();
    if (name == "missing.example") return EAI_NONAME;
    platform::ParseIPv4("127.0.0.1", address);
    return 0;
  });
  FakeFtpServer server([](FakeFtpPeer& p) { test::Converse(p, test::AcceptingReplies()); });
  const test::DeadPort refusing = test::DeadPort::Refusing();
  const test::DeadPort stalling = test::DeadPort::Stalling();
  struct Row {
    std::string server;
    uint16_t port;
    const char* error;
  };
  const Row rows[] = {
      {std::string(254, 'a'), server.Port(), "error 15"},  // never looked up, never cut
      {"missing.example", server.Port(), "error 15"},
      {"hanging.example", server.Port(), "error 7"},
      {"127.0.0.1", stalling.Port(), "error 7"},
      {"127.0.0.1", refusing.Port(), "error 11"},
  };
  for (const Row& row : rows) {
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, row.port);
    ftp.Retries = 3;
    ftp.SetServer(row.server);
    ftp.Login();
    probe.Expect({row.error});
    EXPECT_FALSE(ftp.HasSocket()) << row.error;
  }
  // The hanging lookup answers now, too late: nothing connects.
  release->set_value();
  PumpFor(300ms);
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_EQ(lookups, 2);
}

TEST(TMFtp, NoServerIsAskedForOnceThenError18) {
  TMFtp ftp;
  FtpProbe probe(ftp);
  int asked = 0;
  ftp.OnFtpNeedInfo = [&](TMFtp&, TMFtpInfoNeeded need, std::string& value) {
    EXPECT_EQ(need, niServer);
    EXPECT_EQ(value, "");
    value = "  ";
    ++asked;
  };
  ftp.Login();
  probe.Expect({"error 18", "ready"});
  EXPECT_EQ(asked, 1);
}

// ---- Destroyed between any two messages -------------------------------------------------

TEST(TMFtp, MayBeDestroyedBetweenAnyTwoMessages) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  platform::ScopedHostResolver resolver([released](const std::string&, uint32_t& address) {
    released.wait();
    platform::ParseIPv4("127.0.0.1", address);
    return 0;
  });
  test::FakeReplies replies = test::AcceptingReplies();
  replies["PASS"] = "530 Login incorrect";
  FakeFtpServer server([&](FakeFtpPeer& p) { test::Converse(p, replies); });
  // Destroyed right after the event named first arrives.
  const std::vector<std::string> moments = {"lookup", "connected", "> USER joe", "error 26", "info 18"};
  for (const std::string& moment : moments) {
    auto ftp = std::make_unique<TMFtp>();
    Aim(*ftp, server.Port());
    ftp->Retries = 1;
    ftp->RetryInterval = 1;
    if (moment == "lookup") ftp->SetServer("ftp.example");
    bool gone = false;
    bool lateEvent = false;
    const auto destroyNow = [&] {
      platform::MessageLoop::Current().Ref().PostCall([&] {
        ftp.reset();
        gone = true;
      });
    };
    ftp->OnFtpInfo = [&](TMFtp&, FtpInfo info, const std::string& text) {
      lateEvent |= gone;
      const bool at = (moment == "lookup" && info == ftpInfoResolving) ||
                      (moment == "connected" && info == ftpInfoConnected) ||
                      (moment == "info 18" && info == ftpInfoRetrying) ||
                      (info == ftpInfoSent && "> " + Chomp(text) == moment);
      if (at) destroyNow();
    };
    ftp->OnFtpError = [&](TMFtp&, FtpError error, const std::string&) {
      lateEvent |= gone;
      if (moment == "error " + std::to_string(error)) destroyNow();
    };
    ftp->OnFtpReady = [&](TMFtp&) { lateEvent = true; };
    ftp->OnFtpQuit = [&](TMFtp&) { lateEvent = true; };
    ftp->Login();
    ASSERT_TRUE(PumpUntil([&] { return gone; })) << moment;
    PumpFor(moment == "info 18" ? 1500ms : 200ms);  // past the retry pause
    EXPECT_FALSE(lateEvent) << moment;
  }
  release->set_value();
  PumpFor(100ms);
}

}  // namespace
}  // namespace kv
