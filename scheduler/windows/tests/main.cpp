// The widget tests need the QApplication on the main thread before any test
// runs; they draw offscreen.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gui/qtbackend.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  kv::platform::gui::InstallQtWindowBackend();
  return RUN_ALL_TESTS();
}
