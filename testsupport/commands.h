#pragma once
// Other programs as oracles and tools of a test (python3, getfacl, trash-list).
#include <string>
#include <string_view>

namespace kv::test {

// Runs a command line through /bin/sh and returns what it wrote to standard
// output (add "2>&1" to have the errors too); status, when given, receives the
// exit status or -1 when the command could not run.
std::string RunCommand(const std::string& command, int* status = nullptr);
// Runs a command line that must succeed; a failure fails the test.
void MustRun(const std::string& command);
// One word of such a command line, whatever it holds: it's -> 'it'\''s'.
std::string ShellQuote(std::string_view word);

}  // namespace kv::test
