#include <stdexcept>

#include "platform/errors.h"
#include "platform/process.h"
#include "platform/text.h"
#include "scheduler/runsync.h"

namespace kv {
namespace {

// The folder of a program named with a path; "" for one found in PATH.
std::string ProgramFolderOf(const std::string& program) {
  const size_t slash = program.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : program.substr(0, slash);
}

}  // namespace

// Commands are written for this system's shell: the line is split into words
// as a POSIX shell splits it (quotes, escapes, no expansion) and started
// without a shell. Nothing of the line is taken for a folder or a switch:
// paths and "/" options reach the program as written.
void TthRunSync::RunCommand(const std::string& commandLine) {
  const std::optional<std::vector<std::string>> words = platform::ShellSplit(commandLine);
  if (!words) {
    throw std::runtime_error("Der Befehl " + platform::Quoted(commandLine) +
                             " kann nicht gestartet werden: ein Anführungszeichen ist nicht geschlossen");
  }
  if (words->empty()) return;
  const std::string& program = words->front();
  if (!platform::ShellOpen(*words, ProgramFolderOf(program))) {
    throw std::runtime_error("Der Befehl " + platform::Quoted(program) +
                             " kann nicht gestartet werden: " + platform::SysErrorMessage(platform::GetLastError()));
  }
}

}  // namespace kv
