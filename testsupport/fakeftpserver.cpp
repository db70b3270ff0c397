#include "testsupport/fakeftpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "testsupport/loopback.h"

namespace kv::test {

// ---- FakeFtpPeer ------------------------------------------------------------

// A client that went away is noticed by the script at its next read.
void FakeFtpPeer::Send(std::string_view bytes) { SendAll(fd_, bytes); }

void FakeFtpPeer::SendSlowly(std::string_view bytes, std::chrono::milliseconds perByte) {
  for (const char c : bytes) {
    if (server_.Stopping()) return;
    Send(std::string_view(&c, 1));
    std::this_thread::sleep_for(perByte);
  }
}

bool FakeFtpPeer::WaitReadable() {
  return WaitFor(fd_, POLLIN, [this] { return server_.Stopping(); });
}

std::optional<std::string> FakeFtpPeer::Command() {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      server_.Record(index_, line);
      return line;
    }
    if (!WaitReadable()) return std::nullopt;
    char chunk[4096];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

bool FakeFtpPeer::Expect(std::string_view verb) {
  const std::string wanted = UpperVerb(verb);
  while (std::optional<std::string> line = Command())
    if (UpperVerb(*line) == wanted) return true;
  return false;
}

// The client's last words are read before the socket goes, so that the
// close reaches it as an orderly end and never as a reset.
void FakeFtpPeer::Close() {
  if (fd_ < 0) return;
  shutdown(fd_, SHUT_WR);
  char sink[4096];
  while (WaitReadable() && recv(fd_, sink, sizeof sink, 0) > 0) {
  }
  close(fd_);
  fd_ = -1;
}

void FakeFtpPeer::Reset() {
  if (fd_ >= 0) CloseWithReset(std::exchange(fd_, -1));
}

void FakeFtpPeer::WaitForClientClose() {
  while (Command()) {
  }
}

// ---- FakeFtpServer ----------------------------------------------------------

FakeFtpServer::FakeFtpServer(Script script, std::chrono::seconds deadline)
    : script_(std::move(script)), deadline_(std::chrono::steady_clock::now() + deadline) {
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

FakeFtpServer::~FakeFtpServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

bool FakeFtpServer::Stopping() const { return stop_ || std::chrono::steady_clock::now() >= deadline_; }

bool FakeFtpServer::DeadlinePassed() const { return std::chrono::steady_clock::now() >= deadline_; }

void FakeFtpServer::Serve() {
  int index = 0;
  AcceptUntil(listener_, [this] { return Stopping(); }, [&](int fd) {
    {
      std::lock_guard lock(mutex_);
      transcripts_.emplace_back();
    }
    FakeFtpPeer peer(*this, fd, index++);
    script_(peer);
    peer.Close();
  });
}

void FakeFtpServer::Record(int index, const std::string& line) {
  std::lock_guard lock(mutex_);
  transcripts_[static_cast<size_t>(index)].push_back(line);
}

std::vector<std::vector<std::string>> FakeFtpServer::Transcripts() const {
  std::lock_guard lock(mutex_);
  return transcripts_;
}

int FakeFtpServer::Connections() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(transcripts_.size());
}

// ---- FakeData ------------------------------------------------------------------

bool FakeData::Wait(int fd, short events) const {
  return WaitFor(fd, events, [this] { return server_->Stopping(); });
}

FakeData::FakeData(FakeData&& other) noexcept
    : server_(other.server_),
      listener_(other.listener_),
      fd_(other.fd_),
      port_(other.port_),
      portArgument_(std::move(other.portArgument_)) {
  other.listener_ = -1;
  other.fd_ = -1;
}

FakeData::~FakeData() {
  Close();
  if (listener_ >= 0) close(listener_);
}

FakeData FakeData::Listen(FakeFtpPeer& peer) {
  uint16_t port = 0;
  const int listener = ListenOnLoopback(port);
  return FakeData(peer.server_, listener, -1, port);
}

std::string FakeData::PasvReply(std::string_view address) const {
  return "227 Entering Passive Mode (" + std::string(address) + "," + std::to_string(port_ / 256) + "," +
         std::to_string(port_ % 256) + ")";
}

bool FakeData::Accept() {
  if (fd_ >= 0) return true;
  if (!Wait(listener_, POLLIN)) return false;
  fd_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return fd_ >= 0;
}

FakeData FakeData::Connect(FakeFtpPeer& peer, std::string_view portArgument, std::string_view from) {
  unsigned h[4] = {}, p[2] = {};
  const std::string text(portArgument);
  FakeData data(peer.server_, -1, -1, 0);
  data.portArgument_ = text;
  if (std::sscanf(text.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) != 6) return data;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, std::string(from).c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(p[0] * 256 + p[1]));
  remote.sin_addr.s_addr = htonl(h[0] << 24 | h[1] << 16 | h[2] << 8 | h[3]);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    close(fd);
    return data;
  }
  data.fd_ = fd;
  return data;
}

