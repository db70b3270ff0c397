#pragma once
// Helpers of the window-layer tests.
#include <gtest/gtest.h>

#include <functional>

namespace kv::platform::gui::test {

// True when the test program runs its second, headless pass (no
// QApplication exists).
bool IsHeadlessPass();

// Serves the window thread's events until cond() holds; false when it did
// not within a generous bound (only reached when something is broken).
bool ProcessEventsUntil(const std::function<bool()>& cond);

// Tests that need the QApplication; the headless pass leaves them out.
class WithApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    if (IsHeadlessPass()) GTEST_SKIP() << "needs the QApplication";
  }
};

}  // namespace kv::platform::gui::test
