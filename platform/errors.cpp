#include "platform/errors.h"

#include <cstring>

namespace kv::platform {
namespace {

thread_local int lastError = 0;

}  // namespace

int GetLastError() { return lastError; }

void SetLastError(int err) { lastError = err; }

// strerror and strerror_r translate through LC_MESSAGES once the program has
// called setlocale (the window toolkit does), and strerror may share a buffer
// between threads. The untranslated descriptions are constant tables instead.
std::string SysErrorMessage(int err) {
  if (const char* text = strerrordesc_np(err)) return text;
  return "Unknown error " + std::to_string(err);
}

}  // namespace kv::platform
