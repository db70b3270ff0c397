#include "platform/gui/screencursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace kv::platform::gui {

// One value, not a stack: setting it again replaces the shape, and one
// reset removes it whoever set it.
void SetScreenCursor(Qt::CursorShape shape) {
  if (QGuiApplication::overrideCursor() != nullptr)
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  else
    QGuiApplication::setOverrideCursor(QCursor(shape));
}

void ResetScreenCursor() {
  while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
}

Qt::CursorShape ScreenCursor() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
}

}  // namespace kv::platform::gui
