#pragma once
// Moving the mouse so that it works the same offscreen and on a real X
// server, where the pointer really moves and the move comes back later as
// an event.
#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace kv::test {

// Moves the mouse onto a point of a widget and waits until the widget has
// handled the move.
inline void MoveMouse(QWidget* widget, QPoint point) {
  struct MoveSeen : QObject {
    QPoint point;
    bool seen = false;
    bool eventFilter(QObject*, QEvent* event) override {
      seen |= event->type() == QEvent::MouseMove && static_cast<QMouseEvent*>(event)->position().toPoint() == point;
      return false;
    }
  } watcher;
  watcher.point = point;
  widget->installEventFilter(&watcher);
  if (QCursor::pos() == widget->mapToGlobal(point)) QCursor::setPos(widget->mapToGlobal(point) + QPoint(1, 1));
  QTest::mouseMove(widget, point);
  const QDeadlineTimer deadline(30000);  // a hang guard only
  while (!watcher.seen && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 5);
  widget->removeEventFilter(&watcher);
  ASSERT_TRUE(watcher.seen) << "the move never arrived";
}

}  // namespace kv::test
