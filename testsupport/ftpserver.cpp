#include "testsupport/ftpserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "testsupport/commands.h"

extern char** environ;

namespace kv::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartDeadlineMs = 60'000;
constexpr auto kStopGrace = std::chrono::seconds(10);

const FtpLogin kNamedLogin{"kvtest", "Kv-secret 1"};

std::string ReadFirstLine(int fd, int deadlineMs) {
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    struct pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return line + "(no answer in time)";
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) return line;
    line.push_back(c);
  }
  line.pop_back();
  return line;
}

// True once the process has ended; it stays unreaped (a zombie), so that its
// process group cannot be taken by another process meanwhile.
bool Ended(pid_t pid) {
  siginfo_t info = {};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

}  // namespace

const char* FtpServerKindName(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::Pyftpdlib: return "pyftpdlib";
    case FtpServerKind::Vsftpd: return "vsftpd";
    case FtpServerKind::Proftpd: return "proftpd";
    case FtpServerKind::PureFtpd: return "pure_ftpd";
  }
  return "?";
}

FtpServer::FtpServer(FtpServerKind kind, FtpServerOptions options) : kind_(kind) {
  login_ = options.login.value_or(kind == FtpServerKind::Vsftpd ? kAnonymousFtpLogin : kNamedLogin);
  Start(options);
}

FtpServer::~FtpServer() { Stop(); }

void FtpServer::Start(const FtpServerOptions& options) {
  static const char* const kScriptKinds[] = {"pyftpdlib", "vsftpd", "proftpd", "pure-ftpd"};
  const std::vector<std::string> args = {kPython,
                                         KV_TESTSUPPORT_DIR "/ftpserver.py",
                                         kScriptKinds[static_cast<int>(kind_)],
                                         "--root=" + options.root,
                                         "--workdir=" + work_.Posix(),
                                         "--user=" + login_.user,
                                         "--password=" + login_.password,
                                         "--tools=" KV_FTP_SERVERS_DIR,
                                         "--preload=" KV_NOSLEEP_LIB};
  if (access(kPython, X_OK) != 0) {
    skipReason_ = std::string(kPython) + " is not installed";
    return;
  }
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    error_ = "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group, so that Stop can reach every session it started.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, kPython, &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in[0]);
  close(out[1]);
  control_ = in[1];
  if (rc != 0) {
    pid_ = -1;
    close(out[0]);
    error_ = "cannot start " + std::string(kPython);
    return;
  }
  const std::string line = ReadFirstLine(out[0], kStartDeadlineMs);
  close(out[0]);
  if (line.rfind("PORT ", 0) == 0) {
    const size_t blank = line.find(' ', 5);
    port_ = std::stoi(line.substr(5, blank - 5));
    startFolder_ = blank == std::string::npos ? "/" : line.substr(blank + 1);
    return;
  }
  if (line.rfind("SKIP ", 0) == 0) skipReason_ = std::string(FtpServerKindName(kind_)) + ": " + line.substr(5);
  else error_ = line.empty() ? "the server script ended without a word" : line;
  Stop();
}

std::string FtpServer::RemotePath(std::string_view relative) const {
  std::string path = startFolder_;
  if (relative.empty()) return path;
  if (path.back() != '/') path += '/';
  return path.append(relative);
}

void FtpServer::Stop() {
  port_ = 0;
  if (control_ >= 0) close(control_);  // end of input: the script stops its sessions and ends
  control_ = -1;
  if (pid_ <= 0) return;
  const auto end = std::chrono::steady_clock::now() + kStopGrace;
  while (!Ended(pid_) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(-pid_, SIGKILL);  // the script, when it hangs, and whatever is left of its sessions
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void FtpServer::Signal(int signal) const {
  if (pid_ > 0) kill(-pid_, signal);
}

std::string FtpClientCommand(const FtpServer& server, const std::vector<std::string>& command) {
  std::string line = std::string(kPython) + " " + KV_TESTSUPPORT_DIR "/ftpclient.py";
  for (const std::string& word : {server.host(), std::to_string(server.port()), server.user(), server.password()})
    line += " " + ShellQuote(word);
  for (const std::string& word : command) line += " " + ShellQuote(word);
  return line;
}

std::string RunFtpClient(const FtpServer& server, const std::vector<std::string>& command, int* status) {
  return RunCommand(FtpClientCommand(server, command) + " 2>&1", status);
}

}  // namespace kv::test
