// The FTP session against the scripted fake server: the login dialogue and
// every way a server can end it, retries, proxies, keep-alive, lookups and
// connects, and the component going away between messages.
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
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
using test::FakeReplies;
using test::PumpFor;
using test::PumpUntil;

Events Lost(const std::string& error) { return {error, "info 21", "info 1", "quit", "ready"}; }
const Events kLoggedIn = {"info 6", "info 12", "ready", "loggedin"};

FakeFtpServer::Script DropAt(const char* verb, bool reset = false) {
  return [=](FakeFtpPeer& p) {
    LoginUntil(p, verb);
    reset ? p.Reset() : p.Close();
  };
}

FakeFtpServer::Script Sending(std::string bytes) {
  return [=](FakeFtpPeer& p) {
    p.Send(bytes);
    p.WaitForClientClose();
  };
}

// ---- A login, as the server leads it ------------------------------------------

struct Dialogue {
  const char* name;
  FakeFtpServer::Script script;
  Events events;
  std::function<void(TMFtp&)> setup = nullptr;
  std::function<void(const TMFtp&, const FakeFtpServer&)> check = nullptr;
};

void PrintTo(const Dialogue& dialogue, std::ostream* os) { *os << dialogue.name; }

class Login : public testing::TestWithParam<Dialogue> {};

// Every login ends with its events on a single connection, the failed ones
// also with the end events, and none of them waits for the fake's deadline.
TEST_P(Login, EndsWithItsEvents) {
  FakeSession s(GetParam().script);
  if (GetParam().setup) GetParam().setup(s.ftp);
  s.ftp.Login();
  s.probe.Expect(GetParam().events);
  EXPECT_EQ(s.ftp.Connected(), GetParam().events.back() == "loggedin");
  EXPECT_EQ(s.server.Connections(), 1);
  EXPECT_FALSE(s.server.DeadlinePassed());
  if (GetParam().check) GetParam().check(s.ftp, s.server);
}

std::function<void(const TMFtp&, const FakeFtpServer&)> Sent(std::vector<std::string> commands) {
  return [=](const TMFtp&, const FakeFtpServer& server) { EXPECT_EQ(server.Transcripts().at(0), commands); };
}

Dialogue Syst(const char* name, const char* reply, TMFtpServerType type) {
  return {name, Answering({{"SYST", reply}}), kLoggedIn, nullptr,
          [=](const TMFtp& f, const FakeFtpServer&) { EXPECT_EQ(f.ServerType, type); }};
}

