#pragma once
// A scripted FTP server for tests of the client: it listens on 127.0.0.1
// (a free port), serves one connection after the other on a thread of its
// own with plain blocking sockets (never the platform layer it tests), and
// hands each connection to a script that says what to send and when. It
// records every command line it receives. Everything has a deadline: when
// it passes, every read answers "closed" and the script runs out.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kv::test {

class FakeFtpServer;
// Replies by command verb (see ConverseUntil).
using FakeReplies = std::map<std::string, std::string>;

// One connection, as the script sees it (on the server's thread).
class FakeFtpPeer {
 public:
  int Index() const { return index_; }  // 0 for the first connection
  void Send(std::string_view bytes);
  void Reply(std::string_view line) { Send(std::string(line) + "\r\n"); }
  void SendSlowly(std::string_view bytes, std::chrono::milliseconds perByte);
  // The next command line without its line end; nothing once the client
  // closed, the connection broke or the deadline passed.
  std::optional<std::string> Command();
  // Waits for a command with this verb (case-insensitive), taking and
  // recording the others unanswered; false when none came.
  bool Expect(std::string_view verb);
  // An orderly close: what the client still sends is read and dropped until
  // it closes too, so the client sees the end of data, never a reset.
  void Close();
  void Reset();  // a close with a reset
  // Reads until the client closes (a server that never answers).
  void WaitForClientClose();

 private:
  friend class FakeFtpServer;
  friend class FakeData;
  FakeFtpPeer(FakeFtpServer& server, int fd, int index) : server_(server), fd_(fd), index_(index) {}
  bool WaitReadable();

  FakeFtpServer& server_;
  int fd_;
  int index_;
  std::string buffer_;
};

class FakeFtpServer {
 public:
  using Script = std::function<void(FakeFtpPeer&)>;
  explicit FakeFtpServer(Script script, std::chrono::seconds deadline = std::chrono::seconds(60));
  ~FakeFtpServer();
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  uint16_t Port() const { return port_; }
  // The command lines received, one list per connection.
  std::vector<std::vector<std::string>> Transcripts() const;
  int Connections() const;
  bool DeadlinePassed() const;

 private:
  friend class FakeFtpPeer;
  friend class FakeData;
  void Serve();
  bool Stopping() const;
  void Record(int index, const std::string& line);

  Script script_;
  std::chrono::steady_clock::time_point deadline_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::vector<std::string>> transcripts_;
  std::thread thread_;
};

// A data connection of the fake server, on plain blocking sockets like the
// rest of it. Every wait ends at the server's deadline.
class FakeData {
 public:
  FakeData(FakeData&& other) noexcept;
  FakeData& operator=(FakeData&&) = delete;
  ~FakeData();

  // Passive: listens on 127.0.0.1 at a port the kernel picks.
  static FakeData Listen(FakeFtpPeer& peer);
  // The reply to PASV for that port, naming address ("127,0,0,1") - the
  // client is to use the port only.
  std::string PasvReply(std::string_view address = "127,0,0,1") const;
  uint16_t Port() const { return port_; }
  // Waits for the client's connection; false when none came.
  bool Accept();
  // Active: connects to the address of a PORT argument from the local
  // address `from` (any of 127/8).
  static FakeData Connect(FakeFtpPeer& peer, std::string_view portArgument, std::string_view from = "127.0.0.1");
  bool Connected() const { return fd_ >= 0; }
  // The PORT argument an active connection went to.
  const std::string& PortArgument() const { return portArgument_; }

  void Send(std::string_view bytes);
  // Everything the client sends until it closes.
  std::string ReceiveAll();
  // True when the client closed (or reset) the connection before the
  // deadline.
  bool ClientClosed();
  void Close();   // an orderly close
  void Reset();   // a close with a reset

 private:
  FakeData(FakeFtpServer& server, int listener, int fd, uint16_t port)
      : server_(&server), listener_(listener), fd_(fd), port_(port) {}
  // Waits in slices for the events on fd until the server stops.
  bool Wait(int fd, short events) const;
  FakeFtpServer* server_;
  int listener_;
  int fd_;
  uint16_t port_;
  std::string portArgument_;
};

// Answers commands from the table until the client asks for a data
// connection, then opens it: PASV gets a listener and its reply (naming
// pasvAddress), PORT a "200" and a connection. Nothing when the client
// closed first.
// An active connection comes from activeFrom.
std::optional<FakeData> OpenData(FakeFtpPeer& peer, const FakeReplies& replies,
                                 std::string_view pasvAddress = "127,0,0,1", std::string_view activeFrom = "127.0.0.1");
// After OpenData: answers commands from the table up to the transfer
// command with the verb (taken unanswered) and, in passive mode, takes the
// client's connection. False when either did not come.
bool ExpectTransfer(FakeFtpPeer& peer, FakeData& data, std::string_view verb, const FakeReplies& replies);

// Answers each command by its verb (the first word, in upper case) from the
// table; a verb missing from it gets "502 Command not implemented". Stops
// at a command with the verb `stopAt`, unanswered (true), or when the
// client closes (false).
bool ConverseUntil(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view stopAt);
// Sends the welcome (unless empty), then answers commands until QUIT, which
// gets 221 before the close.
void Converse(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view welcome = "220 fake ready");
// A server that lets anybody in: USER 331, PASS 230, SYST 215 UNIX, TYPE
// 200, REST 350, PWD 257 "/", CWD 250, NOOP 200.
FakeReplies AcceptingReplies();

}  // namespace kv::test
