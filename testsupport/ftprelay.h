#pragma once
// A relay for the control connections of a real FTP server, on 127.0.0.1 at
// a port the kernel picks: it passes every command and reply through and
// records the commands, and it breaks in where a test says so, by dropping
// the session or answering a command itself. Data connections go to the
// server directly (its PASV replies are passed on unchanged).
//
// It also speaks for an open-style proxy: "OPEN host" is answered "200"
// and not passed on, so the same relay serves logins with and without the
// proxy flag and counts them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

struct FtpRelayRule {
  // The rule is armed once a command line containing `after` went by (an
  // empty `after` arms it at once); it fires on every later command line
  // that begins with `command` (its verb in upper case).
  std::string after;
  std::string command;
  // Empty: the session is dropped (both connections closed) and the server
  // never sees the command. Otherwise this reply goes back instead.
  std::string reply;
  int times = 0;  // how often it fires; 0: always
  // When set, it runs and the command goes on to the server after it.
  std::function<void()> before;
};

class FtpRelay {
 public:
  FtpRelay(uint16_t serverPort, std::optional<FtpRelayRule> rule = std::nullopt);
  ~FtpRelay();
  FtpRelay(const FtpRelay&) = delete;
  FtpRelay& operator=(const FtpRelay&) = delete;

  uint16_t Port() const { return port_; }
  int Logins() const { return logins_; }
  bool Fired() const { return firings_ > 0; }
  // Every command line of every session, in order.
  std::vector<std::string> Commands() const;

 private:
  void Serve();
  void Relay(int client);
  // False when the session ends here.
  bool Command(int client, int server, const std::string& line);

  uint16_t serverPort_;
  std::optional<FtpRelayRule> rule_;
  std::atomic<bool> armed_{false};
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> logins_{0};
  std::atomic<int> firings_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::vector<std::thread> sessions_;
  std::thread thread_;
};

}  // namespace kv::test