const Dialogue kDialogues[] = {
    // The resume probe runs in binary mode, and its "REST 0" reply is read
    // before the next command.
    {"Resumable", Answering(), kLoggedIn, nullptr,
     [](const TMFtp& f, const FakeFtpServer& server) {
       Sent({"USER joe", "PASS secret", "SYST", "TYPE I", "REST 100", "REST 0", "PWD"})(f, server);
       EXPECT_TRUE(f.Resumable());
       EXPECT_EQ(f.LastType(), "I");
       EXPECT_EQ(f.Directory(), "/");
     }},
    {"NotResumable", Answering({{"REST", "502 Not here"}}), {"info 17", "info 12", "ready", "loggedin"}, nullptr,
     Sent({"USER joe", "PASS secret", "SYST", "TYPE I", "REST 100", "PWD"})},
    // The welcome names the server: no SYST, and its drive path is a folder.
    {"NetTermDrivePath",
     Answering({{"PWD", "257 \"C:\\pub\\new\" is current"}}, "220 NetTerm FTP server ready"), kLoggedIn, nullptr,
     [](const TMFtp& f, const FakeFtpServer& server) {
       EXPECT_EQ(f.ServerType, ftpstNetTerm);
       EXPECT_EQ(f.Directory(), "/pub/new");
       EXPECT_EQ(server.Transcripts().at(0).at(2), "TYPE I");
     }},
    Syst("SystUnix", "215 UNIX Type: L8", ftpstUNIX),
    Syst("SystFirstWordWins", "215 unix emulated by Windows_NT", ftpstUNIX),
    Syst("SystWindows", "215 Windows_NT", ftpstMSFTP),
    Syst("SystRefused", "500 SYST unknown", ftpstDefault),
    Syst("SystBsd", "215 NetBSD", ftpstBSD),
    Syst("SystMultinet", "215 VMS MultiNet V4.4", ftpstVmsMultinet),
    Syst("SystVms", "215 VMS", ftpstVmsUcx),
    Syst("SystVmVps", "215 VM/VPS", ftpstVMVPS),
    Syst("SystUnknown", "215 Heron OS 3", ftpstDefault),
    // One byte every 50 ms: the welcome alone takes longer than the 3 s a
    // reply without progress may take.
    {"SlowRepliesCountAsProgress",
     [](FakeFtpPeer& p) {
       p.SendSlowly("220 " + std::string(80, '.') + "\r\n", 50ms);
       test::Converse(p, test::AcceptingReplies(), "");
     },
     kLoggedIn},
    {"MultiLineWelcomeWithANul",
     [](FakeFtpPeer& p) {
       p.Send(std::string("220-Welcome\0 here\r\n220-second\r\n220 ready\r\n", 42));
       test::Converse(p, test::AcceptingReplies(), "");
     },
     Events{"info 16"} + kLoggedIn, nullptr,
     [](const TMFtp& f, const FakeFtpServer&) {
       EXPECT_EQ(f.MultiLineReply(), (std::vector<std::string>{"220-Welcome here", "220-second", "220 ready"}));
     }},
    // A line break in a name would run a second command: nothing is sent.
    {"LineBreakInTheFolder", Answering(), {"info 6", "error 29", "info 21", "info 1", "quit", "ready"},
     [](TMFtp& f) { f.InitialDirectory = "up\r\nDELE victim"; },
     [](const TMFtp&, const FakeFtpServer& server) { EXPECT_EQ(server.Transcripts().at(0).back(), "REST 0"); }},
    // Every loss is an error, before login and after it (not retried then).
    {"DropBeforeWelcome", [](FakeFtpPeer& p) { p.Close(); }, Lost("error 5")},
    {"DropAfterWelcome", [](FakeFtpPeer& p) { p.Reply("220 fake ready"); p.Close(); }, Lost("error 5")},
    {"DropAfterUser", DropAt("USER"), Lost("error 5")},
    {"DropAfterPass", DropAt("PASS"), Lost("error 5")},
    {"DropDuringSyst", DropAt("SYST"), Lost("error 5")},
    {"DropDuringRest", DropAt("REST"), Lost("error 5")},
    {"DropDuringPwd", DropAt("PWD"), Events{"info 6"} + Lost("error 5")},
    {"ResetAfterUser", DropAt("USER", true), Lost("error 6")},
    {"DropAfterLoginIsNotRetried", DropAt("NOOP"), kLoggedIn + Events{"error 5", "info 1", "quit", "ready"},
     [](TMFtp& f) {
       f.Retries = 3;
       f.SetNoopInterval(1);
     }},
    // Garbage and silence.
    {"SilentServer", [](FakeFtpPeer& p) { p.WaitForClientClose(); }, Lost("error 7")},
    {"WelcomeWithoutCode", Sending("2xx ready\r\n"), Lost("error 25")},
    {"HyphenWithoutDigits", Sending("abc-def\r\n"), Lost("error 25")},
    {"LineOver64KiB", Sending("220 " + std::string(100 * 1024, 'x') + "\r\n"), Lost("error 5")},
    {"Code421ThenClose",
     [](FakeFtpPeer& p) {
       p.Reply("421 Too many users");
       p.Close();
     },
     Lost("error 25")},
};
INSTANTIATE_TEST_SUITE_P(FakeServer, Login, testing::ValuesIn(kDialogues),
                         [](const testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.name); });

