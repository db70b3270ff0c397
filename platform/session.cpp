#include "platform/session.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/errors.h"
#include "platform/process.h"

namespace kv::platform {
namespace {

int g_writeFd = -1;

void OnSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t n = write(g_writeFd, &byte, 1);
  errno = saved;
}

}  // namespace

SessionSignals::SessionSignals() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    throw std::runtime_error("Keine Pipe für die Signale: " + SysErrorMessage(errno));
  }
  readFd_ = fds[0];
  g_writeFd = fds[1];
  struct sigaction action{};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT}) sigaction(number, &action, nullptr);
}

SessionSignals& SessionSignals::Install() {
  static SessionSignals signals;
  return signals;
}

std::vector<SessionSignal> SessionSignals::Take() {
  std::vector<SessionSignal> taken;
  char bytes[64];
  for (;;) {
    const ssize_t n = read(readFd_, bytes, sizeof bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return taken;
    for (ssize_t i = 0; i < n; ++i) {
      switch (bytes[i]) {
        case SIGUSR1: taken.push_back(SessionSignal::LogOff); break;
        case SIGUSR2: taken.push_back(SessionSignal::Shutdown); break;
        default: taken.push_back(SessionSignal::Terminate); break;
      }
    }
  }
}

std::vector<std::string> SessionExitCommand(SessionExit kind) {
  const char* replacement =
      std::getenv(kind == SessionExit::LogOff ? kLogOffCommandVariable : kPowerOffCommandVariable);
  if (replacement != nullptr && *replacement != '\0') {
    return ShellSplit(replacement).value_or(std::vector<std::string>{});
  }
  if (kind == SessionExit::PowerOff) return {"systemctl", "poweroff"};
  std::vector<std::string> command{"loginctl", "terminate-session"};
  if (const char* session = std::getenv("XDG_SESSION_ID"); session != nullptr && *session != '\0') {
    command.emplace_back(session);
  }
  return command;
}

bool ExitSession(SessionExit kind) {
  const std::vector<std::string> command = SessionExitCommand(kind);
  if (command.empty()) {
    SetLastError(EINVAL);
    return false;
  }
  return StartProcess(command, "").has_value();
}

}  // namespace kv::platform
