#pragma once
// Shared by the file units of the platform layer only.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace kv::platform::detail {

// Attributes as GetFileAttributes gives them; hidden comes from the name.
uint32_t AttributesOf(const struct stat& st, std::string_view name);
FileStatus StatusOf(const struct stat& st, std::string_view name);

// A new file under a system temporary name (IsSystemTempName) in the folder
// dirFd, created exclusively and locked for as long as it is open; -1 with
// errno set on failure.
int CreateSystemTempAt(int dirFd, std::string& name, unsigned mode);
// Removes the file name of the folder dirFd unless a live process holds its
// lock (or it is a link or no regular file). True when it is gone.
bool RemoveUnheldAt(int dirFd, std::string_view name);

// false with errno in the last error.
bool FailErrno();
bool Fail(int err);

}  // namespace kv::platform::detail
