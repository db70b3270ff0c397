#include "testsupport/ftpproxy.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport/loopback.h"

extern char** environ;

namespace kv::test {

FtpProxy::FtpProxy() : program_(KV_FTP_SERVERS_DIR "/usr/sbin/ftp-proxy") {
  if (access(program_.c_str(), X_OK) != 0) {
    skipReason_ = program_ + " is missing (unpacked by scripts/unpack-ftp-proxy.sh BUILD_DIR)";
    return;
  }
  config_ = work_.Posix("ftp-proxy.conf");
  work_.Write("ftp-proxy.conf", "[-Global-]\nDestinationAddress 127.0.0.1\nAllowMagicUser yes\nServerType inetd\n"
                                "LogDestination " + work_.Posix("ftp-proxy.log") + "\n");
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

FtpProxy::~FtpProxy() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  close(listener_);
  for (const pid_t pid : sessions_) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string FtpProxy::Log() const { return work_.Exists("ftp-proxy.log") ? work_.Read("ftp-proxy.log") : ""; }

void FtpProxy::Serve() {
  AcceptUntil(listener_, [this] { return stop_.load(); }, [this](int connection) {
    StartSession(connection);
    close(connection);
  });
}

void FtpProxy::StartSession(int connection) {
  const std::string stderrPath = work_.Posix("ftp-proxy.stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, connection, 0);
  posix_spawn_file_actions_adddup2(&actions, connection, 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  char* const argv[] = {program_.data(), const_cast<char*>("-i"), const_cast<char*>("-f"), config_.data(), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, environ) == 0) {
    std::lock_guard lock(mutex_);
    sessions_.push_back(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace kv::test
