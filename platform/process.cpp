#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/errors.h"

extern char** environ;

namespace kv::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Inside double quotes a backslash only escapes these.
bool EscapableInDoubleQuotes(char c) { return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n'; }

// Blocks SIGPIPE on this thread while writing to a child that may already
// have gone, and swallows a SIGPIPE raised meanwhile, so that a helper
// program that ignores its input cannot end this process.
class ScopedSigpipeBlock {
 public:
  ScopedSigpipeBlock() {
    sigemptyset(&pipeOnly_);
    sigaddset(&pipeOnly_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly_, &old_);
  }
  ~ScopedSigpipeBlock() {
    if (!wasPending_) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipeOnly_, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  ScopedSigpipeBlock(const ScopedSigpipeBlock&) = delete;
  ScopedSigpipeBlock& operator=(const ScopedSigpipeBlock&) = delete;

 private:
  sigset_t pipeOnly_;
  sigset_t old_;
  bool wasPending_ = false;
};

void WriteAllIgnoringReader(int fd, std::string_view text) {
  ScopedSigpipeBlock guard;
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the program does not read (any more): its exit status tells the rest
    text.remove_prefix(static_cast<size_t>(n));
  }
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      SetLastError(errno);
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SpawnSetup {
 public:
  explicit SpawnSetup(int stdinFd) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, stdinFd, STDIN_FILENO);
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    sigset_t pipeDefault;
    sigemptyset(&pipeDefault);
    sigaddset(&pipeDefault, SIGPIPE);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &pipeDefault);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attr_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  void AddFlags(short flags) {
    short now = 0;
    posix_spawnattr_getflags(&attr_, &now);
    posix_spawnattr_setflags(&attr_, static_cast<short>(now | flags));
  }
  void OwnProcessGroup() {
    posix_spawnattr_setpgroup(&attr_, 0);
    AddFlags(POSIX_SPAWN_SETPGROUP);
  }
  void ChangeFolder(const std::string& folder) { posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()); }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

// Starts argv[0] (searched in PATH when it holds no "/"); its pid, or -1
// with the reason in GetLastError().
pid_t Spawn(const std::vector<std::string>& argv, const SpawnSetup& setup) {
  if (argv.empty() || argv[0].empty()) {
    SetLastError(ENOENT);
    return -1;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(), environ);
  if (rc != 0) {
    SetLastError(rc);
    return -1;
  }
  return pid;
}

}  // namespace

std::optional<std::vector<std::string>> ShellSplit(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // also true for a word made only of empty quotes
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    char c = line[i];
    if (IsBlank(c)) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    if (c == '\\') {
      if (i + 1 >= n) return std::nullopt;
      if (line[i + 1] != '\n') {
        word += line[i + 1];
        inWord = true;
      }
      i += 2;
      continue;
    }
    if (c == '\'') {
      size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      word.append(line.substr(i + 1, close - i - 1));
      inWord = true;
      i = close + 1;
      continue;
    }
    if (c == '"') {
      inWord = true;
      ++i;
      bool closed = false;
      while (i < n) {
        char d = line[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < n && EscapableInDoubleQuotes(line[i + 1])) {
          if (line[i + 1] != '\n') word += line[i + 1];
          i += 2;
          continue;
        }
        word += d;
        ++i;
      }
      if (!closed) return std::nullopt;
      continue;
    }
    word += c;
    inWord = true;
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

int SpawnWithInput(const std::vector<std::string>& argv, std::string_view stdinText) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    SetLastError(errno);
    return -1;
  }
  const pid_t pid = Spawn(argv, SpawnSetup(fds[0]));
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return -1;
  }
  WriteAllIgnoringReader(fds[1], stdinText);
  ::close(fds[1]);
  return WaitForExit(pid);
}

// --- Programs with a time limit and programs not waited for ------------------------

namespace {

using SteadyClock = std::chrono::steady_clock;

int MillisecondsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000));
}

