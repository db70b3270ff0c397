#pragma once
// Debian's ftp-proxy on 127.0.0.1, for tests of proxy logins: a client
// logs in to it as "USER user@host:port" and it relays the session to that
// server. It runs in its one-connection mode: the fixture accepts each
// connection on a port the kernel picks and starts the proxy with the
// connection as its standard input and output. The program is unpacked
// into the build tree by scripts/unpack-ftp-proxy.sh; without it the
// fixture skips with a message.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/temptree.h"

namespace kv::test {

class FtpProxy {
 public:
  FtpProxy();
  ~FtpProxy();
  FtpProxy(const FtpProxy&) = delete;
  FtpProxy& operator=(const FtpProxy&) = delete;

  bool skipped() const { return !skipReason_.empty(); }
  const std::string& skipReason() const { return skipReason_; }
  uint16_t port() const { return port_; }
  // What the proxy logged (for failure messages).
  std::string Log() const;

 private:
  void Serve();
  void StartSession(int connection);

  TempTree work_;
  std::string program_;
  std::string config_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::string skipReason_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<pid_t> sessions_;
  std::thread thread_;
};

}  // namespace kv::test
