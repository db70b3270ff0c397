#pragma once
// Starting helper programs. Programs are always started with an argument
// vector, never through a shell, so no text the system passes can be taken
// as shell syntax. Command lines that arrive as one text (configuration,
// profiles) are split into words first, as a POSIX shell would split them.
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

}  // namespace kv::platform
