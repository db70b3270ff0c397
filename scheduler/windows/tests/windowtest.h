#pragma once
// What the window tests share: moving the mouse so that it works the same
// offscreen and on a real X server.
#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace kv::test {

// Records that a widget has seen the mouse arrive at a point.
class MoveSeen : public QObject {
 public:
  MoveSeen(QWidget* widget, QPoint point) : point_(point) { widget->installEventFilter(this); }
  bool seen = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseMove && static_cast<QMouseEvent*>(event)->position().toPoint() == point_)
      seen = true;
    return false;
  }

 private:
  QPoint point_;
};

// Moves the mouse onto a point of a widget and waits until the widget has
// handled the move. On a real X server the pointer really moves and the
// move comes back later as an event.
inline void MoveMouse(QWidget* widget, QPoint point) {
  MoveSeen watcher(widget, point);
  if (QCursor::pos() == widget->mapToGlobal(point)) QCursor::setPos(widget->mapToGlobal(point) + QPoint(1, 1));
  QTest::mouseMove(widget, point);
  const QDeadlineTimer deadline(30000);  // a hang guard only
  while (!watcher.seen && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 5);
  ASSERT_TRUE(watcher.seen) << "the move never arrived";
}

}  // namespace kv::test
