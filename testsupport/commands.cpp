#include "testsupport/commands.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace kv::test {

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
  const int rc = pclose(p);
  if (status) *status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

void MustRun(const std::string& command) { EXPECT_EQ(system(command.c_str()), 0) << command; }

std::string ShellQuote(std::string_view word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace kv::test
