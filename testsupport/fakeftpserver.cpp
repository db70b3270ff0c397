#include "testsupport/fakeftpserver.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

#include "testsupport/loopback.h"

namespace kv::test {
namespace {

constexpr int kPollSliceMs = 50;

std::string UpperWord(std::string_view line) {
  std::string word(line.substr(0, line.find(' ')));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

}  // namespace

// ---- FakeFtpPeer ------------------------------------------------------------

void FakeFtpPeer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;  // the client went away; the script notices at its next read
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void FakeFtpPeer::SendSlowly(std::string_view bytes, std::chrono::milliseconds perByte) {
  for (const char c : bytes) {
    if (server_.Stopping()) return;
    Send(std::string_view(&c, 1));
    std::this_thread::sleep_for(perByte);
  }
}

bool FakeFtpPeer::WaitReadable() {
  while (!server_.Stopping()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, kPollSliceMs) > 0) return true;
  }
  return false;
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
  const std::string wanted = UpperWord(verb);
  while (std::optional<std::string> line = Command())
    if (UpperWord(*line) == wanted) return true;
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
  if (fd_ < 0) return;
  linger abortive{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  close(fd_);
  fd_ = -1;
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
  for (int index = 0; !Stopping(); ) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, kPollSliceMs) <= 0) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard lock(mutex_);
      transcripts_.emplace_back();
    }
    FakeFtpPeer peer(*this, fd, index++);
    script_(peer);
    peer.Close();
  }
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

// ---- Dialogues ---------------------------------------------------------------

bool ConverseUntil(FakeFtpPeer& peer, const FakeReplies& replies, std::string_view stopAt) {
  const std::string stop = UpperWord(stopAt);
  while (std::optional<std::string> line = peer.Command()) {
    const std::string verb = UpperWord(*line);
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
