#pragma once
// Inside the window-thread facade: the registered backend and waiting on a
// worker while its own message loop keeps running.
#include <atomic>

namespace kv::platform::ui {
class WindowBackend;
}

namespace kv::platform::ui::detail {

// The backend when one is installed and its application runs, else nullptr.
WindowBackend* RunningBackend();

// Pumps the calling thread's message loop until `done` is set. Whoever sets
// it wakes the loop afterwards (LoopRef::Wake).
void PumpUntil(const std::atomic<bool>& done);

}  // namespace kv::platform::ui::detail
