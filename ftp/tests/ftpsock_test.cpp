#include "ftp/ftpsock.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Records what a socket reports, with LastError at each callback.
struct SocketProbe {
  explicit SocketProbe(TMSocket& socket, int readSize = 4096) {
    const auto note = [this](const char* name) {
      return [this, name](TMSocket& s) {
        events.push_back(name);
        errors.push_back(s.LastError);
      };
    };
    socket.OnConnect = note("connect");
    socket.OnWrite = note("write");
    socket.OnDisconnect = note("disconnect");
    socket.OnTimeout = note("timeout");
    socket.OnResolved = note("resolved");
    socket.OnRead = [this, readSize](TMSocket& s) {
      events.push_back("read");
      errors.push_back(s.LastError);
      std::string chunk(static_cast<size_t>(readSize), '\0');
      chunk.resize(static_cast<size_t>(s.Receive(chunk.data(), readSize)));
      data += chunk;
    };
  }
  int Count(const std::string& name) const { return static_cast<int>(std::count(events.begin(), events.end(), name)); }
  int ErrorAt(const std::string& name) const {
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i] == name) return errors[i];
    return -1;
  }

  std::vector<std::string> events;
  std::vector<int> errors;
  std::string data;
};

void ConnectTo(TMSocket& socket, uint16_t port) {
  socket.SetAddressText("127.0.0.1");
  socket.SetPortNumber(port);
  socket.CreateSocket();
  socket.Connect();
  ASSERT_EQ(socket.LastError, 0);
}

TEST(TMSocket, ServerTextIsAnAddressOnlyWhenItIsACompleteDottedAddress) {
  struct Row {
    const char* text;
    const char* address;
    const char* host;
  };
  const Row rows[] = {
      {" 10.0.0.1 ", "10.0.0.1", ""},
      {"4host.example", "", "4host.example"},
      {"1.2.3", "", "1.2.3"},
      {"ftp.example.org", "", "ftp.example.org"},
      {"  ", "", "ftp.example.org"},  // empty: both stay as they were
  };
  TMSocket socket;
  for (const Row& row : rows) {
    socket.SetServer(row.text);
    EXPECT_EQ(socket.AddressText, row.address) << row.text;
    EXPECT_EQ(socket.HostName, row.host) << row.text;
  }
}

TEST(TMSocket, APeerThatClosesWithDataBufferedIsReadToTheEndBeforeTheDisconnect) {
  FakeFtpServer server([](FakeFtpPeer& peer) {
    peer.Send("hello, world");
    peer.Close();
  });
  TMSocket socket;
  SocketProbe probe(socket, 5);  // several reads, so FD_READ must come back
  ConnectTo(socket, server.Port());
  ASSERT_TRUE(PumpUntil([&] { return probe.Count("disconnect") > 0; }));
  PumpFor(100ms);
  EXPECT_EQ(probe.data, "hello, world");
  ASSERT_GE(probe.events.size(), 5u);
  EXPECT_EQ(probe.events.front(), "connect");
  EXPECT_EQ(std::vector<std::string>(probe.events.end() - 3, probe.events.end()),
            (std::vector<std::string>{"read", "write", "disconnect"}));
  EXPECT_EQ(probe.Count("disconnect"), 1);
  EXPECT_EQ(probe.ErrorAt("disconnect"), 0);
  EXPECT_FALSE(socket.SocketConnected());
  EXPECT_FALSE(socket.HasSocket());
}

