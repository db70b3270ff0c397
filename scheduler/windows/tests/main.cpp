// The window tests need the QApplication on the main thread before any test
// runs. They draw offscreen unless QT_QPA_PLATFORM names another platform
// (ctest runs them once more on a real X server).
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gui/qtbackend.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  kv::platform::gui::InstallQtWindowBackend();
  return RUN_ALL_TESTS();
}
