#include "platform/beep.h"

#include <unistd.h>

#include <mutex>
#include <utility>

namespace kv::platform {
namespace {

std::mutex g_mutex;
BeepSink g_sink;

void RingTerminal() {
  if (::isatty(STDERR_FILENO)) static_cast<void>(::write(STDERR_FILENO, "\a", 1));
}

}  // namespace

void MessageBeep() {
  BeepSink sink;
  {
    std::lock_guard lock(g_mutex);
    sink = g_sink;
  }
  if (sink) sink();
  else RingTerminal();
}

BeepSink SetBeepSink(BeepSink sink) {
  std::lock_guard lock(g_mutex);
  return std::exchange(g_sink, std::move(sink));
}

}  // namespace kv::platform
