#pragma once
// Errors of the platform calls. Calls that the system makes the way it made
// the Windows API calls return bool and leave the reason in a per-thread
// "last error" (an errno value); SysErrorMessage turns it into a text.
#include <string>

namespace kv::platform {

int GetLastError();
void SetLastError(int err);
// A readable text for an errno value: the C library's English description
// ("No such file or directory"), "Unknown error N" for other numbers. Never
// depends on the locale; safe from any thread.
std::string SysErrorMessage(int err);

}  // namespace kv::platform
