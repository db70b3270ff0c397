#pragma once
// Records what an FTP component reports, for the FTP tests.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp.h"
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
      else if (info != ftpInfoConnected && info != ftpInfoResolving && info != ftpInfoResolved)
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

  Events events;
  std::vector<std::string> errorTexts;
  std::vector<std::string> traffic;
};

}  // namespace kv
