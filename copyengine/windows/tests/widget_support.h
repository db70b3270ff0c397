#pragma once
// What the window tests share: waiting for the event loop, finding a
// top-level window, and checking labels against a layout table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPoint>

#include <chrono>
#include <functional>
#include <span>
#include <thread>

namespace kv::test {

// Runs the event loop until the condition holds; false after 30 seconds.
inline bool WaitUntil(const std::function<bool()>& cond) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

template <typename Window>
Window* FindTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* found = dynamic_cast<Window*>(w)) return found;
  }
  return nullptr;
}

// A label of a layout at 96 dpi.
struct LabelRow {
  const char* name;
  int left, top;
  const char* text;
  bool bold = false;
  bool shown = true;
};

inline void ExpectLabels(const QWidget& window, std::span<const LabelRow> rows) {
  for (const LabelRow& r : rows) {
    SCOPED_TRACE(r.name);
    const auto* label = window.findChild<QLabel*>(r.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->pos(), QPoint(r.left, r.top));
    EXPECT_EQ(label->text(), QString::fromUtf8(r.text));
    EXPECT_EQ(label->font().bold(), r.bold);
    EXPECT_EQ(!label->isHidden(), r.shown);
  }
}

}  // namespace kv::test
