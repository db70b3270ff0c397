#pragma once
// The end of the user's session as the scheduler meets it. The session
// manager's request to end reaches the program as a signal: SIGUSR1 asks to
// log off, SIGUSR2 to shut down; SIGTERM and SIGINT ask the program itself
// to end. The program logs the user off or powers the machine off with a
// command that the environment may replace.
#include <string>
#include <vector>

namespace kv::platform {

enum class SessionSignal { LogOff, Shutdown, Terminate };

// Catches SIGUSR1, SIGUSR2, SIGTERM and SIGINT for the rest of the process
// (once; later calls return the same object). Each arrival is queued on a
// pipe, so the window thread can watch Fd() and Take() them in order.
class SessionSignals {
 public:
  static SessionSignals& Install();
  int Fd() const { return readFd_; }
  // What arrived since the last call; never blocks.
  std::vector<SessionSignal> Take();

 private:
  SessionSignals();
  int readFd_ = -1;
};

enum class SessionExit { LogOff, PowerOff };

inline constexpr char kLogOffCommandVariable[] = "KESTROVANE_LOGOFF_COMMAND";
inline constexpr char kPowerOffCommandVariable[] = "KESTROVANE_POWEROFF_COMMAND";

// The command line that ends the session: the environment's replacement when
// it names one, else "loginctl terminate-session [XDG_SESSION_ID]" or
// "systemctl poweroff".
std::vector<std::string> SessionExitCommand(SessionExit kind);
// Starts that command without waiting; false (reason in GetLastError()) when
// it could not start or the replacement is no command line.
bool ExitSession(SessionExit kind);

}  // namespace kv::platform