TEST(TMFtp, AWrongPasswordIsTriedFourTimesThenGivenUpAndNeverShown) {
  FakeSession s(Answering({{"PASS", "530 Login incorrect"}}));
  s.ftp.Retries = 3;
  s.ftp.Login();
  s.probe.Expect({"error 26", "info 18", "error 26", "info 18", "error 26", "info 18", "error 26", "info 21", "info 1",
                  "quit", "ready"});
  EXPECT_EQ(s.server.Connections(), 4);
  EXPECT_EQ(s.probe.Count("> PASS (want to know) :-P"), 4u);
  for (const std::string& line : s.probe.traffic) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

// A server that sends without end (replies nobody asked for) must not keep
// the thread from its message loop. The fake sends a chunk more each time
// the component reports one, so the socket is never empty when it reads.
TEST(TMFtp, AFloodingServerLeavesTheMessageLoopServed) {
  constexpr int kMostChunks = 1000;
  auto wanted = std::make_shared<std::atomic<int>>(0);  // chunks asked of the fake; -1: no more
  FakeSession s([wanted](FakeFtpPeer& p) {
    LoginUntil(p, "PWD");
    p.Reply("257 \"/\" is the current directory");
    std::string chunk;
    while (chunk.size() < 4096) chunk += "200 unasked\r\n";
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (int sent = 0; *wanted >= 0 && std::chrono::steady_clock::now() < deadline;) {
      if (sent < *wanted) {
        p.Send(chunk);
        ++sent;
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
    p.WaitForClientClose();
  });
  s.ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return s.probe.Saw("loggedin"); }));
  int chunks = 0;
  bool served = false;
  s.ftp.AddInfoListener([&](TMFtp& f, FtpInfo info, const std::string&) {
    if (info != ftpInfoReceived || served) return;
    if (++chunks == 1) platform::MessageLoop::Current().Ref().PostCall([&] { served = true; });
    if (chunks >= kMostChunks) return;
    ++*wanted;
    pollfd more{f.Handle(), POLLIN, 0};
    poll(&more, 1, 10000);
  });
  ++*wanted;
  ASSERT_TRUE(PumpUntil([&] { return served; }));
  *wanted = -1;
  EXPECT_LT(chunks, kMostChunks) << "the component read until the server stopped";
}

// ---- Proxies -----------------------------------------------------------------------------

TEST(TMFtp, EveryProxyModeSpeaksToTheProxyInItsOwnWay) {
  struct Row {
    TMFtpProxyType type;
    uint16_t port;
    std::vector<std::string> commands;  // up to SYST
  };
  const Row rows[] = {
      {proxyHost, 21, {"HOST real.example", "USER joe", "PASS secret", "SYST"}},
      {proxyHostUser, 21, {"USER real.example!joe", "PASS secret", "SYST"}},
      {proxyHostUser, 2121, {"USER real.example:2121!joe", "PASS secret", "SYST"}},
      {proxyOpen, 21, {"OPEN real.example", "USER joe", "PASS secret", "SYST"}},
      {proxySite, 21, {"USER pjoe", "PASS psecret", "SITE real.example", "USER joe", "PASS secret", "SYST"}},
      {proxyUserSite, 21, {"USER joe@real.example", "PASS secret", "SYST"}},
      {proxyUserSite, 2121, {"USER joe@real.example:2121", "PASS secret", "SYST"}},
  };
  std::vector<std::string> lookedUp;
  platform::ScopedHostResolver resolver([&lookedUp](const std::string& name, uint32_t&) {
    lookedUp.push_back(name);
    return EAI_NONAME;
  });
  for (const Row& row : rows) {
    FakeSession s(Answering({{"HOST", "331 Proxy will connect"}, {"OPEN", "220 Connected"}, {"SITE", "200 Connected"}}));
    s.ftp.SetServer("real.example");
    s.ftp.Port = row.port;
    s.ftp.ProxyType = row.type;
    s.ftp.ProxyServer = "127.0.0.1";
    s.ftp.ProxyPort = s.server.Port();
    s.ftp.ProxyUsername = "pjoe";
    s.ftp.ProxyPassword = "psecret";
    s.ftp.Login();
    ASSERT_TRUE(PumpUntil([&] { return s.probe.Saw("loggedin"); })) << row.type;
    const std::vector<std::string> sent = s.server.Transcripts().at(0);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + std::min(sent.size(), row.commands.size())),
              row.commands)
        << row.type << " port " << row.port;
    EXPECT_EQ(s.ftp.Server(), "real.example");
    EXPECT_EQ(s.ftp.Port, row.port);
  }
  EXPECT_TRUE(lookedUp.empty());  // the real server is the proxy's business
}

