// The window-layer tests need the QApplication on the main thread before
// any test runs. The headless tests run in a second pass of the same
// program without one (see headless_test.cpp).
#include <QApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/gui/qtbackend.h"
#include "platform/gui/tests/guitest.h"

namespace kv::platform::gui::test {

bool IsHeadlessPass() { return std::getenv("KV_GUI_HEADLESS_PASS") != nullptr; }

bool ProcessEventsUntil(const std::function<bool()>& cond) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kv::platform::gui::test

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<QApplication> app;
  if (!kv::platform::gui::test::IsHeadlessPass()) {
    app = std::make_unique<QApplication>(argc, argv);
    // The headless tests belong to the second pass that HeadlessPass.AllPass starts.
    std::string filter = GTEST_FLAG_GET(filter);
    filter += filter.find('-') == std::string::npos ? "-Headless.*" : ":Headless.*";
    GTEST_FLAG_SET(filter, filter);
  }
  kv::platform::gui::InstallQtWindowBackend();
  return RUN_ALL_TESTS();
}
