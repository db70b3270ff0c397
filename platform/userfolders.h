#pragma once
// The user's own folders, named by the freedesktop.org base-directory rules.
#include <string>
#include <string_view>

namespace kv::platform {

// $HOME when it is absolute, else the home folder of the password database;
// "" when neither names one. A POSIX path.
std::string HomeFolder();
// The folder an XDG variable names ("XDG_CACHE_HOME") when it holds an
// absolute path, else homeRelative (".cache") below the home folder; without
// a trailing "/"; "" when there is no home folder either. A POSIX path.
std::string XdgBaseFolder(const char* variable, std::string_view homeRelative);

// "The Windows folder" as the system names it: $XDG_CACHE_HOME/kestrovane
// (~/.cache/kestrovane), as a Windows path without a trailing "\". Read on
// every call, so it follows the process's environment; not created here.
// "" when no folder can be named.
std::string GetWindowsDirectory();

}  // namespace kv::platform