TEST(TMFtp, AProxyThatRefusedTheWelcomeIsStillTheProxyOnTheRetry) {
  const FakeFtpServer::Script answer = Answering({{"HOST", "331 Proxy will connect"}});
  FakeSession s([&](FakeFtpPeer& p) {
    if (p.Index() > 0) return answer(p);
    p.Reply("421 Busy, try again");
    p.Close();
  });
  s.ftp.SetServer("127.0.0.2");
  s.ftp.Port = 2121;
  s.ftp.Retries = 1;
  s.ftp.ProxyType = proxyHost;
  s.ftp.ProxyServer = "127.0.0.1";
  s.ftp.ProxyPort = s.server.Port();
  s.ftp.Login();
  s.probe.Expect(Events{"error 25", "info 18"} + kLoggedIn);
  ASSERT_EQ(s.server.Connections(), 2);
  EXPECT_EQ(s.server.Transcripts()[1].at(0), "HOST 127.0.0.2");
}

// ---- Keep-alive and logout -----------------------------------------------------------

TEST(TMFtp, AnOperationAskedForDuringANoopStartsAfterItsReply) {
  FakeSession s([](FakeFtpPeer& p) {
    LoginUntil(p, "NOOP");
    std::this_thread::sleep_for(1500ms);
    p.Reply("200 NOOP ok");
    if (p.Expect("QUIT")) p.Reply("221 Bye");
  });
  s.ftp.SetNoopInterval(1);
  s.ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return s.probe.Count("> NOOP") > 0; }));
  s.ftp.Logout();
  s.probe.Expect(kLoggedIn + Events{"busy", "info 1", "quit", "ready"});
  EXPECT_LT(s.probe.TrafficIndex("< 200 NOOP ok"), s.probe.TrafficIndex("> QUIT"));
  EXPECT_EQ(s.server.Transcripts().at(0).back(), "QUIT");
}

TEST(TMFtp, ACommandForAVanishedSocketEndsWithError5) {
  TMFtp idle;
  FtpProbe refused(idle);
  idle.Logout();
  EXPECT_EQ(refused.events, Events{"info 1"});  // never connected: refused at once
  EXPECT_TRUE(refused.traffic.empty());

  FakeSession s(Answering());
  s.ftp.Login();
  ASSERT_TRUE(PumpUntil([&] { return s.probe.Saw("loggedin"); }));
  s.ftp.Abandon();  // the socket goes without a word
  s.ftp.Logout();
  s.probe.Expect(kLoggedIn + Events{"busy", "error 5", "info 1", "quit", "ready"});
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
  FakeFtpServer server(Answering());
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

  // Without a server the caller is asked once; blanks are no answer.
  TMFtp ftp;
  FtpProbe probe(ftp);
  int asked = 0;
  ftp.OnFtpNeedInfo = [&](TMFtp&, TMFtpInfoNeeded need, std::string& value) {
    EXPECT_EQ(need, niServer);
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
  FakeFtpServer server(Answering({{"PASS", "530 Login incorrect"}}));
  // Destroyed right after the event named first arrives.
  for (const std::string moment : {"lookup", "connected", "> USER joe", "error 26", "info 18"}) {
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