TEST(TMSocket, ARefusedConnectIsReportedOnceAndNothingFollows) {
  const test::DeadPort port = test::DeadPort::Refusing();
  TMSocket socket;
  SocketProbe probe(socket);
  ConnectTo(socket, port.Port());
  ASSERT_TRUE(PumpUntil([&] { return probe.Count("connect") > 0; }));
  PumpFor(300ms);
  EXPECT_EQ(probe.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(probe.ErrorAt("connect"), platform::WSAECONNREFUSED);
  EXPECT_FALSE(socket.SocketConnected());
}

TEST(TMSocket, AConnectThatNeverCompletesTimesOutAfterTimeOutTicks) {
  const test::DeadPort port = test::DeadPort::Stalling();
  TMSocket socket;
  SocketProbe probe(socket);
  socket.TimeOut = 2;
  ConnectTo(socket, port.Port());
  std::vector<int> countdown;
  ASSERT_TRUE(PumpUntil([&] {
    if (countdown.empty() || countdown.back() != socket.Countdown()) countdown.push_back(socket.Countdown());
    return probe.Count("timeout") > 0;
  }));
  EXPECT_EQ(countdown, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(probe.events, std::vector<std::string>{"timeout"});
}

// The system's resolver finds localhost; failures carry their WinSock
// numbers.
TEST(TMSocket, LookupsAnswerWithTheAddressOrTheWinSockNumber) {
  struct Row {
    int eai;  // 0: the system's resolver
    int winSock;
  };
  const Row rows[] = {{0, 0}, {EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_FAIL, 11003}, {EAI_NODATA, 11004}};
  for (const Row& row : rows) {
    std::optional<platform::ScopedHostResolver> resolver;
    if (row.eai != 0) resolver.emplace([&](const std::string&, uint32_t&) { return row.eai; });
    TMSocket socket;
    SocketProbe probe(socket);
    socket.ResolveHost("localhost");
    ASSERT_TRUE(PumpUntil([&] { return probe.Count("resolved") > 0; }));
    EXPECT_EQ(probe.ErrorAt("resolved"), row.winSock) << row.eai;
    socket.UseResolvedAddress();
    if (row.winSock == 0) {
      EXPECT_EQ(socket.GetAddressText(), "127.0.0.1");
    }
  }
}

TEST(TMSocket, AHangingLookupIsCancelledByCloseAndANewOneWorks) {
  // The hanging lookup's state outlives the test: its thread returns later.
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  platform::ScopedHostResolver resolver([released](const std::string& name, uint32_t& address) {
    if (name == "slow.example") released.wait();
    platform::ParseIPv4(name == "slow.example" ? "10.9.9.9" : "10.1.2.3", address);
    return 0;
  });
  TMSocket socket;
  SocketProbe probe(socket);
  socket.ResolveHost("slow.example");
  ASSERT_TRUE(socket.LookupPending());
  socket.Close();
  EXPECT_FALSE(socket.LookupPending());
  socket.ResolveHost("fast.example");
  ASSERT_TRUE(PumpUntil([&] { return probe.Count("resolved") > 0; }));
  release->set_value();
  PumpFor(300ms);
  EXPECT_EQ(probe.events, std::vector<std::string>{"resolved"});  // no disconnect: there was no socket
  socket.UseResolvedAddress();
  EXPECT_EQ(socket.GetAddressText(), "10.1.2.3");
}

TEST(TMSocket, ANewSocketOnAReusedDescriptorNeverGetsTheOldOnesNotices) {
  FakeFtpServer server([](FakeFtpPeer& peer) {
    if (peer.Index() == 0 && peer.Command()) peer.Send("stale");
    peer.WaitForClientClose();
  });
  TMSocket socket;
  SocketProbe probe(socket);
  ConnectTo(socket, server.Port());
  ASSERT_TRUE(PumpUntil([&] { return probe.Count("write") > 0; }));
  socket.Send("go\r\n", 4);
  // Let the FD_READ of "stale" be queued, but not served.
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  for (int i = 0; i < 100 && !loop.HasPendingWork(); ++i) loop.WaitMessage(100);
  ASSERT_TRUE(loop.HasPendingWork());
  const platform::SOCKET old = socket.Handle();
  socket.Close();
  socket.CreateSocket();
  ASSERT_EQ(socket.Handle(), old) << "the descriptor number was not reused";
  socket.Connect();
  const int readsBefore = probe.Count("read");
  ASSERT_TRUE(PumpUntil([&] { return probe.Count("connect") == 2; }));
  PumpFor(200ms);
  EXPECT_EQ(probe.Count("read"), readsBefore);
  EXPECT_EQ(probe.data, "");
}

}  // namespace
}  // namespace kv
