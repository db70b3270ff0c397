#pragma once
// Helpers of the window-layer tests.
#include <functional>

namespace kv::platform::gui::test {

// True when the test program runs its second, headless pass (no
// QApplication exists).
bool IsHeadlessPass();

// Serves the window thread's events until cond() holds; false when it did
// not within a generous bound (only reached when something is broken).
bool ProcessEventsUntil(const std::function<bool()>& cond);

}  // namespace kv::platform::gui::test