void FakeData::Send(std::string_view bytes) {
  while (fd_ >= 0 && !bytes.empty() && Wait(fd_, POLLOUT)) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string FakeData::ReceiveAll() {
  std::string received;
  char chunk[65536];
  while (fd_ >= 0 && Wait(fd_, POLLIN)) {
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    received.append(chunk, static_cast<size_t>(n));
  }
  return received;
}

bool FakeData::ClientClosed() {
  char chunk[4096];
  while (fd_ >= 0 && Wait(fd_, POLLIN)) {
    if (recv(fd_, chunk, sizeof chunk, 0) <= 0) return true;
  }
  return false;
}

void FakeData::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

void FakeData::Reset() {
  if (fd_ >= 0) CloseWithReset(std::exchange(fd_, -1));
}

std::optional<FakeData> OpenData(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view pasvAddress,
                                 std::string_view activeFrom) {
  for (;;) {
    const std::optional<std::string> line = peer.Command();
    if (!line) return std::nullopt;
    const std::string verb = UpperVerb(*line);
    if (verb == "PASV") {
      FakeData data = FakeData::Listen(peer);
      peer.Reply(data.PasvReply(pasvAddress));
      return data;
    }
    if (verb == "PORT") {
      peer.Reply("200 PORT command successful");
      return FakeData::Connect(peer, line->substr(5), activeFrom);
    }
    const auto it = replies.find(verb);
    peer.Reply(it == replies.end() ? "502 Command not implemented" : it->second);
  }
}

bool ExpectTransfer(FakeFtpPeer& peer, FakeData& data, std::string_view verb, const FakeReplies& replies) {
  return ConverseUntil(peer, replies, verb) && data.Accept();
}

// ---- Dialogues ---------------------------------------------------------------

bool ConverseUntil(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view stopAt) {
  const std::string stop = UpperVerb(stopAt);
  while (std::optional<std::string> line = peer.Command()) {
    const std::string verb = UpperVerb(*line);
    if (verb == stop) return true;
    const auto it = replies.find(verb);
    peer.Reply(it == replies.end() ? "502 Command not implemented" : it->second);
  }
  return false;
}

void Converse(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view welcome) {
  if (!welcome.empty()) peer.Reply(welcome);
  if (ConverseUntil(peer, replies, "QUIT")) peer.Reply("221 Goodbye.");
}

FakeReplies AcceptingReplies() {
  return {
      {"USER", "331 Password required"}, {"PASS", "230 Logged in"},
      {"SYST", "215 UNIX Type: L8"},      {"TYPE", "200 Type set"},
      {"REST", "350 Restarting"},         {"PWD", "257 \"/\" is the current directory"},
      {"CWD", "250 OK"},                  {"NOOP", "200 NOOP ok"},
  };
}

}  // namespace kv::test
