#include "testsupport/ftprelay.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testsupport/loopback.h"

namespace kv::test {

FtpRelay::FtpRelay(uint16_t serverPort, std::optional<FtpRelayRule> rule)
    : serverPort_(serverPort), rule_(std::move(rule)) {
  armed_ = rule_ && rule_->after.empty();
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

FtpRelay::~FtpRelay() {
  stop_ = true;
  thread_.join();
  for (std::thread& session : sessions_) session.join();
  ::close(listener_);
}

std::vector<std::string> FtpRelay::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

void FtpRelay::Serve() {
  AcceptUntil(listener_, [this] { return stop_.load(); },
              [this](int client) { sessions_.emplace_back([this, client] { Relay(client); }); });
}

void FtpRelay::Relay(int client) {
  const int server = ConnectLoopback(serverPort_);
  std::string pending;
  pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
  bool open = server >= 0;
  while (open && !stop_) {
    if (::poll(fds, 2, kPollSliceMs) <= 0) continue;
    char buffer[65536];
    if (fds[1].revents) {
      const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
      open = n > 0 && SendAll(client, std::string_view(buffer, static_cast<size_t>(n)));
    }
    if (open && fds[0].revents) {
      const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      open = n > 0;
      if (open) pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; open && (end = pending.find("\r\n")) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        open = Command(client, server, line);
      }
    }
  }
  if (server >= 0) ::close(server);
  ::close(client);
}

bool FtpRelay::Command(int client, int server, const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    commands_.push_back(line);
  }
  const std::string verb = UpperVerb(line);
  if (verb == "USER") ++logins_;
  if (verb == "OPEN") return SendAll(client, "200 Connected\r\n");
  if (rule_ && armed_ && (verb + line.substr(verb.size())).starts_with(rule_->command) &&
      (rule_->times == 0 || firings_ < rule_->times)) {
    ++firings_;
    if (rule_->before) {
      rule_->before();
      return SendAll(server, line + "\r\n");
    }
    return !rule_->reply.empty() && SendAll(client, rule_->reply + "\r\n");
  }
  if (rule_ && !armed_ && line.find(rule_->after) != std::string::npos) armed_ = true;
  return SendAll(server, line + "\r\n");
}

}  // namespace kv::test