// False when the deadline passed before everything was written; a reader
// that went away ends the writing as well (its exit status tells the rest).
bool WriteBeforeDeadline(int fd, std::string_view text, SteadyClock::time_point deadline) {
  ScopedSigpipeBlock guard;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return true;
    if (SteadyClock::now() >= deadline) return false;
    pollfd waitable{fd, POLLOUT, 0};
    ::poll(&waitable, 1, MillisecondsLeft(deadline));
  }
  return true;
}

// The exit status, or nullopt when the program had not ended by the deadline.
std::optional<int> WaitBeforeDeadline(pid_t pid, SteadyClock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (got < 0 && errno != EINTR) return -1;
    if (SteadyClock::now() >= deadline) return std::nullopt;
    ::usleep(10000);
  }
}

bool IsDocument(const std::string& path) {
  if (path.find('/') == std::string::npos) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) != 0);
}

// A program named by a relative path means the file seen from this
// process's folder, also when the program runs in another one.
std::vector<std::string> WithAbsoluteProgram(std::vector<std::string> argv) {
  std::string& program = argv.front();
  if (program.find('/') == std::string::npos || program.front() == '/') return argv;
  char here[4096];
  if (::getcwd(here, sizeof here)) program = std::string(here) + "/" + program;
  return argv;
}

}  // namespace

namespace detail {
struct ChildState {
  explicit ChildState(pid_t p) : pid(p) {}
  const pid_t pid;
  std::mutex mutex;
  std::condition_variable endedSignal;
  bool ended = false;
  int exitStatus = -1;
};
}  // namespace detail

LimitedRun SpawnWithInputLimited(const std::vector<std::string>& argv, std::string_view stdinText,
                                 std::chrono::milliseconds limit) {
  LimitedRun run;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    SetLastError(errno);
    return run;
  }
  SpawnSetup setup(fds[0]);
  setup.OwnProcessGroup();
  const pid_t pid = Spawn(argv, setup);
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return run;
  }
  run.started = true;
  const auto deadline = SteadyClock::now() + limit;
  const bool written = WriteBeforeDeadline(fds[1], stdinText, deadline);
  ::close(fds[1]);
  const std::optional<int> status = written ? WaitBeforeDeadline(pid, deadline) : std::nullopt;
  if (status) {
    run.exitStatus = *status;
    return run;
  }
  run.timedOut = true;
  ::kill(-pid, SIGKILL);
  WaitForExit(pid);
  return run;
}

pid_t StartedProcess::Pid() const { return state_->pid; }

bool StartedProcess::WaitForExit(int timeoutMs) const {
  std::unique_lock lock(state_->mutex);
  if (timeoutMs < 0) {
    state_->endedSignal.wait(lock, [&] { return state_->ended; });
    return true;
  }
  return state_->endedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state_->ended; });
}

int StartedProcess::ExitStatus() const {
  std::lock_guard lock(state_->mutex);
  return state_->ended ? state_->exitStatus : -1;
}

std::optional<StartedProcess> StartProcess(const std::vector<std::string>& argv, const std::string& workingFolder) {
  const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devNull < 0) {
    SetLastError(errno);
    return std::nullopt;
  }
  SpawnSetup setup(devNull);
  setup.AddFlags(POSIX_SPAWN_SETSID);
  if (!workingFolder.empty()) setup.ChangeFolder(workingFolder);
  const pid_t pid = argv.empty() ? Spawn(argv, setup) : Spawn(WithAbsoluteProgram(argv), setup);
  ::close(devNull);
  if (pid < 0) return std::nullopt;
  auto state = std::make_shared<detail::ChildState>(pid);
  // The reaper: the program must never stay a zombie, waited for or not.
  std::thread([state] {
    const int status = WaitForExit(state->pid);
    std::lock_guard lock(state->mutex);
    state->ended = true;
    state->exitStatus = status;
    state->endedSignal.notify_all();
  }).detach();
  return StartedProcess(std::move(state));
}

std::optional<StartedProcess> ShellOpen(const std::vector<std::string>& argv, const std::string& workingFolder) {
  if (!argv.empty() && IsDocument(argv[0])) {
    return StartProcess({"xdg-open", WithAbsoluteProgram({argv[0]}).front()}, workingFolder);
  }
  return StartProcess(argv, workingFolder);
}

}  // namespace kv::platform
