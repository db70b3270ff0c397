#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

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

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

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
  if (argv.empty() || argv[0].empty()) {
    SetLastError(ENOENT);
    return -1;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    SetLastError(errno);
    return -1;
  }
  pid_t pid = 0;
  int rc;
  {
    SpawnSetup setup(fds[0]);
    rc = ::posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(), environ);
  }
  ::close(fds[0]);
  if (rc != 0) {
    ::close(fds[1]);
    SetLastError(rc);
    return -1;
  }
  WriteAllIgnoringReader(fds[1], stdinText);
  ::close(fds[1]);
  return WaitForExit(pid);
}

}  // namespace kv::platform
