#pragma once
// Serving the calling thread's message loop in tests that wait for
// asynchronous events (sockets, timers, posted completions).
#include <chrono>
#include <functional>

namespace kv::test {

// A bound on waits that only a broken program reaches.
inline constexpr std::chrono::seconds kEventDeadline{30};

// Serves the loop until done() holds; false when the deadline passed first.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kEventDeadline);
// Serves the loop for a while, to see that nothing more happens.
void PumpFor(std::chrono::milliseconds span);

}  // namespace kv::test
