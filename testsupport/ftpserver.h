#pragma once
// Real FTP servers for tests, on 127.0.0.1 at a port the kernel picks.
//
//   test::TempTree tree;
//   tree.Write("srv/a.txt", "hello");
//   test::FtpServer server(test::FtpServerKind::Proftpd, {.root = tree.Posix("srv")});
//   if (server.skipped()) GTEST_SKIP() << server.skipReason();
//   ASSERT_TRUE(server.running()) << server.error();
//   // connect to server.host() : server.port(), log in as server.user() with
//   // server.password(); the root folder is server.RemotePath("") on the
//   // server, "srv/sub" is server.RemotePath("sub").
//
// KV_START_FTP_SERVER(server, kind, options) does those three lines in one.
// RunFtpClient talks to a server through Python's ftplib, as an oracle.
// Tests that should run against every server are parameterised over
// kFtpServerKinds (FtpServerKindName gives readable test names).
//
// The kinds:
// - pyftpdlib: Debian's python3-pyftpdlib under /usr/bin/python3; a named user
//   or anonymous; the root folder is "/".
// - vsftpd: the installed daemon, run as the launching user; anonymous only,
//   writable; it cannot confine the login to the root folder, so paths on
//   the server are the folder's real path (use RemotePath).
// - proftpd: proftpd-core unpacked into the build tree (its Debian package
//   conflicts with vsftpd, see scripts/unpack-ftp-servers.sh); a named user
//   from its own password file with the tester's uid (root logins allowed);
//   the root folder is "/" when the tests run as root.
// - pure-ftpd: unpacked like proftpd; a named virtual user served as uid
//   65534, which needs root (otherwise the test skips). The fixture hands
//   the root tree to uid 65534 so that the user may write there; folders a
//   test makes later belong to the test's user.
// Every kind: failed logins are answered at once, listings show UTC times,
// passive and active data connections work, several sessions at a time.
//
// Configuration and logs live in a temporary folder of the fixture. A kind
// whose program cannot be had here is skipped with a message saying why;
// any other failure to start is an error that carries the server's logs.
// The server and every session it started are killed when the fixture is
// destroyed (also when a test fails), and they end by themselves when the
// test process dies.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testsupport/temptree.h"

namespace kv::test {

enum class FtpServerKind { Pyftpdlib, Vsftpd, Proftpd, PureFtpd };
inline constexpr FtpServerKind kFtpServerKinds[] = {FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd,
                                                    FtpServerKind::Proftpd, FtpServerKind::PureFtpd};
// "pyftpdlib", "vsftpd", "proftpd", "pure_ftpd" (usable as a test name).
const char* FtpServerKindName(FtpServerKind kind);

struct FtpLogin {
  std::string user;
  std::string password;
};
inline const FtpLogin kAnonymousFtpLogin{"anonymous", "kvtest@example.org"};

struct FtpServerOptions {
  std::string root;  // POSIX folder that the login starts in
  // nullopt: the kind's own (anonymous for vsftpd, a named user otherwise).
  std::optional<FtpLogin> login;
};

class FtpServer {
 public:
  FtpServer(FtpServerKind kind, FtpServerOptions options);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  bool running() const { return port_ > 0; }
  bool skipped() const { return !skipReason_.empty(); }
  const std::string& skipReason() const { return skipReason_; }
  const std::string& error() const { return error_; }

  FtpServerKind kind() const { return kind_; }
  std::string host() const { return "127.0.0.1"; }
  int port() const { return port_; }
  const std::string& user() const { return login_.user; }
  const std::string& password() const { return login_.password; }
  // The server's path of a path below the root folder ("" is the root).
  std::string RemotePath(std::string_view relative) const;

  // Configuration and logs of this server.
  std::string workFolder() const { return work_.Posix(); }

  // Stops the server and every session; the port refuses connections after.
  void Stop();
  // Sends a signal to the server and every session (SIGSTOP, SIGCONT).
  void Signal(int signal) const;

 private:
  void Start(const FtpServerOptions& options);

  FtpServerKind kind_;
  FtpLogin login_;
  TempTree work_;
  pid_t pid_ = -1;
  int control_ = -1;  // write end of the server's standard input
  int port_ = 0;
  std::string startFolder_;
  std::string skipReason_;
  std::string error_;
};

// Python's ftplib as an independent client (testsupport/ftpclient.py): logs
// in to the server and runs one command: {"pwd"}, {"list", folder},
// {"put", local, remote}, {"get", remote, local} or {"hold"}. The command
// line runs it; RunFtpClient returns what it printed (with its errors) and
// its exit status.
std::string FtpClientCommand(const FtpServer& server, const std::vector<std::string>& command);
std::string RunFtpClient(const FtpServer& server, const std::vector<std::string>& command, int* status = nullptr);

}  // namespace kv::test

#define KV_START_FTP_SERVER(var, kind, ...)                         \
  ::kv::test::FtpServer var(kind, __VA_ARGS__);                     \
  if (var.skipped()) GTEST_SKIP() << var.skipReason();              \
  ASSERT_TRUE(var.running()) << ::kv::test::FtpServerKindName(kind) \
                             << ": " << var.error()
