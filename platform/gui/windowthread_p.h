#pragma once
// Waiting on a worker while its own message loop keeps running.
#include <atomic>

namespace kv::platform::gui::detail {

// Pumps the calling thread's message loop until `done` is set. Whoever sets
// it wakes the loop afterwards (LoopRef::Wake).
void PumpUntil(const std::atomic<bool>& done);

}  // namespace kv::platform::gui::detail
