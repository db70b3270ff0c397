#pragma once
// Records what an FTP component reports, for the FTP tests.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp.h"
#include "testsupport/fakeftpserver.h"
#include "testsupport/ftpserver.h"
#include "testsupport/pump.h"

namespace kv {

using Events = std::vector<std::string>;

inline std::string Chomp(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// What a component reports, in order: the events that tell how a connection
// or an operation went, and the control traffic apart.
struct FtpProbe {
  explicit FtpProbe(TMFtp& ftp) {
    ftp.OnFtpInfo = [this](TMFtp&, FtpInfo info, const std::string& text) {
      if (info == ftpInfoSent) traffic.push_back("> " + Chomp(text));
      else if (info == ftpInfoReceived) traffic.push_back("< " + Chomp(text));
      else if (info == ftpInfoSize) sizes.push_back(text);
      else if (info != ftpInfoProgress && info != ftpInfoConnected && info != ftpInfoResolving && info != ftpInfoResolved &&
               info != ftpInfoEntryFound)
        events.push_back("info " + std::to_string(info));
    };
    ftp.OnFtpError = [this](TMFtp&, FtpError error, const std::string& text) {
      events.push_back("error " + std::to_string(error));
      errorTexts.push_back(text);
    };
    const auto note = [this](const char* name) { return [this, name](TMFtp&) { events.push_back(name); }; };
    ftp.OnFtpReady = note("ready");
    ftp.OnLoggedIn = note("loggedin");
    ftp.OnFtpQuit = note("quit");
    ftp.OnFtpBusy = note("busy");
    ftp.OnDirectoryChanged = note("changed");
    ftp.OnDirectoryCreated = note("created");
    ftp.OnDirectoryDeleted = note("removed");
    ftp.OnFileDeleted = note("deleted");
    ftp.OnFileRenamed = note("renamed");
    ftp.OnFileReceived = note("received");
    ftp.OnFileStored = note("stored");
    ftp.OnListingDone = note("listed");
  }

  // Waits for as many events as expected, and a little longer to see that
  // nothing more comes.
  void Expect(const Events& expected) {
    EXPECT_TRUE(test::PumpUntil([&] { return events.size() >= expected.size(); }));
    test::PumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(events, expected);
  }
  bool Saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
  size_t TrafficIndex(const std::string& line) const {
    return static_cast<size_t>(std::find(traffic.begin(), traffic.end(), line) - traffic.begin());
  }

  // Starts an operation and serves the loop until its own event (or the
  // connection's end) arrived; only that operation's reports are kept.
  // False when the deadline passed first.
  bool Run(const std::function<void()>& start, const std::string& event,
           std::chrono::milliseconds deadline = test::kEventDeadline) {
    events.clear();
    errorTexts.clear();
    sizes.clear();
    start();
    return test::PumpUntil([&] { return Saw(event) || Saw("quit"); }, deadline);
  }
  size_t Count(const std::string& line) const {
    return static_cast<size_t>(std::count(traffic.begin(), traffic.end(), line));
  }

  Events events;  // progress (info 8), entries found (info 15) and sizes (info 13) apart
  std::vector<std::string> errorTexts;
  std::vector<std::string> traffic;
  std::vector<std::string> sizes;
};

inline Events operator+(Events a, const Events& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A component aimed at the scripted fake server, with short time limits.
inline void Aim(TMFtp& ftp, uint16_t port) {
  ftp.SetServer("127.0.0.1");
  ftp.Port = port;
  ftp.TimeOut = 1;  // connects and lookups 1 s, replies 3 s
  ftp.Retries = 0;
  ftp.RetryInterval = 0;
  ftp.SetNoopInterval(0);
  ftp.Username = "joe";
  ftp.Password = "secret";
}

// The fake's replies that let anybody in, some of them changed.
inline test::FakeReplies Accepting(const test::FakeReplies& changes = {}) {
  test::FakeReplies replies = test::AcceptingReplies();
  for (const auto& [verb, reply] : changes) replies[verb] = reply;
  return replies;
}

// A fake that answers from those replies until QUIT.
inline test::FakeFtpServer::Script Answering(const test::FakeReplies& changes = {},
                                             std::string welcome = "220 fake ready") {
  return [replies = Accepting(changes), welcome](test::FakeFtpPeer& p) { test::Converse(p, replies, welcome); };
}

// A component aimed at a fake server that runs the script.
struct FakeSession {
  explicit FakeSession(test::FakeFtpServer::Script script) : server(std::move(script)) { Aim(ftp, server.Port()); }
  test::FakeFtpServer server;
  TMFtp ftp;
  FtpProbe probe{ftp};
};

// The fake's side of a login, up to a command with the verb (unanswered).
inline void LoginUntil(test::FakeFtpPeer& peer, const char* verb) {
  peer.Reply("220 fake ready");
  test::ConverseUntil(peer, test::AcceptingReplies(), verb);
}

// A component aimed at one of the real server fixtures, without retries or
// keep-alive.
inline void AimAt(TMFtp& ftp, const test::FtpServer& server) {
  ftp.SetServer(server.host());
  ftp.Port = static_cast<uint16_t>(server.port());
  ftp.Username = server.user();
  ftp.Password = server.password();
  ftp.Retries = 0;
  ftp.TimeOut = 10;
  ftp.SetNoopInterval(0);
}

}  // namespace kv
