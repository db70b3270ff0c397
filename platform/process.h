#pragma once
// Starting helper programs. Programs are always started with an argument
// vector, never through a shell, so no text the system passes can be taken
// as shell syntax. Command lines that arrive as one text (configuration,
// profiles) are split into words first, as a POSIX shell would split them.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// Splits a command line into words as a POSIX shell does, without any
// expansion: blanks, tabs and line ends separate words; '...' keeps every
// character; "..." keeps every character but \ before $ ` " \ and a line end;
// an unquoted \ takes the next character literally; \ + line end joins lines.
// $, `, *, ~ and # are ordinary characters. nullopt for an unclosed quote or
// a trailing lone backslash.
std::optional<std::vector<std::string>> ShellSplit(std::string_view commandLine);

// Starts argv[0] (searched in PATH when it holds no "/") with the arguments,
// writes stdinText to its standard input, closes it, and waits for the end.
// Standard output and error are those of this process. Returns the exit
// status (0..255); -1 when the program could not be started or ended by a
// signal (GetLastError() says why when it could not be started). Meant for
// small inputs such as credentials: the whole text is written before the
// program's end is awaited.
int SpawnWithInput(const std::vector<std::string>& argv, std::string_view stdinText);

// How a program given a time limit ended.
struct LimitedRun {
  bool started = false;  // false: GetLastError() says why
  bool timedOut = false;  // the limit was hit and the program killed
  int exitStatus = -1;    // 0..255; -1 when it did not end by itself
};

// Like SpawnWithInput, but the program gets at most `limit` to read its
// input and end; then it is killed together with every process it started
// (it runs in a process group of its own). A program that stops reading
// cannot hold the caller: the input is written without blocking.
LimitedRun SpawnWithInputLimited(const std::vector<std::string>& argv, std::string_view stdinText,
                                 std::chrono::milliseconds limit);

namespace detail {
struct ChildState;
}

// A program started without waiting for it. Every such program is reaped
// when it ends, whether anybody waits for it or not, so none is left a
// zombie; the handle may outlive the program and be copied freely.
class StartedProcess {
 public:
  explicit StartedProcess(std::shared_ptr<detail::ChildState> state) : state_(std::move(state)) {}
  pid_t Pid() const;
  // Waits at most timeoutMs (negative: without limit); true once it ended.
  bool WaitForExit(int timeoutMs) const;
  // 0..255 after a normal end; -1 while it runs or when a signal ended it.
  int ExitStatus() const;

 private:
  std::shared_ptr<detail::ChildState> state_;
};

// Starts argv[0] (searched in PATH when it holds no "/") without waiting:
// standard input from /dev/null, in a session of its own, in workingFolder
// (a POSIX folder; "" keeps this process's). nullopt when it could not be
// started, with the reason in GetLastError(): a missing program or working
// folder, a file that is no program, no permission.
std::optional<StartedProcess> StartProcess(const std::vector<std::string>& argv, const std::string& workingFolder);

// The shell's "open" for a command: a program is started as StartProcess
// does; a document or a folder named by argv[0] (a path that is no
// executable file) is handed to "xdg-open", which opens it with the
// desktop's application for it.
std::optional<StartedProcess> ShellOpen(const std::vector<std::string>& argv, const std::string& workingFolder);

}  // namespace kv::platform
